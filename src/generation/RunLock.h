#pragma once

#include <QString>

#include <chrono>
#include <memory>

class QLockFile;

// How long a run waits for another instance's run to end before it goes on without the lock.
inline constexpr std::chrono::milliseconds RunLockWait = std::chrono::seconds(20);

// Every instance of the application that one user starts works with the same files
// "template.dot" and "temp.bmp" in TEMP. A run holds this lock from its start to its end,
// so that the runs of two instances follow one another instead of overwriting or deleting
// each other's working files. The lock is a file in a folder of the user's own, held
// with an operating-system lock as well, so a lock left by an instance that died is taken
// over at once.
class RunLock {
public:
    // Waits at most wait for the lock. A run that cannot have it in that time (another
    // instance is waiting for its user, say) or at all (there is no folder for the lock)
    // goes on without it.
    explicit RunLock(std::chrono::milliseconds wait);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

private:
    std::unique_ptr<QLockFile> mLock;
};

// The lock file: in the user's runtime folder (XDG_RUNTIME_DIR) when there is one, else in
// the user's cache folder; empty when no such folder can be had.
QString RunLockPath();
