#include "RunLock.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

QString RunLockPath()
{
    // Without XDG_RUNTIME_DIR Qt would fall back on a folder in the shared /tmp.
    const QString folder = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
        ? QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Kestrelworks")
        : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return QString();
    return QDir(folder).filePath(QStringLiteral("Inkhaven-run.lock"));
}

RunLock::RunLock(std::chrono::milliseconds wait)
{
    const QString path = RunLockPath();
    if (path.isEmpty())
        return;
    mLock = std::make_unique<QLockFile>(path);
    // A run may wait for its user as long as an error report stays open; only a holder
    // that has ended makes a lock stale, never its age.
    mLock->setStaleLockTime(0);
    // Held or not, the run goes on; the lock is given back with mLock only when held.
    mLock->tryLock(wait);
}

RunLock::~RunLock() = default;
