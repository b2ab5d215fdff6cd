#include "chart/analog_mark.h"

#include "chart/chart_picture.h"
#include "chart/pixel_lines.h"

namespace chart {

quint16 ReadingRow(quint16 reading) {
    // Left to the formula, an over-range reading would wrap to a row near 65535 and its line-mode mark
    // would run from the axis down through the digital area.
    if (reading > kFullScaleReading)
        return 0;
    return quint16(kZeroVoltRow - (reading >> 1));
}

void DrawAnalogMark(QImage& picture, int x, quint16 reading, TColor color, bool lineMode) {
    PrepareForDrawing(picture);
    const int row = ReadingRow(reading);
    if (lineMode)
        DrawVerticalLine(picture, x, kZeroVoltRow, row, RgbOf(color));
    else
        DrawVerticalLine(picture, x, row - 1, row + 1, RgbOf(color));
}

} // namespace chart
