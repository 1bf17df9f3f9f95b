#include "core/Dialogs.h"
#include "splash/SplashGeometry.h"
#include "splash/SplashWindow.h"
#include "support/FakePlatform.h"
#include "support/FakeSettings.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>

namespace {
void SavePicture(const QString& path, int width, int height, QColor colour = Qt::red)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(image.save(path, "PNG"));
}

// A time-of-day clock that passes midnight midnightIn seconds into the wait.
class MidnightClock : public FakeClock {
public:
    double SecondsSinceMidnight() const override
    {
        return std::fmod(86400.0 - midnightIn + monotonic - 1000.0, 86400.0);
    }
    double midnightIn = 1.0;
};

// The system's clock, counting how often the monotonic time is read.
class CountingClock : public SystemClock {
public:
    double MonotonicSeconds() const override
    {
        ++reads;
        return SystemClock::MonotonicSeconds();
    }
    mutable int reads = 0;
};
}

class SplashWindowTest : public QObject {
    Q_OBJECT

private slots:
    void geometryOfA400By300Picture()
    {
        const SplashGeometry g = ComputeSplashGeometry(400, 300);
        QCOMPARE(g.window, QSize(6000, 4800));
        QCOMPARE(g.image, QRect(0, 0, 6000, 4800));
        QCOMPARE(g.check, QRect(120, 4405, 4215, 375));
        QCOMPARE(g.lines[0], QLine(0, 0, 0, 10000));
        QCOMPARE(g.lines[1], QLine(0, 0, 10000, 0));
        QCOMPARE(g.lines[2], QLine(5990, 0, 5990, 10000));
        QCOMPARE(g.lines[3], QLine(0, 4790, 10000, 4790));
        // The window's and the check box's pixels are checked on the shown splash.
        QCOMPARE(g.linesPx[0], QRect(0, 0, 1, 320));
        QCOMPARE(g.linesPx[1], QRect(0, 0, 400, 1));
        QCOMPARE(g.linesPx[2], QRect(399, 0, 1, 320));
        QCOMPARE(g.linesPx[3], QRect(0, 319, 400, 1));
    }

    void narrowPictureLeavesCheckBoxPastTheEdge()
    {
        // 20 twips above the lower edge, at the same left and of the same size as ever.
        const SplashGeometry g = ComputeSplashGeometry(100, 50);
        QCOMPARE(g.checkPx, QRect(8, 44, 281, 25));
        QVERIFY(g.checkPx.right() >= g.windowPx.width());
        QCOMPARE(g.linesPx[1], QRect(0, 0, 100, 1));
    }

    void decidesWhetherToShow_data()
    {
        QTest::addColumn<QString>("showAgain");  // null: key absent
        QTest::addColumn<QStringList>("pictures");
        QTest::addColumn<QString>("junk");
        QTest::addColumn<bool>("shown");
        const QStringList one{"Splash/a.png"};
        QTest::newRow("no folder") << QString() << QStringList() << QString() << false;
        QTest::newRow("empty folder") << QString() << QStringList{"Splash/"} << QString() << false;
        QTest::newRow("hidden file only") << QString() << QStringList{"Splash/.a.png"} << QString() << false;
        QTest::newRow("subfolder only") << QString() << QStringList{"Splash/b.png/a.png"} << QString() << false;
        QTest::newRow("ShowAgain 1") << "1" << one << QString() << false;
        QTest::newRow("ShowAgain 2") << "2" << one << QString() << false;
        QTest::newRow("first file no picture") << QString() << QStringList() << "Splash/a.png" << false;
        QTest::newRow("ShowAgain absent") << QString() << one << QString() << true;
        QTest::newRow("ShowAgain 0") << "0" << one << QString() << true;
        QTest::newRow("ShowAgain abc") << "abc" << one << QString() << true;
    }

    void decidesWhetherToShow()
    {
        QFETCH(QString, showAgain);
        QFETCH(QStringList, pictures);
        QFETCH(QString, junk);
        QFETCH(bool, shown);
        QTemporaryDir dir;
        for (const QString& name : pictures)
            name.endsWith('/') ? void(QDir(dir.path()).mkpath(name)) : SavePicture(dir.filePath(name), 40, 30);
        if (!junk.isEmpty()) {
            QDir(dir.path()).mkpath("Splash");
            QFile file(dir.filePath(junk));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
        }
        FakeSettings settings;
        if (!showAgain.isNull())
            settings.values.insert(FakeSettings::Address("Kestrelworks", "Inkhaven", "ShowAgain"), showAgain);
        FakeClock clock;
        clock.stepPerRead = 1.0;
        SplashWindow splash(settings, clock, {});
        splash.SetSplashFolder(dir.filePath("Splash"));
        bool visibleDuringWait = false;
        QTimer::singleShot(0, &splash, [&] { visibleDuringWait = splash.isVisible(); });

        splash.ShowAtStartUp();
        QCOMPARE(visibleDuringWait, shown);
        QCOMPARE(clock.monotonic - 1000.0 >= 4.0, shown);
        QCOMPARE(clock.monotonic == 1000.0, !shown);
        QVERIFY(!splash.isVisible());
        QVERIFY(settings.writes.isEmpty());
    }

    void showsPictureCentredWithBorderAndClickableCheckBox()
    {
        QTemporaryDir dir;
        SavePicture(dir.filePath("Splash/p.png"), 400, 300);
        FakeSettings settings;
        FakeClock clock;
        clock.stepPerRead = 0.5;
        SplashWindow splash(settings, clock, {});
        splash.SetSplashFolder(dir.filePath("Splash"));
        auto* check = splash.findChild<QCheckBox*>("hideAtStartUpCheck");
        QStringList valuesAfterClicks;
        QImage shot;
        QTimer::singleShot(0, &splash, [&] {
            QCOMPARE(splash.windowTitle(), QLatin1String(ApplicationTitle));
            QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            QCOMPARE(splash.geometry(), QRect(screen.center() - QPoint(199, 159), QSize(400, 320)));
            QCOMPARE(splash.findChild<QLabel*>("picture")->geometry(), QRect(0, 0, 400, 320));
            QCOMPARE(check->geometry(), QRect(8, 294, 281, 25));
            QVERIFY(!check->isChecked());
            shot = splash.grab().toImage();
            for (int i = 0; i < 2; ++i) {
                QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, 12));
                valuesAfterClicks << settings.Value("ShowAgain");
            }
        });

        splash.ShowAtStartUp();
        QCOMPARE(valuesAfterClicks, QStringList({"1", "0"}));
        QCOMPARE(settings.writes, QStringList({"ShowAgain=1", "ShowAgain=0"}));
        QVERIFY(!splash.isVisible());
        const QColor text = splash.palette().color(QPalette::WindowText);
        QCOMPARE(shot.size(), QSize(400, 320));
        for (const QPoint edge : {QPoint(0, 150), QPoint(200, 0), QPoint(399, 150), QPoint(350, 319)})
            QCOMPARE(shot.pixelColor(edge), text);
        QCOMPARE(shot.pixelColor(200, 150), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(1, 150), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(350, 305), QColor(Qt::white));
        QCOMPARE(shot.pixelColor(250, 300), QColor(Qt::white));  // the check box's own background
    }

    void waitEndsOnceTimeHasPassed_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("step");
        QTest::newRow("4 s") << 4.0 << 0.5;
        QTest::newRow("fraction") << 0.25 << 0.1;
    }

    void waitEndsOnceTimeHasPassed()
    {
        QFETCH(double, seconds);
        QFETCH(double, step);
        FakeSettings settings;
        MidnightClock clock;
        clock.stepPerRead = step;
        // Midnight passes halfway through the wait.
        clock.midnightIn = seconds / 2;
        SplashWindow splash(settings, clock, {});
        splash.WaitSeconds(seconds);
        // The last read saw the time passed, the one before did not.
        const double lastElapsed = clock.monotonic - 1000.0 - step;
        QVERIFY(lastElapsed >= seconds - 1e-9);
        QVERIFY(lastElapsed - step < seconds);
    }

    // The real wait lets events run and sleeps between looks at the clock: a loop that spun
    // would look thousands of times.
    void realWaitHandlesEventsWithoutSpinning()
    {
        FakeSettings settings;
        CountingClock clock;
        SplashWindow splash(settings, clock, {});
        bool timerFired = false;
        QTimer::singleShot(20, &splash, [&] { timerFired = true; });
        const double start = clock.MonotonicSeconds();
        splash.WaitSeconds(0.4);
        QVERIFY(clock.MonotonicSeconds() - start >= 0.4);
        QVERIFY(timerFired);
        QVERIFY2(clock.reads < 40, qPrintable(QString::number(clock.reads)));
    }
};

QTEST_MAIN(SplashWindowTest)
#include "test_splash_window.moc"
