#include "DragMath.h"

#include "ZoomMath.h"

#include <cmath>

namespace DragMath {

float DraggedOffset(float offset, float anchor, float pointer, float viewportInner, float pageOuter)
{
    const float wanted = offset - anchor + pointer;
    if (wanted > 0.0f)
        return 0.0f;
    const float limit = viewportInner - pageOuter;
    return limit > wanted ? limit : wanted;
}

std::optional<qint16> DropPercent(int offset, int pageOuter, int viewportOuter)
{
    const int range = pageOuter - viewportOuter;
    if (range == 0)
        return std::nullopt;
    return ZoomMath::ToInt16(std::abs(static_cast<double>(offset)) / range * 100.0);
}

}
