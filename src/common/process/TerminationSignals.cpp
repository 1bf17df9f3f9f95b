#include "TerminationSignals.h"

#include "ProcessGroups.h"
#include "files/Leftovers.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The handler writes the signal's number to [1]; the watch reads it from [0]. A 0 byte
// ends the watch. Neither end blocks: a handler must never wait, whatever thread it
// interrupted holds.
int signalPipe[2] = {-1, -1};
constexpr int EndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

void NoteSignal(int signal)
{
    // Only async-signal-safe work here: the watch does the rest. A byte that finds the pipe
    // full is dropped, as the watch has plenty to read already; the interrupted code finds
    // errno as it left it.
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// Writes the byte that ends the watch, waiting while the pipe is full.
void SendEnd()
{
    const char end = 0;
    for (;;) {
        if (::write(signalPipe[1], &end, 1) == 1 || (errno != EAGAIN && errno != EINTR))
            return;
        pollfd writable{signalPipe[1], POLLOUT, 0};
        ::poll(&writable, 1, -1);
    }
}

// The next byte from the handler or the destructor, or -1 when none came within timeout
// milliseconds (-1: wait for ever).
int NextByte(int timeout)
{
    for (;;) {
        pollfd ready{signalPipe[0], POLLIN, 0};
        const int polled = ::poll(&ready, 1, timeout);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return -1;
        char byte = 0;
        const ssize_t got = ::read(signalPipe[0], &byte, 1);
        if (got == 1)
            return byte;
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return -1;
    }
}

// Whether the destructor said, within time, that the teardown is over; other signals that
// come meanwhile change nothing.
bool TeardownOverWithin(std::chrono::milliseconds time)
{
    const auto deadline = std::chrono::steady_clock::now() + time;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int byte = NextByte(static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
        if (byte == 0)
            return true;
        if (byte < 0)
            return false;
    }
}
}

TerminationWatch::TerminationWatch(std::stop_source ending, Response response, std::chrono::milliseconds grace)
    : mEnding(std::move(ending)), mResponse(std::move(response)), mGrace(grace)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    mThread = std::thread([this] { Watch(); });
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : EndingSignals)
        ::sigaction(signal, &action, nullptr);
}

TerminationWatch::~TerminationWatch()
{
    if (!mThread.joinable())
        return;
    for (const int signal : EndingSignals)
        std::signal(signal, SIG_DFL);
    SendEnd();
    mThread.join();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void TerminationWatch::Watch()
{
    const int byte = NextByte(-1);
    if (byte <= 0)
        return;

    if (mResponse.stop)
        mResponse.stop();
    if (TeardownOverWithin(mResponse.patience))
        return;
    mEnding.request_stop();
    EndProcessGroups();
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    if (TeardownOverWithin(mGrace))
        return;
    EndAtOnce();
    ::_exit(mResponse.exitStatus);
}

void EndAtOnce()
{
    EndProcessGroups();
    AwaitProcessGroupsEnd(std::chrono::seconds(1));
    RemoveLeftovers();
}

void IgnoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}
