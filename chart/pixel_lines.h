// Plain pixel writing for the chart's marks: no antialiasing, both end points drawn, and anything that
// falls outside the picture is dropped.
#pragma once

#include "chart/tcolor.h"

#include <QImage>

namespace chart {

// The opaque 32-bit pixel of a TColor.
constexpr QRgb RgbOf(TColor color) {
    return 0xFF000000u | ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}

// A vertical line in column x from row y1 to row y2, both included, in either order. A pen of even
// width w covers w/2 columns left of x and the rest from x rightwards, so a width-2 pen covers
// columns x-1 and x. `picture` must have a 32-bit format (PrepareForDrawing).
void DrawVerticalLine(QImage& picture, int x, int y1, int y2, QRgb color, int penWidth = 1);

} // namespace chart
