#include "SafeFile.h"

#include "AppError.h"
#include "FileDescriptor.h"
#include "Leftovers.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

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

void WriteBytesToFile(const QByteArray& bytes, const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    FileDescriptor fd(::open(native.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        Fail(errno == ELOOP ? QStringLiteral("Refusing to write through a symbolic link at")
                            : QStringLiteral("Cannot open the file"),
             path, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        Fail(QStringLiteral("Cannot examine the file"), path, errno);
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        throw AppError(QStringLiteral("Refusing to write \"%1\": it is not a regular file of your own.")
                           .arg(QDir::toNativeSeparators(path)));
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
        if (::lstat(native.constData(), &now) == 0 && now.st_dev == info.st_dev && now.st_ino == info.st_ino)
            ::unlink(native.constData());
        throw;
    }
}

bool CreateNewFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const FileDescriptor fd(::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        if (errno == EEXIST)
            return false;
        Fail(QStringLiteral("Cannot create the file"), path, errno);
    }
    NoteLeftoverFile(path, LeftoverName::Own);
    return true;
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

void ReplaceFileWithCopy(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(QDir::toNativeSeparators(source), in.errorString()));
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("Cannot save \"%1\": %2").arg(QDir::toNativeSeparators(target), out.errorString()));
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0)
            throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(QDir::toNativeSeparators(source), in.errorString()));
        if (n == 0)
            break;
        if (out.write(buffer, n) != n)
            throw AppError(QStringLiteral("Cannot save \"%1\": %2").arg(QDir::toNativeSeparators(target), out.errorString()));
    }
    if (!out.commit())
        throw AppError(QStringLiteral("Cannot save \"%1\": %2").arg(QDir::toNativeSeparators(target), out.errorString()));
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
    if (!in.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(QDir::toNativeSeparators(source), in.errorString()));
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read \"%1\": %2").arg(QDir::toNativeSeparators(source), in.errorString()));
    QString part;
    FileDescriptor fd(CreateBeside(target, part));
    try {
        WriteAll(fd.get(), bytes, part);
        if (::close(fd.release()) != 0)
            Fail(QStringLiteral("Cannot finish writing the file"), part, errno);
        const bool placed = RenameInto(part, target, replace);
        if (!placed)
            ::unlink(QFile::encodeName(part).constData());
        return placed;
    } catch (const AppError&) {
        ::unlink(QFile::encodeName(part).constData());
        throw;
    }
}
