// The hand cursor, centring, the skin and the push buttons' mouse moves.
#include "ui/PushButton.h"
#include "ui/Theme.h"
#include "ui/WindowUtilities.h"

#include <QBuffer>
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

namespace {
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

class CommonUiTest : public QObject {
    Q_OBJECT

private slots:
    void cursorFileWithHotspot();
    void centerFormUsesWholeScreen();
    void skinAndTheme();
    void pushButtonReportsMouseMoves();

private:
    QTemporaryDir mDir;
};

void CommonUiTest::cursorFileWithHotspot()
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

void CommonUiTest::centerFormUsesWholeScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QWidget window;
    window.setFixedSize(301, 200);
    CentreWindow(window);
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
    CentreWindow(tall);
    QCOMPARE(tall.y(), QGuiApplication::primaryScreen()->availableGeometry().y());
}

void CommonUiTest::skinAndTheme()
{
    QWidget window;
    auto* group = new QGroupBox(&window);
    auto* label = new QLabel(group);
    auto* field = new QLineEdit(group);
    const QColor fieldBase = field->palette().color(QPalette::Base);
    SetBackColour(window, Qt::white);
    SetBackColour(*label, Qt::white);

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
    SetBackColour(*picture, Qt::white);
    ApplyTheme(preview);
    QCOMPARE(preview.palette().color(QPalette::Window), ButtonFaceColour());
    QCOMPARE(caption->palette().color(QPalette::Window), ButtonFaceColour());
    QCOMPARE(picture->palette().color(QPalette::Window), QColor(Qt::white));
}

void CommonUiTest::pushButtonReportsMouseMoves()
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

QTEST_MAIN(CommonUiTest)
#include "test_common_ui.moc"
