// Working files, paths, the leftovers journal and the termination signals.
#include "core/AppError.h"
#include "files/FileDescriptor.h"
#include "files/Leftovers.h"
#include "files/Paths.h"
#include "files/SafeFile.h"
#include "process/TerminationSignals.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

mode_t ModeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
}

// Puts TEMP back as it was when the test began.
class TempVariable {
public:
    TempVariable() : mSaved(qgetenv("TEMP")) {}
    ~TempVariable()
    {
        if (mSaved.isNull())
            qunsetenv("TEMP");
        else
            qputenv("TEMP", mSaved);
    }

private:
    QByteArray mSaved;
};

// The descriptors open in this process.
QSet<int> OpenDescriptors()
{
    QSet<int> open;
    for (const QString& name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        open.insert(name.toInt());
    return open;
}

// Runs work in a child process that ends without any clean-up, as a killed instance does.
int InChild(const std::function<void()>& work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        ::_exit(0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return status;
}
}

class CommonFilesTest : public QObject {
    Q_OBJECT

private slots:
    void writeBytesReplacesWholeContent();
    void writeBytesRefusesSymbolicLink();
    void createNewFileClaimsOnlyFreeNames();
    void workingFolderIsPrivate();
    void workingFolderTakenByAnotherUser();
    void replaceWithCopyOverwrites();
    void placeCopyNeverWritesOverUnlessAsked();
    void replacedFileKeepsOnlyTheUsersOwnMode();
    void signalHandlerKeepsErrnoAndNeverBlocks();
    void fileExists();
    void tempFolderFallsBack();
    void optionalItemsBesideExecutableFirst();
    void leftoverTheOwnerCouldNotRemoveGoesAtNextStart();

private:
    QTemporaryDir mDir;
};

void CommonFilesTest::writeBytesReplacesWholeContent()
{
    const QString path = mDir.filePath(QStringLiteral("template.dot"));
    Write(path, QByteArray(5000, 'x'));
    WriteBytesToFile(QByteArray("short"), path);
    QCOMPARE(ReadAll(path), QByteArray("short"));

    // A working file is readable by its owner only: a new one, and one that others could
    // read before.
    QCOMPARE(ModeOf(path), mode_t(0600));
    const QString fresh = mDir.filePath(QStringLiteral("fresh.dot"));
    WriteBytesToFile(QByteArray("new"), fresh);
    QCOMPARE(ModeOf(fresh), mode_t(0600));
}

void CommonFilesTest::writeBytesRefusesSymbolicLink()
{
    const QString victim = mDir.filePath(QStringLiteral("victim.txt"));
    const QString link = mDir.filePath(QStringLiteral("link.dot"));
    Write(victim, "precious");
    QVERIFY(QFile::link(victim, link));
    QVERIFY_THROWS_EXCEPTION(AppError, WriteBytesToFile("evil", link));
    QCOMPARE(ReadAll(victim), QByteArray("precious"));

    QVERIFY(QDir(mDir.path()).mkdir(QStringLiteral("folder.dot")));
    QVERIFY_THROWS_EXCEPTION(AppError, WriteBytesToFile("x", mDir.filePath(QStringLiteral("folder.dot"))));
    QVERIFY_THROWS_EXCEPTION(AppError, WriteBytesToFile("x", mDir.filePath(QStringLiteral("missing/template.dot"))));
}

void CommonFilesTest::createNewFileClaimsOnlyFreeNames()
{
    const QString path = mDir.filePath(QStringLiteral("varnel12345678.doc"));
    QVERIFY(!PathTaken(path));
    QVERIFY(CreateNewFile(path));
    QVERIFY(PathTaken(path));
    QVERIFY(!CreateNewFile(path));

    const QString dangling = mDir.filePath(QStringLiteral("varnel87654321.doc"));
    QVERIFY(QFile::link(mDir.filePath(QStringLiteral("nowhere")), dangling));
    QVERIFY(PathTaken(dangling));
    QVERIFY(!FileExists(dangling));
    QVERIFY(!CreateNewFile(dangling));
    QVERIFY(!QFile::exists(mDir.filePath(QStringLiteral("nowhere"))));
    QVERIFY_THROWS_EXCEPTION(AppError, CreateNewFile(mDir.filePath(QStringLiteral("missing/varnel.doc"))));
}

// TEMP itself serves only when no other user can read or enter it; otherwise the user's
// own "inkhaven-<uid>" in it, made private. When that name is taken by anything else, it
// is left as it is, a fresh private folder serves instead, the user is told once what was
// found, and the folder goes with the application.
void CommonFilesTest::workingFolderIsPrivate()
{
    const TempVariable restore;
    QTemporaryDir temp;
    qputenv("TEMP", QFile::encodeName(temp.path()));
    QCOMPARE(WorkingFolder(), temp.path());

    // A TEMP of the user's own that others may read and enter (a ~/tmp of mode 0755).
    QCOMPARE(::chmod(QFile::encodeName(temp.path()).constData(), 0755), 0);
    const QString own = QDir(temp.path()).filePath(QStringLiteral("inkhaven-%1").arg(::geteuid()));
    QCOMPARE(WorkingFolder(), own);
    QCOMPARE(ModeOf(own), mode_t(0700));
    QCOMPARE(::chmod(QFile::encodeName(own).constData(), 0777), 0);
    QCOMPARE(WorkingFolder(), own);
    QCOMPARE(ModeOf(own), mode_t(0700));
    QCOMPARE(TakeWorkingFolderNotice(), QString());

    // The name taken by a link to a folder elsewhere.
    QTemporaryDir elsewhere;
    QVERIFY(QDir(own).removeRecursively());
    QVERIFY(QFile::link(elsewhere.path(), own));
    const QString fallback = WorkingFolder();
    QVERIFY2(fallback.startsWith(own + QLatin1Char('-')), qPrintable(fallback));
    QVERIFY(!QFileInfo(fallback).isSymLink());
    QCOMPARE(ModeOf(fallback), mode_t(0700));
    QVERIFY(QFileInfo(own).isSymLink());
    const QString notice = TakeWorkingFolderNotice();
    for (const QString& part : {own, QStringLiteral("a symbolic link to \"%1\"").arg(elsewhere.path()), fallback})
        QVERIFY2(notice.contains(part), qPrintable(notice));
    QCOMPARE(TakeWorkingFolderNotice(), QString());
    // Kept for the next run, without another word.
    QCOMPARE(WorkingFolder(), fallback);
    QCOMPARE(TakeWorkingFolderNotice(), QString());
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    // A file at the name is left as it is, and the fallback goes with the application.
    QTemporaryDir another;
    qputenv("TEMP", QFile::encodeName(another.path()));
    QCOMPARE(::chmod(QFile::encodeName(another.path()).constData(), 01777), 0);
    const QString file = QDir(another.path()).filePath(QStringLiteral("inkhaven-%1").arg(::geteuid()));
    Write(file, "a file");
    QCOMPARE(InChild([&] {
                 const QString folder = WorkingFolder();
                 const bool made = folder.startsWith(file + QLatin1Char('-')) && QFileInfo(folder).isDir()
                     && TakeWorkingFolderNotice().contains(QStringLiteral("a file of user"));
                 RemoveLeftovers();
                 ::_exit(made && !QFileInfo::exists(folder) ? 0 : 1);
             }),
             0);
    QCOMPARE(ReadAll(file), QByteArray("a file"));
    QCOMPARE(QDir(another.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QFileInfo(file).fileName()});
}

// Another user made the folder, open to all, before the user's first run (only root can
// give a folder to another user, and only root runs the tests in CI): nothing goes into it.
void CommonFilesTest::workingFolderTakenByAnotherUser()
{
    if (::geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    const TempVariable restore;
    QTemporaryDir temp;
    QCOMPARE(::chmod(QFile::encodeName(temp.path()).constData(), 01777), 0);
    qputenv("TEMP", QFile::encodeName(temp.path()));
    const QString own = QDir(temp.path()).filePath(QStringLiteral("inkhaven-%1").arg(::geteuid()));
    QVERIFY(QDir().mkdir(own));
    QCOMPARE(::chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
    QCOMPARE(::chmod(QFile::encodeName(own).constData(), 0777), 0);

    const QString folder = WorkingFolder();
    QVERIFY2(folder.startsWith(own + QLatin1Char('-')), qPrintable(folder));
    QCOMPARE(ModeOf(folder), mode_t(0700));
    const QString notice = TakeWorkingFolderNotice();
    QVERIFY2(notice.contains(QStringLiteral("a folder of user")) && notice.contains(QStringLiteral("65534"))
                 && notice.contains(QStringLiteral("mode 0777")),
             qPrintable(notice));
    WriteBytesToFile("letter", QDir(folder).filePath(QStringLiteral("letter.dot")));
    QCOMPARE(QDir(own).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    struct stat info {};
    QVERIFY(::lstat(QFile::encodeName(own).constData(), &info) == 0 && info.st_uid == 65534);
    DeleteFile(QDir(folder).filePath(QStringLiteral("letter.dot")));
}

void CommonFilesTest::replaceWithCopyOverwrites()
{
    const QString source = mDir.filePath(QStringLiteral("source.doc"));
    const QString target = mDir.filePath(QStringLiteral("with space ä.doc"));
    Write(source, QByteArray(200000, 'a'));
    Write(target, "old");
    ReplaceFileWithCopy(source, target);
    QCOMPARE(ReadAll(target), ReadAll(source));
}

void CommonFilesTest::placeCopyNeverWritesOverUnlessAsked()
{
    QTemporaryDir folder;
    const QString source = mDir.filePath(QStringLiteral("made.doc"));
    Write(source, "new letter");
    const QString target = folder.filePath(QStringLiteral("002-Müller & Söhne.doc"));
    QVERIFY(PlaceCopy(source, target, false));
    QCOMPARE(ReadAll(target), QByteArray("new letter"));

    Write(target, "the user's letter");
    QVERIFY(!PlaceCopy(source, target, false));
    QCOMPARE(ReadAll(target), QByteArray("the user's letter"));
    // A dangling link is in the way as well, and stays a link.
    const QString link = folder.filePath(QStringLiteral("003.doc"));
    QVERIFY(QFile::link(folder.filePath(QStringLiteral("nowhere")), link));
    QVERIFY(!PlaceCopy(source, link, false));
    QVERIFY(QFileInfo(link).isSymLink());

    QVERIFY(PlaceCopy(source, target, true));
    QCOMPARE(ReadAll(target), QByteArray("new letter"));
    // A copy that fails keeps the target as it was, and no hidden part is left beside the
    // targets, whatever happened.
    QVERIFY_THROWS_EXCEPTION(AppError, ReplaceFileWithCopy(mDir.filePath(QStringLiteral("gone.doc")), target));
    QCOMPARE(ReadAll(target), QByteArray("new letter"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);

    // A file the office saved is taken as the file it is, never through a link put in its
    // place (to a secret of the user's), and a source that cannot be taken stays where it is.
    const QString secret = mDir.filePath(QStringLiteral("secret.txt"));
    Write(secret, "secret");
    const QString saved = mDir.filePath(QStringLiteral("saved.doc"));
    QVERIFY(QFile::link(secret, saved));
    try {
        MoveFileOver(saved, target);
        QFAIL("a link was copied");
    } catch (const AppError& error) {
        QVERIFY2(error.Description().contains(QLatin1String("symbolic link")), qPrintable(error.Description()));
    }
    QCOMPARE(ReadAll(target), QByteArray("new letter"));
    QVERIFY(QFileInfo(saved).isSymLink());
    QFile::remove(saved);
    Write(saved, "saved letter");
    MoveFileOver(saved, target);
    QCOMPARE(ReadAll(target), QByteArray("saved letter"));
    QVERIFY(!QFileInfo::exists(saved));
    if (::geteuid() == 0) {
        Write(saved, "another user's");
        QCOMPARE(::chown(QFile::encodeName(saved).constData(), 65534, 65534), 0);
        QVERIFY_THROWS_EXCEPTION(AppError, MoveFileOver(saved, target));
        QCOMPARE(ReadAll(target), QByteArray("saved letter"));
    }
}

// Saving over a file (the preview's save, inkhaven-batch --force): the user's own file
// keeps the mode the user gave it; another user's file passes nothing on, and the copy has
// the mode of any new file of the user's. (Only root can give a file to another user.)
void CommonFilesTest::replacedFileKeepsOnlyTheUsersOwnMode()
{
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("made.doc"));
    Write(source, "new letter");
    const mode_t savedMask = ::umask(022);
    const auto restoreMask = qScopeGuard([savedMask] { ::umask(savedMask); });
    const QString mine = folder.filePath(QStringLiteral("mine.doc"));
    Write(mine, "old");
    QCOMPARE(::chmod(QFile::encodeName(mine).constData(), 0640), 0);
    QVERIFY(PlaceCopy(source, mine, true));
    QCOMPARE(ModeOf(mine), mode_t(0640));
    const QString fresh = folder.filePath(QStringLiteral("fresh.doc"));
    QVERIFY(PlaceCopy(source, fresh, false));
    QCOMPARE(ModeOf(fresh), mode_t(0644));

    if (::geteuid() != 0)
        QSKIP("the user's own files passed; giving a file to another user needs root");
    const QString theirs = folder.filePath(QStringLiteral("theirs.doc"));
    Write(theirs, "another user's");
    QCOMPARE(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    for (const mode_t mode : {mode_t(0666), mode_t(0777)}) {
        QCOMPARE(::chmod(QFile::encodeName(theirs).constData(), mode), 0);
        QVERIFY(PlaceCopy(source, theirs, true));
        QCOMPARE(ReadAll(theirs), QByteArray("new letter"));
        struct stat info {};
        QVERIFY(::lstat(QFile::encodeName(theirs).constData(), &info) == 0);
        QCOMPARE(info.st_uid, ::geteuid());
        QCOMPARE(info.st_mode & 07777, mode_t(0644));
        QCOMPARE(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    }
}

void CommonFilesTest::fileExists()
{
    QVERIFY(!FileExists(QString()));
    const QString path = mDir.filePath(QStringLiteral("exists.txt"));
    QVERIFY(!FileExists(path));
    Write(path, "x");
    QVERIFY(FileExists(path));
    DeleteFile(path);
    QVERIFY(!FileExists(path));
    QVERIFY_THROWS_EXCEPTION(AppError, DeleteFile(path));
    QVERIFY(!FileExists(QStringLiteral("\x01:/bad\n<path>")));
}

void CommonFilesTest::tempFolderFallsBack()
{
    const QByteArray temp = qgetenv("TEMP"), tmpdir = qgetenv("TMPDIR");
    qputenv("TEMP", "/var/tmp/a");
    qputenv("TMPDIR", "/var/tmp/b");
    QCOMPARE(TempFolder(), QStringLiteral("/var/tmp/a"));
    qunsetenv("TEMP");
    QCOMPARE(TempFolder(), QStringLiteral("/var/tmp/b"));
    qunsetenv("TMPDIR");
    QCOMPARE(TempFolder(), QDir::tempPath());
    QCOMPARE(JoinPath(QStringLiteral("/tmp/"), QStringLiteral("temp.bmp")), QStringLiteral("/tmp/temp.bmp"));
    QCOMPARE(JoinPath(QStringLiteral("/tmp"), QStringLiteral("temp.bmp")), QStringLiteral("/tmp/temp.bmp"));
    if (!temp.isNull())
        qputenv("TEMP", temp);
    if (!tmpdir.isNull())
        qputenv("TMPDIR", tmpdir);
}

void CommonFilesTest::optionalItemsBesideExecutableFirst()
{
    const QDir root(mDir.path());
    QVERIFY(root.mkpath(QStringLiteral("beside/x")) && root.mkpath(QStringLiteral("data/x")));
    QVERIFY(root.mkpath(QStringLiteral("data/Splash")));
    const QStringList folders{root.filePath(QStringLiteral("beside")), root.filePath(QStringLiteral("data"))};
    const auto path = [&](const char* relative) { return root.filePath(QLatin1String(relative)); };

    // Absent everywhere: the path beside the executable, so the item reads as absent.
    QCOMPARE(FirstHolding(folders, QStringLiteral("HAND-M.CUR")), path("beside/HAND-M.CUR"));
    Write(path("data/HAND-M.CUR"), "d");
    QCOMPARE(FirstHolding(folders, QStringLiteral("HAND-M.CUR")), path("data/HAND-M.CUR"));
    Write(path("beside/HAND-M.CUR"), "b");
    QCOMPARE(FirstHolding(folders, QStringLiteral("HAND-M.CUR")), path("beside/HAND-M.CUR"));

    // A path below a subfolder, and a folder as the item.
    Write(path("data/x/o.cjs"), "d");
    QCOMPARE(FirstHolding(folders, QStringLiteral("x/o.cjs")), path("data/x/o.cjs"));
    QCOMPARE(FirstHolding(folders, QStringLiteral("Splash")), path("data/Splash"));
    QVERIFY(root.mkpath(QStringLiteral("beside/Splash")));
    QCOMPARE(FirstHolding(folders, QStringLiteral("Splash")), path("beside/Splash"));

    QCOMPARE(QFileInfo(DataFolder()).fileName(), QStringLiteral("inkhaven"));
    QVERIFY(!DataFolder().contains(QStringLiteral("..")));
}


// An office folder whose owner failed to remove it, and the socket of a killed office, stay
// in the instance's journal, so that the next start removes them once the instance has died.
void CommonFilesTest::leftoverTheOwnerCouldNotRemoveGoesAtNextStart()
{
    QTemporaryDir root;
    const QString journals = root.filePath(QStringLiteral("instances"));
    const QString office = root.filePath(QStringLiteral("inkhaven-office-x"));
    const QString removed = root.filePath(QStringLiteral("inkhaven-office-y"));
    const QString socket = root.filePath(QStringLiteral("OSL_PIPE_inkhaven-z"));
    QVERIFY(QDir().mkpath(office + QStringLiteral("/user")) && QDir().mkpath(removed));
    // The socket a killed office leaves.
    const FileDescriptor listening(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(socket).constData(), sizeof(address.sun_path) - 1);
    QVERIFY(::bind(listening.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0);
    QCOMPARE(InChild([&] {
                 // Never destroyed: the instance dies with its journal in place.
                 new LeftoverJournal(journals);
                 NoteLeftoverFolder(office);
                 NoteLeftoverFolder(removed);
                 NoteLeftoverSocket(socket);
                 QDir(removed).removeRecursively();
                 ForgetLeftover(removed);
                 ForgetLeftover(office);
             }),
             0);
    QVERIFY(QFileInfo::exists(office));
    QVERIFY(QDir().mkpath(removed));
    QVERIFY(QFileInfo::exists(socket));
    QCOMPARE(InChild([&] { const LeftoverJournal next(journals); }), 0);
    QVERIFY(!QFileInfo::exists(office));
    QVERIFY(!QFileInfo::exists(socket));
    // What the dead instance had removed and forgotten is no longer its to remove.
    QVERIFY(QFileInfo::exists(removed));

    // A noted folder exchanged for a link to the user's documents, again and again while the
    // next start removes it: nothing is taken from where the link points.
    const QString documents = root.filePath(QStringLiteral("Documents"));
    QVERIFY(QDir().mkpath(documents));
    for (int file = 0; file < 20; ++file)
        Write(QDir(documents).filePath(QString::number(file)), "the user's");
    const QByteArray swapped = QFile::encodeName(office), away = swapped + ".away";
    for (int round = 0; round < 10; ++round) {
        QVERIFY(QDir().mkpath(office));
        for (int file = 0; file < 500; ++file)
            Write(QDir(office).filePath(QString::number(file)), "working");
        QCOMPARE(InChild([&] {
                     new LeftoverJournal(journals);
                     NoteLeftoverFolder(office);
                 }),
                 0);
        std::atomic<bool> sweeping = true;
        std::atomic<int> exchanges = 0;
        std::thread exchanging([&] {
            while (sweeping) {
                if (::rename(swapped.constData(), away.constData()) == 0) {
                    ::symlink(QFile::encodeName(documents).constData(), swapped.constData());
                    ::usleep(300);
                    ::unlink(swapped.constData());
                    ::rename(away.constData(), swapped.constData());
                    ++exchanges;
                    ::usleep(1000);
                }
            }
        });
        while (exchanges == 0)
            std::this_thread::yield();
        QCOMPARE(InChild([&] { const LeftoverJournal next(journals); }), 0);
        sweeping = false;
        exchanging.join();
        QCOMPARE(QDir(documents).entryList(QDir::Files).size(), 20);
        QDir(office).removeRecursively();
        QDir(QFile::decodeName(away)).removeRecursively();
    }
}

// The handler of an ending signal leaves errno as the code it interrupted had it, and
// neither end of its pipe to the watch can block: a handler that waited on a full pipe
// could stop the thread that holds what the watch needs. In a child, since the signal
// begins the ending.
void CommonFilesTest::signalHandlerKeepsErrnoAndNeverBlocks()
{
    QCOMPARE(InChild([] {
                 const QSet<int> before = OpenDescriptors();
                 const TerminationWatch watch(std::stop_source(), {}, std::chrono::hours(1));
                 const QSet<int> made = OpenDescriptors() - before;
                 int blocking = 0;
                 for (const int fd : made)
                     blocking += (::fcntl(fd, F_GETFL) & O_NONBLOCK) == 0 ? 1 : 0;
                 // Many, so that the pipe may fill and the handler's write fail.
                 bool kept = true;
                 for (int i = 0; i < 20000 && kept; ++i) {
                     errno = EDOM;
                     ::raise(SIGHUP);
                     kept = errno == EDOM;
                 }
                 ::_exit(made.size() == 2 && blocking == 0 && kept ? 0 : 1);
             }),
             0);
}

QTEST_GUILESS_MAIN(CommonFilesTest)
#include "test_common_files.moc"
