#include "chart/pixel_lines.h"

#include <algorithm>

namespace chart {

void DrawVerticalLine(QImage& picture, int x, int y1, int y2, QRgb color, int penWidth) {
    const int firstColumn = std::max(x - penWidth / 2, 0);
    const int lastColumn = std::min(x - penWidth / 2 + penWidth - 1, picture.width() - 1);
    const int top = std::max(std::min(y1, y2), 0);
    const int bottom = std::min(std::max(y1, y2), picture.height() - 1);
    if (firstColumn > lastColumn || top > bottom)
        return;
    uchar* bits = picture.bits();
    for (int y = top; y <= bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(bits + picture.bytesPerLine() * y);
        std::fill(row + firstColumn, row + lastColumn + 1, color);
    }
}

} // namespace chart
