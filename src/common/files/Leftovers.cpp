#include "Leftovers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
enum class Kind { File, Folder, Socket };

constexpr char JournalSuffix[] = ".journal";

struct State {
    std::mutex mutex;
    std::map<QString, Kind> noted;
    // Set once the removal has begun: what is noted from then on goes at once.
    bool removing = false;
    // Held for a whole removal, so that two never overlap.
    std::mutex removal;
    // Whether the removal left something that the next start must remove.
    bool remaining = false;
    // The journal, open for appending, or -1.
    int journal = -1;
};

// Lives as long as the process: the removal may run while the process exits.
State& Shared()
{
    static State* state = new State;
    return *state;
}

// One line of a journal: a mark ('F' file, 'D' folder, 'S' socket, '-' gone) and the path,
// encoded so that it holds no line break.
QByteArray JournalLine(char mark, const QString& path)
{
    return QByteArray(1, mark) + ' ' + QUrl::toPercentEncoding(path) + '\n';
}

char Mark(Kind kind)
{
    switch (kind) {
    case Kind::File:
        return 'F';
    case Kind::Folder:
        return 'D';
    case Kind::Socket:
        return 'S';
    }
    return 'F';
}

void Append(const State& state, char mark, const QString& path)
{
    if (state.journal < 0)
        return;
    const QByteArray line = JournalLine(mark, path);
    // One short write to a file opened for appending lands whole.
    [[maybe_unused]] const ssize_t written = ::write(state.journal, line.constData(), static_cast<size_t>(line.size()));
}

void Remove(const QString& path, Kind kind);

// Whether nothing is left at path (not even a dangling link).
bool Gone(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) != 0 && errno == ENOENT;
}

// A leftover is journalled by its absolute path: a later start may run in another folder.
QString Absolute(const QString& path)
{
    return QDir::isAbsolutePath(path) ? path : QFileInfo(path).absoluteFilePath();
}

void Note(const QString& given, Kind kind, LeftoverName name)
{
    const QString path = Absolute(given);
    State& state = Shared();
    const std::lock_guard lock(state.mutex);
    if (name == LeftoverName::Own)
        Append(state, Mark(kind), path);
    // Made while the removal runs or after it: it goes at once. What cannot be removed
    // stays in the journal for the next start.
    if (state.removing) {
        Remove(path, kind);
        if (!Gone(path))
            state.remaining = true;
        else if (name == LeftoverName::Own)
            Append(state, '-', path);
        return;
    }
    state.noted[path] = kind;
}

// Empties the folder open as folder, entry by entry, through descriptors only: a link in it
// is removed, never followed, and a folder in it is opened without following a link.
void EmptyFolder(int folder)
{
    const int listing = ::dup(folder);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat info {};
        if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            const int inner = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner >= 0) {
                EmptyFolder(inner);
                ::close(inner);
            }
            ::unlinkat(folder, name, AT_REMOVEDIR);
        } else {
            ::unlinkat(folder, name, 0);
        }
    }
    ::closedir(entries);
}

// Removes the user's own entry of the kind at path, through a descriptor of the folder that
// holds it. That folder must be one no other user can rename entries in (the user's own,
// closed to others' writing, or a shared one with the sticky bit owned by the user or by
// root, since a sticky folder's owner may rename every entry), so that what is removed
// is what was examined: another user cannot put a link to elsewhere in its place.
void Remove(const QString& path, Kind kind)
{
    const QByteArray parent = QFile::encodeName(QFileInfo(path).path());
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    const int folder = ::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    struct stat holder {};
    struct stat info {};
    const bool guarded = ::fstat(folder, &holder) == 0 &&
                         ((holder.st_uid == ::geteuid() && (holder.st_mode & (S_IWGRP | S_IWOTH)) == 0)
                          || ((holder.st_mode & S_ISVTX) && (holder.st_uid == ::geteuid() || holder.st_uid == 0)));
    const mode_t type = kind == Kind::Folder ? S_IFDIR : kind == Kind::Socket ? S_IFSOCK : S_IFREG;
    if (guarded && !name.isEmpty() && ::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0
        && (info.st_mode & S_IFMT) == type && info.st_uid == ::geteuid()) {
        if (kind != Kind::Folder) {
            ::unlinkat(folder, name.constData(), 0);
        } else {
            const int inner = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            struct stat opened {};
            if (inner >= 0 && ::fstat(inner, &opened) == 0 && opened.st_dev == info.st_dev && opened.st_ino == info.st_ino) {
                EmptyFolder(inner);
                ::unlinkat(folder, name.constData(), AT_REMOVEDIR);
            }
            if (inner >= 0)
                ::close(inner);
        }
    }
    ::close(folder);
}

// What a journal still lists once its lines are replayed.
std::map<QString, Kind> Replay(const QByteArray& journal)
{
    std::map<QString, Kind> listed;
    for (const QByteArray& line : journal.split('\n')) {
        if (line.size() < 3 || line.at(1) != ' ')
            continue;
        const QString path = QUrl::fromPercentEncoding(line.mid(2));
        switch (line.at(0)) {
        case '-':
            listed.erase(path);
            break;
        case 'D':
            listed[path] = Kind::Folder;
            break;
        case 'S':
            listed[path] = Kind::Socket;
            break;
        default:
            listed[path] = Kind::File;
        }
    }
    return listed;
}

// Removes what the instance of this journal left, when that instance has ended: a running
// instance holds the journal's lock.
void SweepJournal(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info {};
    QFile journal;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
        && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && journal.open(fd, QIODevice::ReadOnly)) {
        for (const auto& [leftover, kind] : Replay(journal.readAll()))
            Remove(leftover, kind);
        ::unlink(QFile::encodeName(path).constData());
    }
    journal.close();
    ::close(fd);
}

// A new journal, locked before it gets the name that sweeps look for; -1 when none can be made.
int CreateJournal(const QString& folder, QString& path)
{
    QByteArray staging = QFile::encodeName(QDir(folder).filePath(QStringLiteral("new-XXXXXX")));
    const int fd = ::mkostemp(staging.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    path = QDir(folder).filePath(QString::number(::getpid()) + QLatin1Char('-')
                                 + QFile::decodeName(staging).section(QLatin1Char('-'), -1) + QLatin1String(JournalSuffix));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(staging.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(staging.constData());
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

// The folder of the journals, made private to the user; false when it is not.
bool PrivateFolder(const QString& folder)
{
    const QByteArray native = QFile::encodeName(folder);
    if (folder.isEmpty() || !QDir().mkpath(QFileInfo(folder).path()))
        return false;
    ::mkdir(native.constData(), 0700);
    struct stat info {};
    return ::lstat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && ::chmod(native.constData(), 0700) == 0;
}
}

void NoteLeftoverFile(const QString& path, LeftoverName name)
{
    Note(path, Kind::File, name);
}

void NoteLeftoverFolder(const QString& path)
{
    Note(path, Kind::Folder, LeftoverName::Own);
}

void NoteLeftoverSocket(const QString& path)
{
    Note(path, Kind::Socket, LeftoverName::Own);
}

void ForgetLeftover(const QString& given)
{
    const QString path = Absolute(given);
    State& state = Shared();
    const std::lock_guard lock(state.mutex);
    // What its owner failed to remove stays noted: the ending, or the next start, tries again.
    if (Gone(path) && state.noted.erase(path) > 0)
        Append(state, '-', path);
}

void RemoveLeftoverSocket(const QString& path)
{
    Remove(path, Kind::Socket);
    ForgetLeftover(path);
}

LeftoverFolder::LeftoverFolder(const QString& pattern)
{
    State& state = Shared();
    const std::lock_guard lock(state.mutex);
    if (state.removing) {
        mError = QStringLiteral("the application is ending.");
        return;
    }
    QByteArray path = QFile::encodeName(pattern);
    if (!::mkdtemp(path.data())) {
        mError = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    mPath = QFile::decodeName(path);
    Append(state, Mark(Kind::Folder), mPath);
    state.noted[mPath] = Kind::Folder;
}

void LeftoverFolder::Remove()
{
    if (mPath.isEmpty())
        return;
    ::Remove(mPath, Kind::Folder);
    ForgetLeftover(mPath);
}

void RemoveLeftovers()
{
    State& state = Shared();
    const std::lock_guard removal(state.removal);
    std::map<QString, Kind> noted;
    {
        const std::lock_guard lock(state.mutex);
        state.removing = true;
        noted.swap(state.noted);
    }
    for (const auto& [path, kind] : noted)
        Remove(path, kind);
    // A thread of this process may still have been filling a folder (an office's profile
    // being copied, which stops once the offices are ended): once more after a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // What is still there (an office that was starting may have written into its folder
    // after the removal) stays in the journal, and the next start removes it.
    const std::lock_guard lock(state.mutex);
    for (const auto& [path, kind] : noted) {
        Remove(path, kind);
        if (Gone(path))
            Append(state, '-', path);
        else
            state.remaining = true;
    }
}

QString LeftoverJournal::LeftoverJournalFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : QDir(cache).filePath(QStringLiteral("Kestrelworks/Inkhaven/instances"));
}

LeftoverJournal::LeftoverJournal(const QString& folder)
{
    if (!PrivateFolder(folder))
        return;
    const QStringList journals =
        QDir(folder).entryList({QStringLiteral("*") + QLatin1String(JournalSuffix)}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : journals)
        SweepJournal(QDir(folder).filePath(name));
    const int fd = CreateJournal(folder, mPath);
    State& state = Shared();
    const std::lock_guard lock(state.mutex);
    state.journal = fd;
}

LeftoverJournal::~LeftoverJournal()
{
    RemoveLeftovers();
    State& state = Shared();
    const std::lock_guard lock(state.mutex);
    if (state.journal < 0)
        return;
    // A journal that still lists something is left for the next start, which removes it.
    if (!state.remaining)
        ::unlink(QFile::encodeName(mPath).constData());
    ::close(state.journal);
    state.journal = -1;
}
