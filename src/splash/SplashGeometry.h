#pragma once

#include <QLine>
#include <QRect>
#include <QSize>

#include <array>

// Layout of the splash window around a picture. The layout is worked out in twips
// (1/1440 inch) from the window's top-left corner, and converted to pixels at 15 twips
// per pixel, rounded to the nearest pixel, for placing the widgets.

inline constexpr int TwipsPerPixel = 15;

// The check box keeps its design left and size; only its top follows the picture.
inline constexpr int CheckLeftTwips = 120;
inline constexpr int CheckWidthTwips = 4215;
inline constexpr int CheckHeightTwips = 375;
// Gap between the check box's lower edge and the window's lower edge.
inline constexpr int CheckBottomGapTwips = 20;
// White strip below the picture that holds the check box.
inline constexpr int StripHeightTwips = 300;
// Length of the border lines; the window clips what lies beyond its edges.
inline constexpr int LineLengthTwips = 10000;
// The right and bottom lines sit this far inside the window.
inline constexpr int LineInsetTwips = 10;

int TwipsToPixels(int twips);
QRect TwipsToPixels(const QRect& twips);

// Pixels covered by a one-pixel, horizontal or vertical line given in twips, both ends
// included, clipped to a window of windowPx.
QRect LinePixels(const QLine& twips, const QSize& windowPx);

struct SplashGeometry {
    // In twips.
    QRect image;   // the picture plus the strip below it
    QSize window;
    QRect check;
    std::array<QLine, 4> lines;  // left, top, right and bottom edge, before clipping

    // In pixels.
    QRect imagePx;
    QSize windowPx;
    QRect checkPx;                   // may run past the window, which clips it
    std::array<QRect, 4> linesPx;    // clipped to the window
};

SplashGeometry ComputeSplashGeometry(int pictureWidthPx, int pictureHeightPx);
