#include "LibreOfficeProcess.h"

#include "core/AppError.h"
#include "files/FileDescriptor.h"
#include "files/Leftovers.h"
#include "files/Paths.h"
#include "files/SafeFile.h"
#include "process/ProcessGroups.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char ProgramName[] = "soffice.bin";
// The exit code by which soffice.bin asks its launcher to start it again.
constexpr int RestartRequest = 81;
constexpr int MaxRestarts = 3;
// The address space an office may take: several times what a long letter needs.
constexpr rlim_t OfficeMemoryLimit = rlim_t(4) << 30;

bool IsOfficeProgramFolder(const QString& folder)
{
    const QFileInfo program(QDir(folder).filePath(QLatin1String(ProgramName)));
    return program.isFile() && program.isExecutable();
}

QString RandomPipeName()
{
    QString name = QStringLiteral("inkhaven-");
    for (int i = 0; i < 4; ++i)
        name += QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, QLatin1Char('0'));
    return name;
}

// Why an office is not started, or not reached: another user holds one of its pipes.
QString ForeignSocket(const QString& path, uid_t owner)
{
    return QStringLiteral("\"%1\", where it listens for this application, is held by another user (uid %2). "
                          "Nothing was sent to it; ask the administrator about that user, or install bubblewrap, "
                          "in whose sandbox the office's pipes are private.")
        .arg(QDir::toNativeSeparators(path))
        .arg(owner);
}

// Makes the folder at path, whose parent must be there already; true when it is there. An
// office's private folder that the ending removed meanwhile is thus never made again.
bool MakeFolderIn(const QString& path)
{
    return QDir().mkdir(path) || QFileInfo(path).isDir();
}

// Settings the fresh profile starts with: no lock files beside the documents (they would
// land in the shared temporary folder, and be left there by an office that had to be
// killed).
void WriteProfileSettings(const QString& profile)
{
    const QString user = QDir(profile).filePath(QStringLiteral("user"));
    QFile settings(QDir(user).filePath(QStringLiteral("registrymodifications.xcu")));
    const QByteArray content =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
        "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseLocking\" oor:op=\"fuse\">"
        "<value>false</value></prop></item>\n"
        "</oor:items>\n";
    if (!MakeFolderIn(profile) || !MakeFolderIn(user) || !settings.open(QIODevice::WriteOnly)
        || settings.write(content) != content.size())
        FailToStart(QStringLiteral("its profile could not be prepared in \"%1\".").arg(QDir::toNativeSeparators(profile)));
}

// A profile that an office has already set up. A fresh profile makes the office set it
// up, exit and ask to be started again, which costs more than half a second; a copy of
// a set-up profile starts at once. It is kept in the user's own cache folder.
QString ProfileSeedFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("Kestrelworks/Inkhaven/office-profile"));
}

bool CopyFolder(const QString& from, const QString& to)
{
    if (!MakeFolderIn(to))
        return false;
    QDirIterator entries(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                         QDirIterator::Subdirectories);
    while (entries.hasNext() && !ProcessGroupsEnded()) {
        const QString path = entries.next();
        const QString target = QDir(to).filePath(QDir(from).relativeFilePath(path));
        const bool copied = entries.fileInfo().isDir() ? MakeFolderIn(target) : QFile::copy(path, target);
        if (!copied)
            return false;
    }
    // Once the offices are ended the application is ending: copying stops, as its folders
    // are about to be removed.
    return !ProcessGroupsEnded();
}

// Fills profile from the seed; false when there is no seed to use.
bool CopyProfileSeed(const QString& profile)
{
    const QString seed = ProfileSeedFolder();
    if (!QFileInfo::exists(QDir(seed).filePath(QStringLiteral("user/registrymodifications.xcu"))))
        return false;
    if (CopyFolder(seed, profile))
        return true;
    QDir(profile).removeRecursively();
    return false;
}

// Keeps a profile the office has just set up as the seed of later ones, unless another
// office was quicker. The copy is made beside the seed and renamed into place, so a seed
// is always whole.
void KeepProfileSeed(const QString& profile)
{
    const QString seed = ProfileSeedFolder();
    if (QFileInfo::exists(seed) || !QDir().mkpath(QFileInfo(seed).path()))
        return;
    QTemporaryDir staging(seed + QStringLiteral("-XXXXXX"));
    if (!staging.isValid() || !CopyFolder(profile, staging.path()))
        return;
    if (QDir().rename(staging.path(), seed))
        staging.setAutoRemove(false);
}

// Opens a descriptor that the child gets as one of its standard streams; closed on exec
// in this process's other children.
int OpenForChild(const QByteArray& path, int flags)
{
    return ::open(path.constData(), flags | O_CLOEXEC, 0600);
}

}

void FailToStart(const QString& reason)
{
    throw AppError(QLatin1String(OfficeStartFailure) + reason);
}

QString FindOfficeProgramFolder()
{
    const QString unoPath = qEnvironmentVariable("UNO_PATH");
    if (!unoPath.isEmpty()) {
        if (IsOfficeProgramFolder(unoPath))
            return QDir(unoPath).absolutePath();
        FailToStart(QStringLiteral("UNO_PATH names \"%1\", which holds no %2.")
                        .arg(QDir::toNativeSeparators(unoPath), QLatin1String(ProgramName)));
    }
    const QStringList folders = qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& folder : folders) {
        const QFileInfo launcher(QDir(folder).filePath(QStringLiteral("soffice")));
        if (!launcher.isFile() || !launcher.isExecutable())
            continue;
        const QString programFolder = QFileInfo(launcher.canonicalFilePath()).absolutePath();
        if (IsOfficeProgramFolder(programFolder))
            return programFolder;
    }
    FailToStart(QStringLiteral("LibreOffice Writer was not found. Install it (the package libreoffice-writer), or set "
                            "UNO_PATH to its program folder."));
}

OfficeProcess::OfficeProcess(const QString& programFolder, const QString& folder, OfficeSandboxing sandboxing)
    : mFolder(JoinPath(folder.isEmpty() ? WorkingFolder() : folder, QStringLiteral("inkhaven-office-XXXXXX"))),
      mPipeName(RandomPipeName()), mWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (!mFolder.IsValid())
        FailToStart(QStringLiteral("no private folder could be made: %1").arg(mFolder.ErrorString()));
    if (mWake.Get() < 0)
        FailToStart(QString::fromLocal8Bit(std::strerror(errno)));
    if (ProcessGroupsEnded())
        FailToStart(QStringLiteral("the application is ending."));

    const QString profile = QDir(mFolder.Path()).filePath(QStringLiteral("profile"));
    if (!CopyProfileSeed(profile))
        WriteProfileSettings(profile);
    mProfileUrl = QUrl::fromLocalFile(profile).toString(QUrl::FullyEncoded);
    // The office's own temporary files go into the private folder too, so that nothing
    // of it is left in the shared temporary folder even when it has to be killed. In the
    // sandbox that folder is its /tmp, where it makes its pipes.
    const QString officeTemp = QDir(mFolder.Path()).filePath(QStringLiteral("tmp"));
    if (!MakeFolderIn(officeTemp))
        FailToStart(QStringLiteral("no private folder could be made in \"%1\".").arg(mFolder.Path()));
    const SandboxSupport& sandbox = OfficeSandboxSupport();
    mSandboxed = sandboxing == OfficeSandboxing::WhereAllowed && !sandbox.program.isEmpty();
    if (mSandboxed) {
        mPipeFolder = officeTemp;
        mArguments.push_back(QFile::encodeName(sandbox.program));
        const SandboxView view = OfficeSandboxView(mFolder.Path(), programFolder, QDir::homePath());
        for (const QString& argument : SandboxArguments(view))
            mArguments.push_back(QFile::encodeName(argument));
    } else {
        // Where the office puts its pipes without a sandbox: the first shared temporary
        // folder it may write. A pipe name another user holds there is refused before the
        // office starts; a killed office leaves its sockets behind, for the ending or the
        // next start to remove.
        mPipeFolder = ::access("/tmp", W_OK) == 0 ? QStringLiteral("/tmp") : QStringLiteral("/var/tmp");
        mPipes = PipePaths();
        RefuseForeignPipes();
        for (const QString& pipe : std::as_const(mPipes))
            NoteLeftoverSocket(pipe);
    }
    mArguments.insert(mArguments.end(), {
        QFile::encodeName(QDir(programFolder).filePath(QLatin1String(ProgramName))),
        "--headless",
        "--invisible",
        "--norestore",
        "--nologo",
        "--nodefault",
        "--nolockcheck",
        "-env:UserInstallation=" + mProfileUrl.toUtf8(),
        "--accept=pipe,name=" + mPipeName.toUtf8() + ";urp;StarOffice.ComponentContext",
    });
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "TMPDIR=", 7) != 0)
            mEnvironment.emplace_back(*variable);
    mEnvironment.push_back("TMPDIR=" + QFile::encodeName(officeTemp));
    Launch();
    mWatchdog = std::thread([this] { Watch(); });
}

void OfficeProcess::Launch()
{
    const auto pointers = [](const std::vector<QByteArray>& strings) {
        std::vector<char*> list;
        for (const QByteArray& s : strings)
            list.push_back(const_cast<char*>(s.constData()));
        list.push_back(nullptr);
        return list;
    };
    std::vector<char*> argv = pointers(mArguments);
    std::vector<char*> envp = pointers(mEnvironment);

    const FileDescriptor input(OpenForChild("/dev/null", O_RDONLY));
    const FileDescriptor log(OpenForChild(QFile::encodeName(QDir(mFolder.Path()).filePath(QStringLiteral("office.log"))),
                                          O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW));
    if (input.Get() < 0 || log.Get() < 0)
        FailToStart(QString::fromLocal8Bit(std::strerror(errno)));

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec. The parent-death signal
        // comes when the thread that forks ends, so that thread must outlive the office.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        // A document made to take all the machine's memory ends its office, not the machine.
        const rlimit memory {OfficeMemoryLimit, OfficeMemoryLimit};
        ::setrlimit(RLIMIT_AS, &memory);
        // The office keeps the user's umask: what it writes of its own (the letter it saves,
        // the pages it exports, its profile) is private because its folder is, and shared
        // caches it may write outside a sandbox (fonts, extensions) stay as readable as the
        // system made them.
        ::dup2(input.Get(), STDIN_FILENO);
        ::dup2(log.Get(), STDOUT_FILENO);
        ::dup2(log.Get(), STDERR_FILENO);
        ::close_range(3, ~0U, 0);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (pid < 0)
        FailToStart(QString::fromLocal8Bit(std::strerror(errno)));
    // Also set here, so that the group exists whichever of the two runs first.
    ::setpgid(pid, pid);
    NoteProcessGroup(pid);
    // A descriptor of the process, readable once it has ended (the C library's own
    // declaration lacks C linkage here).
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidFd < 0) {
        const int error = errno;
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        FailToStart(QString::fromLocal8Bit(std::strerror(error)));
    }
    {
        const std::lock_guard lock(mWatchMutex);
        mPid = pid;
        mPidFd.emplace(pidFd);
        mReaped = false;
        ++mLaunches;
    }
    WakeWatchdog();
}

bool OfficeProcess::Running()
{
    return !HasExited();
}

bool OfficeProcess::RestartIfAsked()
{
    if (!HasExited() || !WIFEXITED(mStatus) || WEXITSTATUS(mStatus) != RestartRequest || mRestarts >= MaxRestarts)
        return false;
    ++mRestarts;
    KeepProfileSeed(QDir(mFolder.Path()).filePath(QStringLiteral("profile")));
    Launch();
    return true;
}

OfficeProcess::~OfficeProcess()
{
    {
        const std::lock_guard lock(mWatchMutex);
        mWatchStopping = true;
    }
    WakeWatchdog();
    mWatchdog.join();
    Kill();
    RemovePipes();
    mFolder.Remove();
}

void OfficeProcess::RefuseForeignPipes() const
{
    for (const QString& pipe : mPipes) {
        struct stat info {};
        if (::lstat(QFile::encodeName(pipe).constData(), &info) == 0 && info.st_uid != ::geteuid())
            FailToStart(ForeignSocket(pipe, info.st_uid));
    }
}

FileDescriptor OfficeProcess::Connect() const
{
    // Another user's pipe of the office's profile would take the office's start for itself.
    RefuseForeignPipes();
    const QString name = QStringLiteral("OSL_PIPE_%1_%2").arg(::getuid()).arg(mPipeName);
    const QString path = JoinPath(mPipeFolder, name);
    const FileDescriptor folder(::open(QFile::encodeName(mPipeFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0)
        FailToStart(QStringLiteral("its pipe's folder \"%1\" cannot be opened: %2").arg(mPipeFolder, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat info {};
    if (::fstatat(folder.Get(), QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return FileDescriptor(-1);
    if (!S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid())
        FailToStart(ForeignSocket(path, info.st_uid));
    // Reached through the folder already opened, whatever its path is meanwhile, and by a
    // path short enough for a socket address however long the folder's own path is.
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray through = QStringLiteral("/proc/self/fd/%1/%2").arg(folder.Get()).arg(name).toLocal8Bit();
    if (through.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        FailToStart(QStringLiteral("the name of its pipe is too long."));
    std::memcpy(address.sun_path, through.constData(), static_cast<size_t>(through.size()));
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0)
        FailToStart(QString::fromLocal8Bit(std::strerror(errno)));
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return FileDescriptor(-1);
    ucred peer {};
    socklen_t size = sizeof peer;
    if (::getsockopt(socket.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        FailToStart(ForeignSocket(path, peer.uid));
    return socket;
}

bool OfficeProcess::HasExited()
{
    const std::lock_guard lock(mWatchMutex);
    return HasExitedLocked();
}

bool OfficeProcess::HasExitedLocked()
{
    if (mReaped)
        return true;
    // Look without reaping, through the process's own descriptor: while the process is a
    // zombie its id cannot be taken by another process, so its group can still be
    // cleared safely.
    siginfo_t info {};
    if (::waitid(P_PIDFD, static_cast<id_t>(mPidFd->Get()), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
        if (info.si_pid != mPid)
            return false;
        ReapLocked();
    } else if (errno == EINTR) {
        return false;
    } else {
        // Reaped by someone else already (ECHILD): its id may be another's now.
        MarkReapedLocked();
    }
    return true;
}

void OfficeProcess::ReapLocked()
{
    // Forgotten while the id is still this process's: it is never signalled once reaped.
    ForgetProcessGroup(mPid);
    ::kill(-mPid, SIGKILL);
    while (::waitpid(mPid, &mStatus, 0) < 0 && errno == EINTR) {
    }
    MarkReapedLocked();
}

void OfficeProcess::MarkReapedLocked()
{
    ForgetProcessGroup(mPid);
    mReaped = true;
    mDeadline.reset();
    mEnded.notify_all();
}

void OfficeProcess::WakeWatchdog()
{
    const eventfd_t one = 1;
    // The descriptor is non-blocking: a counter that is full has its wake-up pending already.
    [[maybe_unused]] const ssize_t written = ::write(mWake.Get(), &one, sizeof one);
}

void OfficeProcess::Arm(std::chrono::milliseconds limit)
{
    {
        const std::lock_guard lock(mWatchMutex);
        mDeadline = std::chrono::steady_clock::now() + limit;
        mArmedLimit = limit;
    }
    WakeWatchdog();
}

void OfficeProcess::Disarm()
{
    const std::lock_guard lock(mWatchMutex);
    mDeadline.reset();
}

bool OfficeProcess::TimedOut() const
{
    const std::lock_guard lock(mWatchMutex);
    return mTimedOut;
}

std::chrono::milliseconds OfficeProcess::TimedOutLimit() const
{
    const std::lock_guard lock(mWatchMutex);
    return mTimedOutLimit;
}

void OfficeProcess::Watch()
{
    std::unique_lock lock(mWatchMutex);
    while (!mWatchStopping) {
        const int launch = mLaunches;
        pollfd watched[2] = {{mWake.Get(), POLLIN, 0}, {mReaped ? -1 : mPidFd->Get(), POLLIN, 0}};
        int timeout = -1;
        if (mDeadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*mDeadline - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
        }
        lock.unlock();
        ::poll(watched, 2, timeout);
        eventfd_t wakes = 0;
        ::eventfd_read(mWake.Get(), &wakes);
        lock.lock();
        if (launch == mLaunches && (watched[1].revents & (POLLIN | POLLHUP | POLLERR)))
            HasExitedLocked();
        if (mDeadline && std::chrono::steady_clock::now() >= *mDeadline) {
            mDeadline.reset();
            // A process that has been reaped may have passed its id on: it is never signalled.
            if (!mReaped) {
                ::kill(-mPid, SIGKILL);
                mTimedOut = true;
                mTimedOutLimit = mArmedLimit;
            }
        }
    }
}

namespace {
// The machine's caches that every user's office reads: its shared extensions and the font
// cache. An office run as root with a tight umask once left them readable by root alone,
// after which every other user's office ends at its start.
constexpr const char* SharedCaches[] = {"/var/spool/libreoffice", "/var/cache/fontconfig"};

// The first entry of the shared caches this user cannot read (or, a folder, enter); empty
// when there is none.
QString UnreadableSharedCache()
{
    for (const char* cache : SharedCaches) {
        if (!QFileInfo::exists(QLatin1String(cache)))
            continue;
        if (::access(cache, R_OK | X_OK) != 0)
            return QLatin1String(cache);
        QDirIterator entries(QLatin1String(cache), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString path = entries.next();
            if (::access(QFile::encodeName(path).constData(), entries.fileInfo().isDir() ? R_OK | X_OK : R_OK) != 0)
                return path;
        }
    }
    return QString();
}

// The office's own words from its log, without the frames of a backtrace.
QString LogWords(const QString& log)
{
    static const QRegularExpression frame(QStringLiteral("\\(\\+0x[0-9a-f]+\\)|\\[0x[0-9a-f]+\\]|^\\s*#\\d+\\s"));
    QStringList words;
    for (const QString& line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!frame.match(line).hasMatch() && !line.trimmed().isEmpty())
            words << line.trimmed();
    }
    return words.join(QStringLiteral("; "));
}
}

QString OfficeProcess::ExitDescription() const
{
    const std::lock_guard lock(mWatchMutex);
    if (const QString cache = UnreadableSharedCache(); !cache.isEmpty())
        return QStringLiteral("a cache the office shares with every user, \"%1\", is not readable by you; an office run as "
                              "root can leave it so. Ask the administrator to run: chmod -R a+rX %2")
            .arg(QDir::toNativeSeparators(cache), QStringList{QLatin1String(SharedCaches[0]), QLatin1String(SharedCaches[1])}.join(QLatin1Char(' ')));
    QFile log(QDir(mFolder.Path()).filePath(QStringLiteral("office.log")));
    QString text;
    if (log.open(QIODevice::ReadOnly)) {
        const qint64 size = log.size();
        log.seek(std::max<qint64>(0, size - 2000));
        const QString words = LogWords(QString::fromLocal8Bit(log.readAll()));
        text = words.contains(QLatin1String("bad_alloc"))
                   ? QStringLiteral("it ran out of the %1 GB of memory an office may use: the document is too large for it")
                         .arg(OfficeMemoryLimit >> 30)
                   : words.right(600);
    }
    QString end;
    if (mReaped && WIFEXITED(mStatus))
        end = WEXITSTATUS(mStatus) == 127 ? QStringLiteral("%1 could not be run").arg(QLatin1String(ProgramName))
                                           : QStringLiteral("it ended with exit code %1").arg(WEXITSTATUS(mStatus));
    else if (mReaped && WIFSIGNALED(mStatus))
        end = QStringLiteral("it was ended by signal %1").arg(WTERMSIG(mStatus));
    if (text.isEmpty())
        return end;
    return end.isEmpty() ? text : end + QStringLiteral(" (") + text + QLatin1Char(')');
}

void OfficeProcess::EndWithin(std::chrono::milliseconds grace, const std::function<void()>& askToEnd)
{
    if (!Running())
        return;
    const Deadline deadline(*this, grace);
    try {
        askToEnd();
    } catch (...) {
        // Whatever the office answered, it is ended all the same.
    }
    // The watchdog reaps the office once it has ended, by itself or killed at the deadline.
    std::unique_lock lock(mWatchMutex);
    mEnded.wait(lock, [this] { return mReaped; });
}

void OfficeProcess::Kill()
{
    const std::lock_guard lock(mWatchMutex);
    if (HasExitedLocked())
        return;
    ::kill(-mPid, SIGKILL);
    ::kill(mPid, SIGKILL);
    ReapLocked();
}

QStringList OfficeProcess::PipePaths() const
{
    // The office names its pipes after the connection's pipe name and after its profile
    // (the MD5 of the profile's URL in UTF-16, its bytes in hexadecimal without padding).
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char*>(mProfileUrl.utf16()), mProfileUrl.size() * 2), QCryptographicHash::Md5);
    QString profileHash;
    for (const char byte : digest)
        profileHash += QString::number(static_cast<unsigned char>(byte), 16);
    const QString prefix = QStringLiteral("OSL_PIPE_%1_").arg(::getuid());
    QStringList paths;
    for (const char* folder : {"/tmp/", "/var/tmp/"}) {
        for (const QString& name : {mPipeName, QStringLiteral("SingleOfficeIPC_") + profileHash})
            paths << QLatin1String(folder) + prefix + name;
    }
    return paths;
}

void OfficeProcess::RemovePipes()
{
    for (const QString& pipe : std::as_const(mPipes))
        RemoveLeftoverSocket(pipe);
}
