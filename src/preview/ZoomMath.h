#pragma once

#include <QtGlobal>

#include <optional>

// The arithmetic of zooming and scrolling the preview's page, free of widgets.
namespace ZoomMath {

inline constexpr float MinimumZoom = 0.25f;
inline constexpr float MaximumZoom = 4.0f;
inline constexpr float ZoomIncrement = 0.25f;

// A zoomed page is painted only while it stays below both sizes (pixels).
inline constexpr int PageWidthLimit = 4000;
inline constexpr int PageHeightLimit = 9000;

// Up to this overflow (pixels) one scroll unit moves the page one pixel; beyond it, ten.
inline constexpr int FineScrollLimit = 100;
inline constexpr qint16 FineStep = 1;
inline constexpr qint16 CoarseStep = 10;

// One notch of a mouse wheel in the units QWheelEvent reports.
inline constexpr int WheelNotch = 120;

// The nearest whole number, halves going to the even neighbour; saturates at the int range.
int RoundHalfEven(double value);

// The same, saturating at the range of a 16-bit integer (scroll values are 16-bit).
qint16 ToInt16(double value);

enum class ZoomDirection { In, Out };

// The factor one step from zoom in direction, formed in single precision. The result may
// lie outside the allowed range.
float NextZoom(float zoom, ZoomDirection direction);

// True for 0.25 <= zoom <= 4.0.
bool ZoomAllowed(float zoom);

struct PageSize {
    int width = 0;
    int height = 0;
};

// floor(zoom x width) and floor(zoom x height), the products in double precision.
PageSize ZoomedSize(float zoom, int width, int height);

// True when both sides stay below the page limits.
bool WithinPageLimits(const PageSize& size);

// The unscaled page: the zoom source's inner size less the two border pixels that the
// page picture had around the snapshot, each rounded to a whole number.
PageSize UnscaledSize(double sourceInnerWidth, double sourceInnerHeight);

// Range of one scroll bar for a page and the viewport, both outer sizes along one axis.
struct ScrollRange {
    bool enabled = false;
    // Set only when enabled; a bar whose page fits keeps its old maximum.
    std::optional<qint16> maximum;
    // Pixels one scroll unit moves the page: 0 when the page fits, else 1 or 10.
    qint16 step = 0;
};
ScrollRange ScrollRangeFor(int pageOuter, int viewportOuter);

// The page offset for a scroll value: -(step x value), as a 16-bit integer.
qint16 ScrollOffset(qint16 step, int value);

// The scroll value for percent of maximum, rounded half to even; std::nullopt when
// percent lies outside 0 to 100.
std::optional<qint16> ValueForPercent(qint16 percent, int maximum);

// Scroll units for a wheel movement of delta: whole notches only, each worth
// unitsPerNotch; what is left of a partial notch stays in pendingDelta for the next call.
int WheelUnits(int& pendingDelta, int delta, int unitsPerNotch);

}
