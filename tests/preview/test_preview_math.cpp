#include "preview/DragMath.h"
#include "preview/PageTiles.h"
#include "preview/ZoomMath.h"

#include <QTest>

using namespace ZoomMath;
using DragMath::DropPercent;

class PreviewMathTest : public QObject {
    Q_OBJECT

private slots:
    void RoundingIsHalfToEvenAndSaturates()
    {
        QCOMPARE(RoundHalfEven(54.5), 54);
        QCOMPARE(RoundHalfEven(-2.5), -2);
        QCOMPARE(ToInt16(40000.0), qint16(32767));
        QCOMPARE(ToInt16(-1e12), qint16(-32768));
    }

    // The ranges and offsets of an 800 x 1040 page are checked on the window.
    void ScrollRangesAndPercentages()
    {
        const ScrollRange across = ScrollRangeFor(800, 622);
        QVERIFY(across.enabled);
        QCOMPARE(across.step, qint16(10));
        QCOMPARE(*ScrollRangeFor(722, 622).maximum, qint16(100));
        QCOMPARE(ScrollRangeFor(722, 622).step, qint16(1));
        QCOMPARE(*ScrollRangeFor(723, 622).maximum, qint16(10));
        QCOMPARE(ScrollRangeFor(723, 622).step, qint16(10));
        const ScrollRange fits = ScrollRangeFor(622, 622);
        QVERIFY(!fits.enabled && !fits.maximum);
        QCOMPARE(fits.step, qint16(0));

        QVERIFY(!ValueForPercent(-1, 19));
        QVERIFY(!ValueForPercent(101, 19));
        QCOMPARE(*ValueForPercent(50, 19), qint16(10));
    }

    void DropPercentOfTheOuterOverflow()
    {
        QCOMPARE(*DropPercent(-125, 800, 622), qint16(70));
        QCOMPARE(*DropPercent(-180, 800, 622), qint16(101));
        QCOMPARE(*DropPercent(320, 300, 622), qint16(-99));
        QCOMPARE(*DropPercent(-20000, 623, 622), qint16(32767));
        QVERIFY(!DropPercent(-2, 622, 622));
    }

    void WheelCountsWholeNotches()
    {
        int pending = 0;
        QCOMPARE(WheelUnits(pending, 60, 3), 0);
        QCOMPARE(WheelUnits(pending, 60, 3), 3);
        QCOMPARE(WheelUnits(pending, -240, 3), -6);
    }

    // The pages lie in the picture as the snapshot stacks them (A4 is 793.7 x 1122.5 pixels
    // at 96 dpi); a page the picture does not hold whole is not drawn sharp over it.
    void SharpPagesLieWhereThePictureHasThem()
    {
        const QSizeF a4(595.276, 841.89), letter(612, 792);
        const std::vector<QRect> pages = PageTiles::PicturePages({a4, letter, a4}, 1123 + 1056 + 1122);
        QCOMPARE(pages.size(), std::size_t(2));
        QCOMPARE(pages[0], QRect(0, 0, 794, 1123));
        QCOMPARE(pages[1], QRect(0, 1123, 816, 1056));

        const PageTiles::Scale scale = PageTiles::ShownScale(1224, 3300, 816, 2200, 2.0);
        QCOMPARE(PageTiles::ToDevice(pages[1], scale), QRect(0, 3369, 2448, 3168));
        const std::vector<QRect> tiles = PageTiles::TilesCovering(QRect(300, 500, 300, 10), QRect(0, 0, 520, 6000));
        QCOMPARE(tiles, (std::vector<QRect>{QRect(256, 256, 256, 256), QRect(512, 256, 8, 256)}));
    }
};

QTEST_APPLESS_MAIN(PreviewMathTest)
#include "test_preview_math.moc"
