// Working files, paths, the hand cursor, centring and the skin.
#include "AppError.h"
#include "FileDescriptor.h"
#include "Leftovers.h"
#include "Paths.h"
#include "PushButton.h"
#include "SafeFile.h"
#include "Theme.h"
#include "WindowUtilities.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <sys/socket.h>
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

// A Windows cursor file: an icon file whose type word is 2 and whose entry carries the hotspot.
QByteArray CursorFile(int hotX, int hotY)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    image.setPixelColor(hotX, hotY, Qt::black);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "ICO");
    QByteArray bytes = buffer.data();
    bytes[2] = 2;
    bytes[10] = static_cast<char>(hotX);
    bytes[11] = 0;
    bytes[12] = static_cast<char>(hotY);
    bytes[13] = 0;
    return bytes;
}
}

class CommonFilesTest : public QObject {
    Q_OBJECT

private slots:
    void writeBytesReplacesWholeContent();
    void writeBytesRefusesSymbolicLink();
    void createNewFileClaimsOnlyFreeNames();
    void replaceWithCopyOverwrites();
    void placeCopyNeverWritesOverUnlessAsked();
    void fileExists();
    void tempFolderFallsBack();
    void optionalItemsBesideExecutableFirst();
    void cursorFileWithHotspot();
    void centerFormUsesWholeScreen();
    void skinAndTheme();
    void pushButtonReportsMouseMoves();
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

    // A new working file is readable by its owner only.
    const QString fresh = mDir.filePath(QStringLiteral("fresh.dot"));
    WriteBytesToFile(QByteArray("new"), fresh);
    QCOMPARE(QFile(fresh).permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup), QFile::Permissions());
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

void CommonFilesTest::cursorFileWithHotspot()
{
    const QString path = mDir.filePath(QStringLiteral("HAND-M.CUR"));
    Write(path, CursorFile(9, 3));
    const std::optional<QCursor> cursor = LoadCursorFile(path);
    QVERIFY(cursor.has_value());
    QCOMPARE(cursor->hotSpot(), QPoint(9, 3));
    QCOMPARE(cursor->pixmap().size(), QSize(32, 32));

    // A file that is no cursor, or none at all, gives no cursor.
    const QString broken = mDir.filePath(QStringLiteral("broken.cur"));
    Write(broken, "this is not a cursor");
    QVERIFY(!LoadCursorFile(broken).has_value());
    QVERIFY(!LoadCursorFile(mDir.filePath(QStringLiteral("absent.cur"))).has_value());
}

void CommonFilesTest::centerFormUsesWholeScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QWidget window;
    window.setFixedSize(301, 200);
    CenterForm(window);
    const QPoint offCentre = window.geometry().center() - screen.center();
    QVERIFY(qAbs(offCentre.x()) <= 1 && qAbs(offCentre.y()) <= 1);

    // Larger than the screen less a 30-pixel panel at the top: the title bar stays on the
    // screen along that axis only; a window that fits keeps its centre, even under the panel.
    const QRect whole(0, 0, 800, 600), available(0, 30, 800, 570);
    QCOMPARE(CentredPosition(whole, available, QSize(900, 1000)), QPoint(0, 30));
    QCOMPARE(CentredPosition(whole, available, QSize(300, 1000)), QPoint(250, 30));
    QCOMPARE(CentredPosition(whole, available, QSize(300, 580)), QPoint(250, 30));
    QCOMPARE(CentredPosition(whole, available, QSize(301, 560)), QPoint(249, 20));
    QCOMPARE(CentredPosition(QRect(1920, 0, 1024, 768), QRect(1920, 0, 1024, 740), QSize(1100, 200)), QPoint(1920, 284));

    QWidget tall;
    tall.setFixedSize(100, screen.height() + 400);
    CenterForm(tall);
    QCOMPARE(tall.y(), QGuiApplication::primaryScreen()->availableGeometry().y());
}

void CommonFilesTest::skinAndTheme()
{
    QWidget window;
    auto* group = new QGroupBox(&window);
    auto* label = new QLabel(group);
    auto* field = new QLineEdit(group);
    const QColor fieldBase = field->palette().color(QPalette::Base);
    SetBackColor(window, Qt::white);
    SetBackColor(*label, Qt::white);

    // Without the skin file nothing changes.
    const QString skin = SkinFile();
    QFile::remove(skin);
    ApplySkin(window);
    QCOMPARE(window.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::white));

    QVERIFY(QDir().mkpath(QFileInfo(skin).path()));
    Write(skin, "QLineEdit { border: 2px solid rgb(1, 2, 3); }");
    ApplySkin(window);
    QFile::remove(skin);
    QDir().rmdir(QFileInfo(skin).path());
    QCOMPARE(window.palette().color(QPalette::Window), ButtonFaceColour());
    QCOMPARE(group->palette().color(QPalette::Window), ButtonFaceColour());
    QCOMPARE(label->palette().color(QPalette::Window), ButtonFaceColour());
    QCOMPARE(field->palette().color(QPalette::Base), fieldBase);
    QVERIFY(window.styleSheet().contains(QStringLiteral("rgb(1, 2, 3)")));

    QWidget preview;
    auto* caption = new QLabel(&preview);
    auto* picture = new QWidget(&preview);
    picture->setProperty("pictureBox", true);
    SetBackColor(*picture, Qt::white);
    ApplyTheme(preview);
    QCOMPARE(preview.palette().color(QPalette::Window), ButtonFaceColour());
    QCOMPARE(caption->palette().color(QPalette::Window), ButtonFaceColour());
    QCOMPARE(picture->palette().color(QPalette::Window), QColor(Qt::white));
}

void CommonFilesTest::pushButtonReportsMouseMoves()
{
    PushButton button;
    button.setText(QStringLiteral("Zoom In"));
    QCOMPARE(button.font().family(), QStringLiteral("Arial"));
    QVERIFY(button.font().bold());
    QCOMPARE(button.font().pointSizeF(), 11.25);
    QSignalSpy moves(&button, &PushButton::MouseMove);
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &move);
    QCOMPARE(moves.count(), 1);

    // Enter and the keypad's Enter press it, once however long the key is held; Space still does.
    QSignalSpy clicks(&button, &QPushButton::clicked);
    QTest::keyClick(&button, Qt::Key_Return);
    QTest::keyClick(&button, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(&button, Qt::Key_Space);
    QCOMPARE(clicks.count(), 3);
    QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&button, &held);
    QTest::keyClick(&button, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(clicks.count(), 3);
}

namespace {
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
    QVERIFY(::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0);
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
}

QTEST_MAIN(CommonFilesTest)
#include "test_common_files.moc"
