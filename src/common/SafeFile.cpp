#include "SafeFile.h"

#include "AppError.h"
#include "FileDescriptor.h"
#include "Leftovers.h"
#include "Paths.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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
QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// What stands at path (type is its file type) is not the user's own regular file.
[[noreturn]] void RefuseForeign(const QString& path, mode_t type)
{
    const QString what = type == S_IFLNK  ? QStringLiteral("it is a symbolic link")
                         : type == S_IFIFO ? QStringLiteral("it is a FIFO, not a regular file")
                                           : QStringLiteral("it is not a regular file of your own");
    throw AppError(QStringLiteral("Refusing to use \"%1\": %2; it is left as it is.").arg(Native(path), what));
}

// A real folder of the user's own that no one else can write.
bool PrivateFolder(const struct stat& info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
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
    if (fd.get() < 0) {
        if (errno == ELOOP)
            throw AppError(QStringLiteral("Refusing to use \"%1\": its folder \"%2\" is a symbolic link.")
                               .arg(Native(path), Native(folder)));
        Fail(QStringLiteral("Cannot open the file"), path, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        Fail(QStringLiteral("Cannot examine the folder of"), path, errno);
    if (!PrivateFolder(info))
        throw AppError(QStringLiteral("Refusing to use \"%1\": its folder \"%2\" is not a private folder of your own (it "
                                      "belongs to another user, or others can write to it); it is left as it is.")
                           .arg(Native(path), Native(folder)));
    return fd.release();
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
        throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(Native(path), file.errorString()));
    return bytes;
}
}

QString WorkingFolder()
{
    const QString temp = TempFolder();
    struct stat info {};
    {
        const FileDescriptor folder(OpenFolder(temp));
        // A folder that is missing, or no folder at all, stays the answer: no working file
        // can be made in it, and each step that needs one says so.
        if (folder.get() < 0 && (errno == ENOENT || errno == ENOTDIR))
            return temp;
        if (folder.get() >= 0 && ::fstat(folder.get(), &info) == 0 && PrivateFolder(info))
            return temp;
    }
    const QString own = JoinPath(temp, QStringLiteral("inkhaven-%1").arg(::geteuid()));
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    const FileDescriptor folder(OpenFolder(own));
    if (folder.get() >= 0 && ::fstat(folder.get(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid())
        ::fchmod(folder.get(), 0700);
    return own;
}

FileIdentity WriteBytesToFile(const QByteArray& bytes, const QString& path)
{
    const FileDescriptor folder(OpenWorkingFolderOf(path));
    const QByteArray name = NameIn(path);
    struct stat info {};
    // What stands at the name and is not the user's own file is not opened at all: a FIFO
    // would block, a link would lead elsewhere.
    if (::fstatat(folder.get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
        && (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()))
        RefuseForeign(path, info.st_mode & S_IFMT);
    FileDescriptor fd(::openat(folder.get(), name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        if (errno == ELOOP)
            RefuseForeign(path, S_IFLNK);
        Fail(QStringLiteral("Cannot open the file"), path, errno);
    }
    if (::fstat(fd.get(), &info) != 0)
        Fail(QStringLiteral("Cannot examine the file"), path, errno);
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        RefuseForeign(path, info.st_mode & S_IFMT);
    NoteLeftoverFile(path, LeftoverName::Shared);
    // From here on the old content is gone. When the new one cannot be written whole (a
    // full disk, a size limit), the file goes as well: a part must not pass for the whole.
    try {
        if (::ftruncate(fd.get(), 0) != 0)
            Fail(QStringLiteral("Cannot empty the file"), path, errno);
        WriteAll(fd.get(), bytes, path);
        if (::close(fd.release()) != 0)
            Fail(QStringLiteral("Cannot finish writing the file"), path, errno);
    } catch (const AppError&) {
        struct stat now {};
        if (::fstatat(folder.get(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && IdentityOf(now) == IdentityOf(info))
            ::unlinkat(folder.get(), name.constData(), 0);
        throw;
    }
    return IdentityOf(info);
}

QByteArray ReadWrittenFile(const QString& path, FileIdentity written)
{
    FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        Fail(QStringLiteral("Cannot open the file"), path, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        Fail(QStringLiteral("Cannot examine the file"), path, errno);
    if (!S_ISREG(info.st_mode) || IdentityOf(info) != written)
        throw AppError(QStringLiteral("\"%1\" is not the file written a moment ago; it is left as it is.").arg(Native(path)));
    QFile file;
    return ReadWhole(file, file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle), path);
}

void DeleteWrittenFile(const QString& path, FileIdentity written)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        Fail(QStringLiteral("Cannot delete the file"), path, errno);
    if (!S_ISREG(info.st_mode) || IdentityOf(info) != written)
        throw AppError(QStringLiteral("Not deleting \"%1\": it is not the file written a moment ago; it is left as it is.")
                           .arg(Native(path)));
    DeleteFile(path);
}

bool CreateNewFile(const QString& path)
{
    const FileDescriptor folder(OpenWorkingFolderOf(path));
    const FileDescriptor fd(
        ::openat(folder.get(), NameIn(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
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

bool PlaceCopy(const QString& source, const QString& target, bool replace)
{
    QFile in(source);
    const QByteArray bytes = ReadWhole(in, in.open(QIODevice::ReadOnly), source);
    QString part;
    FileDescriptor fd(CreateBeside(target, part));
    // A file that is replaced keeps the permissions its owner gave it.
    struct stat old {};
    if (replace && ::lstat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd.get(), old.st_mode & 07777);
    try {
        // Reported under the name the user knows, not the hidden one.
        WriteAll(fd.get(), bytes, target);
        if (::close(fd.release()) != 0)
            Fail(QStringLiteral("Cannot finish writing the file"), target, errno);
        const bool placed = RenameInto(part, target, replace);
        if (!placed)
            ::unlink(QFile::encodeName(part).constData());
        return placed;
    } catch (const AppError&) {
        ::unlink(QFile::encodeName(part).constData());
        throw;
    }
}

void ReplaceFileWithCopy(const QString& source, const QString& target)
{
    PlaceCopy(source, target, true);
}
