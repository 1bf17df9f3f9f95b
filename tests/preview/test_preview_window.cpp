#include "PreviewTestSupport.h"
#include "preview/SharpPage.h"
#include "support/PageRendering.h"

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

namespace {
// US Letter pages of text as a PDF document, as the office exports the letter.
QByteArray TextPages(int count)
{
    return LetterPdf(count, [](QPainter& painter, int page) {
        painter.setFont(QFont(QStringLiteral("Liberation Serif"), 11));
        for (int line = 0; line < 50; ++line)
            painter.drawText(QPointF(72, 72 + 13.5 * line),
                             QStringLiteral("Page %1, line %2: a proposal for the quick brown fox.").arg(page + 1).arg(line + 1));
    });
}

// The share of the pixels of area in shown whose grey differs by more than a quarter of the
// range from expected, which holds the page whose top left lies at origin of shown.
double Differing(const QImage& shown, const QRect& area, const QImage& expected, QPoint origin)
{
    int differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const int grey = qGray(shown.pixel(x, y));
            if (std::abs(grey - qGray(expected.pixel(x - origin.x(), y - origin.y()))) > 64)
                ++differing;
        }
    }
    return static_cast<double>(differing) / (area.width() * area.height());
}
}

class PreviewWindowTest : public QObject {
    Q_OBJECT

    static void ShowWith(PreviewFixture& f, const QImage& picture)
    {
        f.form->SetPicture(picture);
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    }

    // Drags with the left button through the window system, from a point of the page
    // (inner coordinates) by delta; releases only when told. Returns where the pointer is.
    static QPoint Drag(PreviewFixture& f, QPoint from, QPoint delta, bool release = true)
    {
        QWindow* window = f.form->windowHandle();
        const QPoint start = f.Page().mapTo(f.form.get(), from + QPoint(1, 1));
        QTest::mousePress(window, Qt::LeftButton, {}, start);
        QTest::mouseMove(window, start + delta);
        if (release)
            QTest::mouseRelease(window, Qt::LeftButton, {}, start + delta);
        return start + delta;
    }

    static void Click(PreviewFixture& f, const char* button, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            QTest::mouseClick(&f.Button(button), Qt::LeftButton);
    }

private slots:
    void SetsUpAtActivation()
    {
        PreviewFixture f;
        QCOMPARE(f.form->size(), QSize(656, 626));
        f.form->SetPicture(MakePage(802, 1042));
        QCOMPARE(f.Page().size(), QSize(156, 229));
        f.form->Activated();
        // The page box took the snapshot's size plus its border; the zoom multiplies the snapshot's own size.
        QCOMPARE(f.Page().size(), QSize(802, 1042));
        QCOMPARE(f.Page().pos(), QPoint(0, 0));
        QVERIFY(f.ZoomSource().isHidden());
        QCOMPARE(f.ZoomSource().Picture().size(), QSize(802, 1042));
        QCOMPARE(f.HBar().maximum(), 18);
        QCOMPARE(f.VBar().maximum(), 55);

        f.form->show();
        Click(f, "zoomInButton");
        f.VBar().setValue(5);
        f.form->Activated();
        QCOMPARE(f.Page().size(), QSize(1002, 1302));
        QCOMPARE(f.Page().pos(), QPoint(0, -50));
    }

    void WorkedExample()
    {
        PreviewFixture f;
        ShowWith(f, MakePage(800, 1040));
        QCOMPARE(f.HBar().maximum(), 18);
        QCOMPARE(f.VBar().maximum(), 54);
        f.VBar().setValue(30);
        QCOMPARE(f.Page().pos(), QPoint(0, -300));

        const QPoint pointer = Drag(f, QPoint(200, 400), QPoint(-125, 0), false);
        QCOMPARE(f.Page().pos(), QPoint(-125, -300));
        f.HBar().setValue(0);
        QCOMPARE(f.Page().pos(), QPoint(-125, -300));
        QTest::mouseRelease(f.form->windowHandle(), Qt::LeftButton, {}, pointer);
        QCOMPARE(f.HBar().value(), 13);
        QCOMPARE(f.VBar().value(), 30);
        QCOMPARE(f.Page().pos(), QPoint(-130, -300));

        Click(f, "zoomInButton");
        QCOMPARE(f.Page().size(), QSize(1000, 1300));
        QCOMPARE(f.Page().pos(), QPoint(0, 0));
        QCOMPARE(f.HBar().value(), 0);
        QCOMPARE(f.VBar().value(), 0);
        // The ranges follow the zoomed page so that all of it can be reached.
        QCOMPARE(f.HBar().maximum(), 38);
        QCOMPARE(f.VBar().maximum(), 80);
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void ZoomRepaintsFromTheSnapshotWithinTheLimits()
    {
        PreviewFixture f;
        const QImage picture = MakePage(800, 1040);
        ShowWith(f, picture);
        Click(f, "zoomOutButton", 4);
        QCOMPARE(f.Page().size(), QSize(200, 260));
        Click(f, "zoomInButton", 3);
        QCOMPARE(f.Page().Surface(), picture.copy(0, 0, 798, 1038));
        Click(f, "zoomInButton", 13);
        QCOMPARE(f.Page().size(), QSize(3200, 4160));

        PreviewFixture wide;
        ShowWith(wide, MakePage(1000, 1200));
        Click(wide, "zoomInButton", 12);
        QCOMPARE(wide.Page().width(), 3750);
        Click(wide, "zoomInButton");
        QCOMPARE(wide.Page().size(), QSize(1250, 1500));

        PreviewFixture narrow;
        ShowWith(narrow, MakePage(500, 1040));
        QVERIFY(!narrow.HBar().isEnabled());
        Click(narrow, "zoomInButton");
        QVERIFY(narrow.HBar().isEnabled());
        narrow.HBar().setValue(3);
        QCOMPARE(narrow.Page().x(), -3);
    }

    void DragStopsAtTheEdges()
    {
        PreviewFixture f;
        ShowWith(f, MakePage(800, 1040));
        Drag(f, QPoint(100, 100), QPoint(150, 150));
        QCOMPARE(f.Page().pos(), QPoint(0, 0));
        Drag(f, QPoint(300, 480), QPoint(-290, -470));
        // Dropped at -470 of 545: 86 % of 54 is 46.44, so the page snaps to -460.
        QCOMPARE(f.Page().pos(), QPoint(-180, -460));
        Drag(f, QPoint(300, 900), QPoint(-290, -440));
        // 101 % across is ignored; 100 % down goes to the last step.
        QCOMPARE(f.Page().pos(), QPoint(-180, -540));
        QCOMPARE(f.HBar().value(), 0);

        PreviewFixture same;
        ShowWith(same, MakePage(622, 495));
        Drag(same, QPoint(100, 100), QPoint(-50, -50));
        QCOMPARE(same.Page().pos(), QPoint(-2, -2));
    }

    void WheelScrollsTheViewport()
    {
        PreviewFixture f;
        ShowWith(f, MakePage(800, 1040));
        // What the page and the viewport do not take reaches the window.
        const auto wheel = [&](QPointF at, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(at, f.form->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, modifiers,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(f.form.get(), &event);
        };
        const int lines = QApplication::wheelScrollLines();
        wheel(QPointF(100, 100), Qt::NoModifier);
        QCOMPARE(f.Page().pos(), QPoint(0, -10 * lines));
        wheel(QPointF(100, 100), Qt::ShiftModifier);
        QCOMPARE(f.Page().pos(), QPoint(-10 * lines, -10 * lines));
        wheel(QPointF(100, 560), Qt::NoModifier);
        QCOMPARE(f.VBar().value(), lines);
    }

    // The viewport shows the letter's pages rendered at the screen's resolution (zoom times
    // device pixel ratio), where the stretched picture would be soft; scrolled, across a
    // page boundary. Once the page is sharp, the renderer rests: painting again asks it for
    // nothing. Also run with QT_SCALE_FACTOR=2 and 4 (at 4 more tiles are visible than a
    // cache of a fixed 64 kept, and the renderer never came to rest).
    void ZoomedPageIsDrawnSharp()
    {
        const QByteArray pdf = TextPages(3);
        const QImage picture = RenderPdf(pdf, 96);
        PreviewFixture f;
        f.form->SetPicture(picture, pdf);
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        const double ratio = f.form->devicePixelRatioF();
        QCOMPARE(ratio, qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble());
        const SharpPage& sharp = *f.form->findChild<SharpPage*>();
        PictureBox& viewport = *f.form->findChild<PictureBox*>(QStringLiteral("viewport"));
        // The viewport's inner area, less the page box's border, in device pixels.
        const QRect area(QPoint(2, 2) * ratio, QSize(616, 489) * ratio);

        for (const int zoomIns : {0, 2}) {
            Click(f, "zoomInButton", zoomIns);
            const double zoom = 1.0 + 0.25 * zoomIns;
            f.HBar().setValue(5);
            f.VBar().setValue(static_cast<int>(1056 * zoom / 10) - 3);
            QTRY_VERIFY_WITH_TIMEOUT(sharp.Complete(), 30000);
            QTRY_VERIFY_WITH_TIMEOUT(sharp.RendererIdle(), 30000);
            const quint64 jobs = sharp.RenderJobs();

            const QImage shown = viewport.grab().toImage();
            const QImage expected = RenderPdf(pdf, 96 * zoom * ratio);
            const QPoint origin = (f.Page().pos() + QPoint(2, 2)) * ratio;
            QCOMPARE_LT(Differing(shown, area, expected, origin), 0.001);
            // The picture stretched differs where the text is, which this page has plenty of.
            if (zoom * ratio != 1.0) {
                const QImage stretched = picture.scaled(expected.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                QCOMPARE_GT(Differing(stretched, area.translated(-origin), expected, QPoint()), 0.01);
            }
            // Painted again, and with every delivery of the renderer taken in, the page
            // stays sharp without another job.
            viewport.repaint();
            QTest::qWait(100);
            viewport.grab();
            QCOMPARE(sharp.RenderJobs(), jobs);
            QVERIFY(sharp.RendererIdle());
            QVERIFY(sharp.Complete());
        }
    }

    void NewPictureGetsItsOwnSetUp()
    {
        PreviewFixture f;
        ShowWith(f, MakePage(800, 1040));
        Click(f, "zoomInButton", 2);
        f.VBar().setValue(10);
        Click(f, "backButton");
        QVERIFY(f.form->isHidden());

        ShowWith(f, MakePage(600, 700, Qt::green, Qt::yellow));
        QCOMPARE(f.Page().size(), QSize(600, 700));
        QCOMPARE(f.Page().pos(), QPoint(0, 0));
        QVERIFY(!f.HBar().isEnabled());
        QCOMPARE(f.VBar().maximum(), 20);
        Click(f, "zoomInButton");
        QCOMPARE(f.Page().size(), QSize(750, 875));
        QCOMPARE(f.Page().Surface().pixelColor(10, 10), QColor(Qt::green));

        f.form->SetPicture(MakePage(900, 1100));
        QCOMPARE(f.Page().size(), QSize(900, 1100));
    }

    void BackAndCloseDeleteTheDocument()
    {
        QTemporaryDir dir;
        PreviewFixture f;
        ShowWith(f, MakePage(800, 1040));
        f.form->mWordFile = dir.filePath(QStringLiteral("varnel12345678.doc"));
        WriteFile(f.form->mWordFile, "letter");
        Click(f, "backButton");
        QVERIFY(!QFile::exists(f.form->mWordFile));
        QCOMPARE(f.dataEntryShown, 1);
        QVERIFY(f.form->isHidden());
        f.form->show();
        // The keypad's Enter presses the focused button as a click does.
        f.Button("backButton").setFocus(Qt::TabFocusReason);
        QTest::keyClick(&f.Button("backButton"), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(f.dataEntryShown, 2);
        QVERIFY(f.dialogs.shown.isEmpty());

        f.form->show();
        WriteFile(f.form->mWordFile, "letter");
        QCOMPARE(f.exits, 0);
        QVERIFY(f.form->close());
        QVERIFY(!QFile::exists(f.form->mWordFile));
        QCOMPARE(f.exits, 1);
        QCOMPARE(f.dataEntryShown, 2);
    }

    void PointerFollowsTheHover()
    {
        PreviewFixture f;
        ShowWith(f, MakePage(800, 1040));
        QWindow* window = f.form->windowHandle();
        const QPoint background(651, 300), frame(12, 575), zoomIn(100, 555), save(400, 600), page(100, 100);
        const auto pointerAfterMoveTo = [&](QPoint at) {
            QTest::mouseMove(window, at);
            return f.form->MousePointer();
        };
        QCOMPARE(pointerAfterMoveTo(zoomIn), PointerShape::Custom);
        QCOMPARE(pointerAfterMoveTo(page), PointerShape::Custom);
        QCOMPARE(pointerAfterMoveTo(frame), PointerShape::Default);
        QCOMPARE(pointerAfterMoveTo(save), PointerShape::Custom);
        QCOMPARE(pointerAfterMoveTo(background), PointerShape::Default);

        f.form->SetMousePointer(PointerShape::Hourglass);
        QCOMPARE(pointerAfterMoveTo(save), PointerShape::Hourglass);
        QCOMPARE(pointerAfterMoveTo(background), PointerShape::Hourglass);
        QCOMPARE(f.form->cursor().shape(), Qt::WaitCursor);
    }
};

QTEST_MAIN(PreviewWindowTest)
#include "test_preview_window.moc"
