#include "SplashGeometry.h"

#include <cmath>

int TwipsToPixels(int twips)
{
    return static_cast<int>(std::lround(static_cast<double>(twips) / TwipsPerPixel));
}

QRect TwipsToPixels(const QRect& twips)
{
    return QRect(TwipsToPixels(twips.left()), TwipsToPixels(twips.top()), TwipsToPixels(twips.width()),
                 TwipsToPixels(twips.height()));
}

QRect LinePixels(const QLine& twips, const QSize& windowPx)
{
    const QPoint from(TwipsToPixels(twips.x1()), TwipsToPixels(twips.y1()));
    const QPoint to(TwipsToPixels(twips.x2()), TwipsToPixels(twips.y2()));
    return QRect(from, to).normalized().intersected(QRect(QPoint(0, 0), windowPx));
}

SplashGeometry ComputeSplashGeometry(int pictureWidthPx, int pictureHeightPx)
{
    SplashGeometry g;
    const int width = pictureWidthPx * TwipsPerPixel;
    const int height = pictureHeightPx * TwipsPerPixel + StripHeightTwips;

    g.image = QRect(0, 0, width, height);
    g.window = QSize(width, height);
    g.check = QRect(CheckLeftTwips, height - CheckHeightTwips - CheckBottomGapTwips, CheckWidthTwips,
                    CheckHeightTwips);
    g.lines = {
        QLine(0, 0, 0, LineLengthTwips),
        QLine(0, 0, LineLengthTwips, 0),
        QLine(width - LineInsetTwips, 0, width - LineInsetTwips, LineLengthTwips),
        QLine(0, height - LineInsetTwips, LineLengthTwips, height - LineInsetTwips),
    };

    g.imagePx = TwipsToPixels(g.image);
    g.windowPx = QSize(TwipsToPixels(width), TwipsToPixels(height));
    g.checkPx = TwipsToPixels(g.check);
    for (std::size_t i = 0; i < g.lines.size(); ++i)
        g.linesPx[i] = LinePixels(g.lines[i], g.windowPx);
    return g;
}
