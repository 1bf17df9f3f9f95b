#pragma once

#include <QtGlobal>

#include <optional>

// The arithmetic of dragging the preview's page inside its viewport, free of widgets.
namespace DragMath {

// Where the page goes along one axis while it is dragged, in single precision: the
// grabbed point (anchor, in page coordinates) follows the pointer (also in page
// coordinates), but the page leaves no gap at the start edge and moves no further
// than the viewport's inner size allows at the far edge. The start edge wins when
// both apply (a page smaller than the viewport).
float DraggedOffset(float offset, float anchor, float pointer, float viewportInner, float pageOuter);

// How far through its scroll range a dropped page lies along one axis, in percent,
// from the outer sizes of page and viewport: |offset| / (page - viewport) x 100 in
// double precision, rounded half to even, as a 16-bit integer. std::nullopt when the
// page and the viewport are equally large, which gives no range to measure against.
std::optional<qint16> DropPercent(int offset, int pageOuter, int viewportOuter);

}
