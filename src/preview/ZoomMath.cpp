#include "ZoomMath.h"

#include <cmath>
#include <limits>

namespace ZoomMath {

namespace {
template <class Int>
Int RoundInto(double value)
{
    const double rounded = std::nearbyint(value);
    if (std::isnan(rounded))
        return 0;
    if (rounded <= static_cast<double>(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (rounded >= static_cast<double>(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(rounded);
}
}

int RoundHalfEven(double value)
{
    return RoundInto<int>(value);
}

qint16 ToInt16(double value)
{
    return RoundInto<qint16>(value);
}

float NextZoom(float zoom, ZoomDirection direction)
{
    return direction == ZoomDirection::In ? zoom + ZoomIncrement : zoom - ZoomIncrement;
}

bool ZoomAllowed(float zoom)
{
    return zoom >= MinimumZoom && zoom <= MaximumZoom;
}

PageSize ZoomedSize(float zoom, int width, int height)
{
    const double factor = zoom;
    return {static_cast<int>(std::floor(factor * width)), static_cast<int>(std::floor(factor * height))};
}

bool WithinPageLimits(const PageSize& size)
{
    return size.width < PageWidthLimit && size.height < PageHeightLimit;
}

PageSize UnscaledSize(double sourceInnerWidth, double sourceInnerHeight)
{
    return {RoundHalfEven(sourceInnerWidth - 2), RoundHalfEven(sourceInnerHeight - 2)};
}

ScrollRange ScrollRangeFor(int pageOuter, int viewportOuter)
{
    if (pageOuter <= viewportOuter)
        return {};
    const float overflow = static_cast<float>(pageOuter - viewportOuter);
    if (overflow <= FineScrollLimit)
        return {true, ToInt16(overflow), FineStep};
    return {true, ToInt16(overflow / 10.0f), CoarseStep};
}

qint16 ScrollOffset(qint16 step, int value)
{
    return ToInt16(-(static_cast<double>(step) * value));
}

std::optional<qint16> ValueForPercent(qint16 percent, int maximum)
{
    if (percent < 0 || percent > 100)
        return std::nullopt;
    return ToInt16(static_cast<double>(percent) / 100.0 * maximum);
}

int WheelUnits(int& pendingDelta, int delta, int unitsPerNotch)
{
    pendingDelta += delta;
    const int notches = pendingDelta / WheelNotch;
    pendingDelta -= notches * WheelNotch;
    return notches * unitsPerNotch;
}

}
