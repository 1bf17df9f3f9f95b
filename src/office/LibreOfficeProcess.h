#pragma once

#include "OfficeSandbox.h"
#include "files/FileDescriptor.h"
#include "files/Leftovers.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>
#include <sys/types.h>

// How every description of a failed office start begins.
inline constexpr char OfficeStartFailure[] = "The office engine (LibreOffice) could not be started: ";

// Throws AppError: OfficeStartFailure followed by reason.
[[noreturn]] void FailToStart(const QString& reason);

// The program folder of the office installation (the folder that holds soffice.bin and
// fundamentalrc): the variable UNO_PATH when set, else the folder that the soffice found
// on PATH leads to once its symbolic links are resolved. Throws AppError when there is none.
QString FindOfficeProgramFolder();

// One headless office process of the application's own. It runs soffice.bin directly, so
// that it is a child of this process: it gets its own process group, and a parent-death
// signal ends it should this process die without quitting it. It works in a fresh private
// folder (its user profile, its log and any files exported for the application) that is
// removed with this object, and accepts UNO connections on a pipe with an unguessable name.
// A watchdog thread of its own ends the office when a call into it takes too long (an
// office that hangs never holds up the application for longer than the limit of the call),
// and reaps the office as soon as it ends, however it ends: none is left a zombie.
class OfficeProcess {
public:
    // Starts the office, with its private folder in folder, which must be private to the
    // user (the folder of the working files, when empty), in the sandbox where asked and
    // allowed; throws AppError when it cannot be started at all.
    OfficeProcess(const QString& programFolder, const QString& folder, OfficeSandboxing sandboxing);
    // Kills the office if it still runs (the whole process group), reaps it, and removes
    // the sockets of its pipes that an office which did not end by itself leaves behind.
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    // A socket connected to the office's pipe, which accepts UNO connections to its
    // component context; an invalid descriptor while the office does not listen yet. The
    // socket must be the user's own, and so must the process behind it: throws AppError
    // naming what stands there otherwise, and nothing is sent to it.
    FileDescriptor Connect() const;
    // Whether the office runs in the sandbox.
    bool Sandboxed() const { return mSandboxed; }
    // The private folder, for files the application exchanges with the office.
    QString WorkFolder() const { return mFolder.Path(); }

    // Reaps the office when it has ended; false once it has.
    bool Running();
    // Starts the office again when it ended asking for that, as soffice.bin does once
    // after making a fresh profile (its launcher script would otherwise do it); a few
    // times at most. True when it was started again.
    bool RestartIfAsked();
    // What the office wrote to its error output and how it ended, for a failure description.
    QString ExitDescription() const;
    // Runs askToEnd (errors are ignored) and waits for the office to end; when it has not
    // ended within grace, its process group is killed, which also frees a call of askToEnd
    // that an office no longer answering would leave waiting. Returns once it is reaped.
    void EndWithin(std::chrono::milliseconds grace, const std::function<void()>& askToEnd);

    // Kills the office's process group unless Disarm comes within limit. A call waiting for
    // the office then fails, as the connection closes with the process.
    void Arm(std::chrono::milliseconds limit);
    void Disarm();
    // True once the watchdog has killed the office, and the limit that the call exceeded.
    bool TimedOut() const;
    std::chrono::milliseconds TimedOutLimit() const;

    // Arms the watchdog for the lifetime of the object.
    class Deadline {
    public:
        Deadline(OfficeProcess& process, std::chrono::milliseconds limit) : mProcess(process) { mProcess.Arm(limit); }
        ~Deadline() { mProcess.Disarm(); }
        Deadline(const Deadline&) = delete;
        Deadline& operator=(const Deadline&) = delete;

    private:
        OfficeProcess& mProcess;
    };

private:
    void Launch();
    void Kill();
    // The sockets the office makes for its pipes, wherever it may put them.
    QStringList PipePaths() const;
    // Throws AppError when another user holds one of those sockets.
    void RefuseForeignPipes() const;
    void RemovePipes();
    // Reaps the process when it has exited; true when it is gone.
    bool HasExited();
    bool HasExitedLocked();
    // Clears the process group of the exited process and reaps it; the watchdog never
    // signals its id afterwards. The watch mutex must be held by these.
    void ReapLocked();
    void MarkReapedLocked();
    // The watchdog: kills the office at the deadline, and reaps it as soon as it ends.
    void Watch();
    // Wakes the watchdog to look at its deadline and the process again.
    void WakeWatchdog();

    LeftoverFolder mFolder;
    std::vector<QByteArray> mArguments;
    std::vector<QByteArray> mEnvironment;
    int mRestarts = 0;
    bool mSandboxed = false;
    // Where the office makes its pipes: /tmp as it sees it.
    QString mPipeFolder;
    QString mPipeName;
    QString mProfileUrl;
    QStringList mPipes;
    pid_t mPid = -1;
    int mStatus = 0;
    bool mReaped = false;

    // The watchdog's state, guarded by mWatchMutex, and its thread. It waits on a
    // descriptor of the process, which becomes readable when the process ends, and on an
    // event descriptor that wakes it.
    mutable std::mutex mWatchMutex;
    std::condition_variable mEnded;
    FileDescriptor mWake;
    std::optional<FileDescriptor> mPidFd;
    // Counts the launches, so that the watchdog never takes the end of an earlier one
    // for the end of the current one.
    int mLaunches = 0;
    std::optional<std::chrono::steady_clock::time_point> mDeadline;
    std::chrono::milliseconds mArmedLimit {0};
    std::chrono::milliseconds mTimedOutLimit {0};
    bool mTimedOut = false;
    bool mWatchStopping = false;
    std::thread mWatchdog;
};
