#include "PageTiles.h"

#include <cmath>

namespace PageTiles {

namespace {
int RoundedPixels(double value)
{
    return static_cast<int>(std::floor(value + 0.5));
}
}

Scale ShownScale(int pageWidth, int pageHeight, int pictureWidth, int pictureHeight, double devicePixelRatio)
{
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return {};
    return {devicePixelRatio * pageWidth / pictureWidth, devicePixelRatio * pageHeight / pictureHeight};
}

bool Unscaled(const Scale& scale)
{
    return scale.x == 1.0 && scale.y == 1.0;
}

std::vector<QRect> PicturePages(const std::vector<QSizeF>& pagePoints, int pictureHeight)
{
    std::vector<QRect> pages;
    int top = 0;
    for (const QSizeF& points : pagePoints) {
        const QRect page(0, top, RoundedPixels(points.width() * PictureDotsPerInch / PointsPerInch),
                         RoundedPixels(points.height() * PictureDotsPerInch / PointsPerInch));
        if (page.isEmpty() || page.bottom() >= pictureHeight)
            break;
        pages.push_back(page);
        top += page.height();
    }
    return pages;
}

QRect ToDevice(const QRect& pictureRect, const Scale& scale)
{
    const int left = RoundedPixels(pictureRect.x() * scale.x);
    const int top = RoundedPixels(pictureRect.y() * scale.y);
    const int right = RoundedPixels((pictureRect.x() + pictureRect.width()) * scale.x);
    const int bottom = RoundedPixels((pictureRect.y() + pictureRect.height()) * scale.y);
    return QRect(left, top, right - left, bottom - top);
}

double RenderResolution(double scale)
{
    return PictureDotsPerInch * scale;
}

std::vector<QRect> TilesCovering(const QRect& area, const QRect& bounds)
{
    std::vector<QRect> tiles;
    const QRect wanted = area & bounds;
    if (wanted.isEmpty())
        return tiles;
    for (int row = wanted.top() / TileSize; row * TileSize <= wanted.bottom(); ++row) {
        for (int column = wanted.left() / TileSize; column * TileSize <= wanted.right(); ++column)
            tiles.push_back(QRect(column * TileSize, row * TileSize, TileSize, TileSize) & bounds);
    }
    return tiles;
}

}
