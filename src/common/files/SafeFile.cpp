#include "SafeFile.h"

#include "FileDescriptor.h"
#include "Leftovers.h"
#include "Paths.h"
#include "core/AppError.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString SystemMessage(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void Fail(const QString& what, const QString& path, int error)
{
    throw AppError(QStringLiteral("%1 \"%2\": %3").arg(what, QDir::toNativeSeparators(path), SystemMessage(error)));
}

void WriteAll(int fd, const QByteArray& bytes, const QString& path)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Fail(QStringLiteral("Cannot write the file"), path, errno);
        }
        data += written;
        left -= written;
    }
}
}

namespace {
// What stands at path (type is its file type) is not the user's own regular file.
[[noreturn]] void RefuseForeign(const QString& path, mode_t type)
{
    const QString what = type == S_IFLNK  ? QStringLiteral("it is a symbolic link")
                         : type == S_IFIFO ? QStringLiteral("it is a FIFO, not a regular file")
                                           : QStringLiteral("it is not a regular file of your own");
    throw AppError(QStringLiteral("Refusing to use \"%1\": %2; it is left as it is.").arg(QDir::toNativeSeparators(path), what));
}

// A real folder of the user's own that no one else can write.
bool PrivateFolder(const struct stat& info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A real folder of the user's own that no one else can read, write or enter.
bool ClosedFolder(const struct stat& info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

int OpenFolder(const QString& folder)
{
    return ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Opens the folder that holds path, which must be private to the user; the descriptor is
// the caller's. Throws AppError with a description otherwise.
int OpenWorkingFolderOf(const QString& path)
{
    const QString folder = QFileInfo(path).path();
    FileDescriptor fd(OpenFolder(folder));
    if (fd.Get() < 0) {
        if (errno == ELOOP)
            throw AppError(QStringLiteral("Refusing to use \"%1\": its folder \"%2\" is a symbolic link.")
                               .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(folder)));
        Fail(QStringLiteral("Cannot open the file"), path, errno);
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        Fail(QStringLiteral("Cannot examine the folder of"), path, errno);
    if (!PrivateFolder(info))
        throw AppError(QStringLiteral("Refusing to use \"%1\": its folder \"%2\" is not a private folder of your own (it "
                                      "belongs to another user, or others can write to it); it is left as it is.")
                           .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(folder)));
    return fd.Release();
}

QByteArray NameIn(const QString& path)
{
    return QFile::encodeName(QFileInfo(path).fileName());
}

FileIdentity IdentityOf(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

// What file holds, read to its end; opened tells whether it could be opened. Throws AppError
// naming path when it could not be opened or read.
QByteArray ReadWhole(QFile& file, bool opened, const QString& path)
{
    QByteArray bytes;
    if (opened)
        bytes = file.readAll();
    if (!opened || file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return bytes;
}
}

namespace {
// The folders made in place of a taken "inkhaven-<uid>", one per TEMP, and what is still to
// be told about them. They go with the application, as every noted leftover does.
struct Fallbacks {
    std::mutex mutex;
    std::map<QString, std::unique_ptr<LeftoverFolder>> folders;
    QString notice;
    // Whether the user was told that TEMP was open to others' renaming.
    bool openTempTold = false;
};

Fallbacks& SharedFallbacks()
{
    // Never destroyed: the ending removes the folders, and a thread may still ask.
    static Fallbacks* fallbacks = new Fallbacks;
    return *fallbacks;
}

QString UserName(uid_t uid)
{
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(found->pw_name)).arg(uid);
    return QString::number(uid);
}

// What stands at path, as the user is told of it: "a symbolic link to "/x" of user nobody
// (65534)", "a folder of user nobody (65534) with mode 0777".
QString DescribeEntry(const QString& path, const struct stat& info)
{
    static const std::map<mode_t, QString> kinds = {{S_IFDIR, QStringLiteral("a folder")},
                                                    {S_IFREG, QStringLiteral("a file")},
                                                    {S_IFIFO, QStringLiteral("a FIFO")},
                                                    {S_IFSOCK, QStringLiteral("a socket")}};
    const mode_t type = info.st_mode & S_IFMT;
    const auto kind = kinds.find(type);
    QString what = kind != kinds.end() ? kind->second : QStringLiteral("a device");
    if (type == S_IFLNK) {
        const QString target = QFile::symLinkTarget(path);
        what = QStringLiteral("a symbolic link to \"%1\"").arg(QDir::toNativeSeparators(target.isEmpty() ? QStringLiteral("?") : target));
    }
    return QStringLiteral("%1 of user %2 with mode %3")
        .arg(what, UserName(info.st_uid))
        .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
}

// The user's folder "inkhaven-<uid>" in temp, made when missing: its path when it is a real
// folder of the user's own (made 0700 again), else empty and found describes what is there.
QString OwnWorkingFolder(const QString& temp, QString& found)
{
    const QString own = JoinPath(temp, QStringLiteral("inkhaven-%1").arg(::geteuid()));
    const QByteArray native = QFile::encodeName(own);
    ::mkdir(native.constData(), 0700);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0)
        return own;
    const FileDescriptor folder(OpenFolder(own));
    struct stat opened {};
    if (S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && folder.Get() >= 0 && ::fstat(folder.Get(), &opened) == 0
        && IdentityOf(opened) == IdentityOf(info)) {
        if ((opened.st_mode & 07777) != 0700)
            ::fchmod(folder.Get(), 0700);
        return own;
    }
    found = DescribeEntry(own, info);
    return QString();
}

// A fresh private folder in temp in place of own, made once and kept while it lasts; the
// user is told once what was found at own. Empty when none can be made.
QString FallbackFolder(const QString& temp, const QString& own, const QString& found)
{
    Fallbacks& fallbacks = SharedFallbacks();
    const std::lock_guard lock(fallbacks.mutex);
    std::unique_ptr<LeftoverFolder>& kept = fallbacks.folders[temp];
    struct stat info {};
    if (kept && kept->IsValid() && ::lstat(QFile::encodeName(kept->Path()).constData(), &info) == 0 && ClosedFolder(info))
        return kept->Path();
    kept = std::make_unique<LeftoverFolder>(own + QStringLiteral("-XXXXXX"));
    if (!kept->IsValid())
        return QString();
    fallbacks.notice = QStringLiteral("The folder for your working files, \"%1\", is taken: %2 stands there, which is "
                                      "not a private folder of yours. It is left as it is; while Inkhaven runs, the "
                                      "working files go to \"%3\" instead, which is removed when Inkhaven ends.")
                           .arg(QDir::toNativeSeparators(own), found, QDir::toNativeSeparators(kept->Path()));
    return kept->Path();
}

// The folder of the user's runtime files (XDG_RUNTIME_DIR) when it is a real folder of the
// user's own closed to others; empty otherwise.
QString ClosedRuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const FileDescriptor folder(runtime.isEmpty() ? -1 : OpenFolder(runtime));
    struct stat info {};
    return folder.Get() >= 0 && ::fstat(folder.Get(), &info) == 0 && ClosedFolder(info) ? runtime : QString();
}

// Whether no other user can rename or remove what the user makes in the folder: one of the
// user's own that others cannot write, or a sticky one owned by the user or by root (the
// owner of a sticky folder may rename every entry in it).
bool RenameSafeFolder(const struct stat& info)
{
    if (!S_ISDIR(info.st_mode))
        return false;
    if (info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    return (info.st_mode & S_ISVTX) && (info.st_uid == ::geteuid() || info.st_uid == 0);
}

// The user's cache folder when it is a real folder of the user's own that others cannot
// write; empty otherwise.
QString OwnCacheFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return QString();
    QDir().mkpath(cache);
    const FileDescriptor folder(OpenFolder(cache));
    struct stat info {};
    return folder.Get() >= 0 && ::fstat(folder.Get(), &info) == 0 && info.st_uid == ::geteuid()
                   && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0
               ? cache
               : QString();
}

// A TEMP in which others may rename what the user makes (writable by others without the
// sticky bit, or sticky and owned by another user) holds no folder of the user's: the
// working files go to the user's runtime folder instead, else to the user's cache folder,
// and the user is told once where and why. Empty when there is neither.
QString InsteadOfOpenTemp(const QString& temp, const struct stat& info)
{
    QString own;
    for (const QString& folder : {ClosedRuntimeFolder(), OwnCacheFolder()}) {
        QString found;
        if (!folder.isEmpty())
            own = OwnWorkingFolder(folder, found);
        if (!own.isEmpty())
            break;
    }
    if (own.isEmpty())
        return QString();
    Fallbacks& fallbacks = SharedFallbacks();
    const std::lock_guard lock(fallbacks.mutex);
    if (!fallbacks.openTempTold) {
        fallbacks.openTempTold = true;
        fallbacks.notice = QStringLiteral("The folder for temporary files, \"%1\", is %2, where others could move your "
                                          "working files away and put theirs in their place. Inkhaven works in \"%3\" "
                                          "instead.")
                               .arg(QDir::toNativeSeparators(temp), DescribeEntry(temp, info), QDir::toNativeSeparators(own));
    }
    return own;
}
}

QString WorkingFolder()
{
    const QString temp = TempFolder();
    {
        const FileDescriptor folder(OpenFolder(temp));
        struct stat info {};
        // A folder that is missing, or no folder at all, stays the answer: no working file
        // can be made in it, and each step that needs one says so.
        if (folder.Get() < 0 && (errno == ENOENT || errno == ENOTDIR))
            return temp;
        if (folder.Get() >= 0 && ::fstat(folder.Get(), &info) == 0) {
            if (ClosedFolder(info))
                return temp;
            if (S_ISDIR(info.st_mode) && !RenameSafeFolder(info)) {
                if (const QString instead = InsteadOfOpenTemp(temp, info); !instead.isEmpty())
                    return instead;
            }
        }
    }
    QString found;
    const QString own = OwnWorkingFolder(temp, found);
    if (!own.isEmpty())
        return own;
    const QString taken = JoinPath(temp, QStringLiteral("inkhaven-%1").arg(::geteuid()));
    const QString fallback = FallbackFolder(temp, taken, found);
    // Without a folder of its own, the taken name stays the answer: each step refuses it.
    return fallback.isEmpty() ? taken : fallback;
}

QString TakeWorkingFolderNotice()
{
    Fallbacks& fallbacks = SharedFallbacks();
    const std::lock_guard lock(fallbacks.mutex);
    return std::exchange(fallbacks.notice, QString());
}

FileIdentity WriteBytesToFile(const QByteArray& bytes, const QString& path)
{
    const FileDescriptor folder(OpenWorkingFolderOf(path));
    const QByteArray name = NameIn(path);
    struct stat info {};
    // What stands at the name and is not the user's own file is not opened at all: a FIFO
    // would block, a link would lead elsewhere.
    if (::fstatat(folder.Get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
        && (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()))
        RefuseForeign(path, info.st_mode & S_IFMT);
    FileDescriptor fd(::openat(folder.Get(), name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
        if (errno == ELOOP)
            RefuseForeign(path, S_IFLNK);
        Fail(QStringLiteral("Cannot open the file"), path, errno);
    }
    if (::fstat(fd.Get(), &info) != 0)
        Fail(QStringLiteral("Cannot examine the file"), path, errno);
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        RefuseForeign(path, info.st_mode & S_IFMT);
    // A working file is the user's alone, whatever mode a file of that name had before.
    if ((info.st_mode & 07777) != 0600 && ::fchmod(fd.Get(), 0600) != 0)
        Fail(QStringLiteral("Cannot make the file private"), path, errno);
    NoteLeftoverFile(path, LeftoverName::Shared);
    // From here on the old content is gone. When the new one cannot be written whole (a
    // full disk, a size limit), the file goes as well: a part must not pass for the whole.
    try {
        if (::ftruncate(fd.Get(), 0) != 0)
            Fail(QStringLiteral("Cannot empty the file"), path, errno);
        WriteAll(fd.Get(), bytes, path);
        if (::close(fd.Release()) != 0)
            Fail(QStringLiteral("Cannot finish writing the file"), path, errno);
    } catch (const AppError&) {
        struct stat now {};
        if (::fstatat(folder.Get(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && IdentityOf(now) == IdentityOf(info))
            ::unlinkat(folder.Get(), name.constData(), 0);
        throw;
    }
    return IdentityOf(info);
}

QByteArray ReadWrittenFile(const QString& path, FileIdentity written)
{
    FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        Fail(QStringLiteral("Cannot open the file"), path, errno);
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        Fail(QStringLiteral("Cannot examine the file"), path, errno);
    if (!S_ISREG(info.st_mode) || IdentityOf(info) != written)
        throw AppError(QStringLiteral("\"%1\" is not the file written a moment ago; it is left as it is.").arg(QDir::toNativeSeparators(path)));
    QFile file;
    return ReadWhole(file, file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle), path);
}

void DeleteWrittenFile(const QString& path, FileIdentity written)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        Fail(QStringLiteral("Cannot delete the file"), path, errno);
    if (!S_ISREG(info.st_mode) || IdentityOf(info) != written)
        throw AppError(QStringLiteral("Not deleting \"%1\": it is not the file written a moment ago; it is left as it is.")
                           .arg(QDir::toNativeSeparators(path)));
    DeleteFile(path);
}

bool CreateNewFile(const QString& path)
{
    const FileDescriptor folder(OpenWorkingFolderOf(path));
    const FileDescriptor fd(
        ::openat(folder.Get(), NameIn(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
        if (errno == EEXIST)
            return false;
        Fail(QStringLiteral("Cannot create the file"), path, errno);
    }
    NoteLeftoverFile(path, LeftoverName::Own);
    return true;
}

bool OwnFileAt(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)
        && info.st_uid == ::geteuid();
}

bool PathTaken(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

FileDescriptor OpenFileOnce(const QString& path, FileOwner owner, bool noLinkOnTheWay)
{
    const QByteArray name = QFile::encodeName(path);
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    FileDescriptor fd(-1);
    if (noLinkOnTheWay) {
        open_how how {};
        how.flags = flags;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        fd = FileDescriptor(static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, name.constData(), &how, sizeof how)));
        // A kernel older than openat2 checks the name alone.
        if (fd.Get() < 0 && errno == ENOSYS)
            fd = FileDescriptor(::open(name.constData(), flags));
    } else {
        fd = FileDescriptor(::open(name.constData(), flags));
    }
    if (fd.Get() < 0) {
        if (errno == ELOOP)
            throw AppError(QStringLiteral("Refusing to read \"%1\": it is reached through a symbolic link, which could "
                                          "lead anywhere.").arg(QDir::toNativeSeparators(path)));
        Fail(QStringLiteral("Cannot read"), path, errno);
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        Fail(QStringLiteral("Cannot read"), path, errno);
    if (!S_ISREG(info.st_mode))
        throw AppError(QStringLiteral("Refusing to read \"%1\": it is not a regular file.").arg(QDir::toNativeSeparators(path)));
    if (owner == FileOwner::Own && info.st_uid != ::geteuid())
        throw AppError(QStringLiteral("Refusing to read \"%1\": it belongs to user %2, not to you.")
                           .arg(QDir::toNativeSeparators(path), UserName(info.st_uid)));
    return fd;
}

QByteArray ReadFileOnce(const QString& path, FileOwner owner, qint64 limit, bool noLinkOnTheWay)
{
    const FileDescriptor fd = OpenFileOnce(path, owner, noLinkOnTheWay);
    struct stat info {};
    if (::fstat(fd.Get(), &info) == 0 && info.st_size > limit)
        throw AppError(QStringLiteral("Refusing to read \"%1\": it is larger than %2 MB.")
                           .arg(QDir::toNativeSeparators(path))
                           .arg(limit / (1024 * 1024)));
    QFile file;
    return ReadWhole(file, file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle), path);
}

void DeleteFile(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        Fail(QStringLiteral("Cannot delete the file"), path, errno);
    ForgetLeftover(path);
}

namespace {
// Creates a new file of a name nobody uses beside target, hidden, with the permissions the
// user gives new files; returns its descriptor and sets path.
int CreateBeside(const QString& target, QString& path)
{
    const QFileInfo info(target);
    for (;;) {
        path = info.dir().filePath(QStringLiteral(".%1.%2.part")
                                       .arg(info.fileName())
                                       .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            Fail(QStringLiteral("Cannot create a file beside"), target, errno);
    }
}

// Gives the complete file at from the name to; false when replace is false and something
// is there already.
bool RenameInto(const QString& from, const QString& to, bool replace)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (replace) {
        if (::rename(source.constData(), target.constData()) != 0)
            Fail(QStringLiteral("Cannot write"), to, errno);
        return true;
    }
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system that cannot rename without replacing: a new link fails as well when
        // the name is taken.
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            return true;
        }
    }
    if (errno == EEXIST)
        return false;
    Fail(QStringLiteral("Cannot write"), to, errno);
}
}

namespace {
// The size of the pieces a copy is read and written in.
constexpr qint64 CopyChunk = 1 << 20;

// A complete copy under a hidden name beside its target, waiting to be given the target's name.
struct Part {
    QString path;
    FileIdentity identity;
};

// Copies source to a new hidden file beside target, piece by piece. With replace, a file of
// the user's own that will be replaced gives the copy the permissions the user gave it.
// Another user's file passes on nothing: the copy is the user's, with the mode of any new
// file of the user's, and the other user gets no more hold on it than on those.
Part WritePart(const QString& source, const QString& target, bool replace)
{
    const FileDescriptor sourceFd = OpenFileOnce(source, FileOwner::Own);
    QFile in;
    if (!in.open(sourceFd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(QDir::toNativeSeparators(source), in.errorString()));
    Part part;
    FileDescriptor fd(CreateBeside(target, part.path));
    // A run killed while the copy is written or waits for its name leaves it to the next start.
    NoteLeftoverFile(part.path, LeftoverName::Own);
    try {
        struct stat old {};
        if (replace && ::lstat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode)
            && old.st_uid == ::geteuid())
            ::fchmod(fd.Get(), old.st_mode & 0777);
        for (;;) {
            const QByteArray piece = in.read(CopyChunk);
            if (in.error() != QFileDevice::NoError)
                throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(QDir::toNativeSeparators(source), in.errorString()));
            if (piece.isEmpty())
                break;
            // Reported under the name the user knows, not the hidden one.
            WriteAll(fd.Get(), piece, target);
        }
        struct stat written {};
        if (::fstat(fd.Get(), &written) != 0)
            Fail(QStringLiteral("Cannot write the file"), target, errno);
        part.identity = IdentityOf(written);
        if (::close(fd.Release()) != 0)
            Fail(QStringLiteral("Cannot finish writing the file"), target, errno);
    } catch (const AppError&) {
        ::unlink(QFile::encodeName(part.path).constData());
        ForgetLeftover(part.path);
        throw;
    }
    return part;
}

// A second name for the file at target, hidden beside it, so that it can be given back its
// name; empty when nothing is there or the file system has no second names.
QString KeepOld(const QString& target)
{
    const QFileInfo info(target);
    const QByteArray old = QFile::encodeName(target);
    for (;;) {
        const QString backup = info.dir().filePath(
            QStringLiteral(".%1.%2.old").arg(info.fileName()).arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (::link(old.constData(), QFile::encodeName(backup).constData()) == 0) {
            // Only ever a second name of the file at target, or of the one it replaced.
            NoteLeftoverFile(backup, LeftoverName::Own);
            return backup;
        }
        if (errno != EEXIST)
            return QString();
    }
}

// Removes the file at path when it is the one given.
void RemoveIfSame(const QString& path, FileIdentity identity)
{
    struct stat now {};
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &now) == 0 && IdentityOf(now) == identity)
        ::unlink(name.constData());
}
}

bool PlaceCopies(const std::vector<FileCopy>& copies, bool replace)
{
    std::vector<Part> parts;
    std::vector<QString> backups;
    // However this ends, each part has its target's name or is gone, and so is each backup.
    const auto forget = qScopeGuard([&] {
        for (const Part& part : parts)
            ForgetLeftover(part.path);
        for (const QString& backup : backups) {
            if (!backup.isEmpty())
                ForgetLeftover(backup);
        }
    });
    try {
        for (const FileCopy& copy : copies)
            parts.push_back(WritePart(copy.source, copy.target, replace));
    } catch (const AppError&) {
        for (const Part& part : parts)
            ::unlink(QFile::encodeName(part.path).constData());
        throw;
    }

    // Every copy is complete: they take their names one after the other. Should one fail,
    // the targets are given back what they held.
    const auto undo = [&] {
        for (std::size_t i = backups.size(); i-- > 0;) {
            const QByteArray target = QFile::encodeName(copies[i].target);
            if (backups[i].isEmpty())
                RemoveIfSame(copies[i].target, parts[i].identity);
            else
                ::rename(QFile::encodeName(backups[i]).constData(), target.constData());
        }
        for (std::size_t i = backups.size(); i < parts.size(); ++i)
            ::unlink(QFile::encodeName(parts[i].path).constData());
    };
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const QString backup = replace ? KeepOld(copies[i].target) : QString();
        bool placed = false;
        try {
            placed = RenameInto(parts[i].path, copies[i].target, replace);
        } catch (const AppError&) {
            if (!backup.isEmpty()) {
                ::unlink(QFile::encodeName(backup).constData());
                ForgetLeftover(backup);
            }
            undo();
            throw;
        }
        if (!placed) {
            undo();
            return false;
        }
        backups.push_back(backup);
    }
    for (const QString& backup : backups) {
        if (!backup.isEmpty())
            ::unlink(QFile::encodeName(backup).constData());
    }
    return true;
}

bool PlaceCopy(const QString& source, const QString& target, bool replace)
{
    return PlaceCopies({{source, target}}, replace);
}

void ReplaceFileWithCopy(const QString& source, const QString& target)
{
    PlaceCopy(source, target, true);
}

void MoveFileOver(const QString& source, const QString& target)
{
    ReplaceFileWithCopy(source, target);
    ::unlink(QFile::encodeName(source).constData());
}
