#pragma once

#include <chrono>
#include <functional>
#include <stop_token>
#include <thread>

// Makes SIGTERM, SIGINT and SIGHUP end the application as a close does, whatever it is
// doing (the splash, a run, a message box, the preview): a thread of its own waits for
// them, so they are seen while the user-interface thread is busy. On a signal, stop is
// requested on the application's ending (whose tokens the procedures, dialogs and windows
// were given), the offices are killed at once (which frees every call waiting for them)
// and the event loop is told to end; the application's own teardown then removes its
// leftovers. Should the teardown not be over within grace, the thread ends the application
// itself (EndAtOnce). The handlers only write to a pipe that never blocks, and leave errno
// as they found it. At most one exists at a time, made in main after the application
// object.
class TerminationWatch {
public:
    // A program that winds down in its own way first (the batch finishes the letters under
    // way) says so at the first signal.
    struct Response {
        // Called on the watch's thread at the first signal.
        std::function<void()> stop;
        // How long the program may take to end by itself before its offices are killed.
        std::chrono::milliseconds patience{0};
        // The exit status when the watch ends the process itself.
        int exitStatus = 0;
    };

    explicit TerminationWatch(std::stop_source ending)
        : TerminationWatch(std::move(ending), Response{})
    {
    }
    TerminationWatch(std::stop_source ending, Response response,
                     std::chrono::milliseconds grace = std::chrono::milliseconds(1500));
    // Ends the watch; after a signal, this tells the thread that the teardown is over.
    ~TerminationWatch();
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

private:
    void Watch();

    std::stop_source mEnding;
    Response mResponse;
    std::chrono::milliseconds mGrace;
    std::thread mThread;
};

// Makes a write into a pipe whose reader has gone fail with EPIPE instead of ending the
// process with SIGPIPE. The office bridge writes into the pipes of offices that may have
// just ended; such a write must be an error that a step reports, not the end of the program.
void IgnoreBrokenPipes();

// The application ends now, past its own teardown: its offices are killed and, once they are
// gone (a second at most), what it leaves on disk is removed.
void EndAtOnce();
