#pragma once

#include <QRect>
#include <QSizeF>

#include <vector>

// The arithmetic of drawing the preview's page sharp, free of widgets and of the renderer.
// The page picture holds the letter's pages one below the other at 96 dots per inch; a
// zoomed page shows that picture stretched by a scale per axis. Drawn sharp, the same area
// is rendered from the pages themselves at the scale of the screen's pixels and handed
// out in square tiles of the zoomed page, so that only what is visible needs drawing.
namespace PageTiles {

inline constexpr double PictureDotsPerInch = 96.0;
inline constexpr double PointsPerInch = 72.0;

// Side of a tile in device pixels.
inline constexpr int TileSize = 256;

// Device pixels per pixel of the page picture, along each axis.
struct Scale {
    double x = 1.0;
    double y = 1.0;
    friend bool operator==(const Scale&, const Scale&) = default;
};

// The scale at which a picture of pictureWidth x pictureHeight pixels is shown as a page of
// pageWidth x pageHeight widget pixels on a screen of devicePixelRatio.
Scale ShownScale(int pageWidth, int pageHeight, int pictureWidth, int pictureHeight, double devicePixelRatio);

// True when the picture's own pixels are the screen's: there is nothing sharper to draw.
bool Unscaled(const Scale& scale);

// Where each page (its size in points) lies in the page picture: the pages one below the
// other from the top left, each as many pixels as it measures at 96 dots per inch,
// rounded to the nearest pixel. Only the pages that lie wholly within pictureHeight.
std::vector<QRect> PicturePages(const std::vector<QSizeF>& pagePoints, int pictureHeight);

// A rectangle of the page picture in device pixels at scale, its edges rounded.
QRect ToDevice(const QRect& pictureRect, const Scale& scale);

// The resolution (dots per inch) at which a page is rendered for scale, along each axis.
double RenderResolution(double scale);

// The tiles, in device pixels, that cover area: whole tiles of the grid from the top left
// of the zoomed page, cut at bounds, row by row from the top.
std::vector<QRect> TilesCovering(const QRect& area, const QRect& bounds);

}
