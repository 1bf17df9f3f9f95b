#pragma once

#include <chrono>
#include <thread>

// Makes SIGTERM, SIGINT and SIGHUP end the application as a close does, whatever it is
// doing (the splash, a run, a message box, the preview): a thread of its own waits for
// them, so they are seen while the user-interface thread is busy. On a signal the offices
// are killed at once (which frees every call waiting for them), ApplicationEnding becomes
// true and the event loop is told to end; the application's own teardown then removes its
// leftovers. Should the teardown not be over within grace, the thread removes them itself
// and ends the process. At most one exists at a time, made in main after the application
// object.
class TerminationWatch {
public:
    explicit TerminationWatch(std::chrono::milliseconds grace = std::chrono::milliseconds(1500));
    // Ends the watch; after a signal, this tells the thread that the teardown is over.
    ~TerminationWatch();
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

private:
    void Watch();

    std::chrono::milliseconds mGrace;
    std::thread mThread;
};

// Makes a write into a pipe whose reader has gone fail with EPIPE instead of ending the
// process with SIGPIPE. The office bridge writes into the pipes of offices that may have
// just ended; such a write must be an error that a step reports, not the end of the program.
void IgnoreBrokenPipes();
