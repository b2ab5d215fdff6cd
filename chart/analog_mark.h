// One channel's mark for one sample: a line up from the zero-volt axis, or a short dash at the reading.
#pragma once

#include "chart/tcolor.h"

#include <QImage>

namespace chart {

// The reading (hundredths of a volt) that reaches the top of the chart.
constexpr quint16 kFullScaleReading = 600;

// Row of a reading: 300 - (v >> 1), so odd readings are drawn like the even one below them. Readings
// above full scale are drawn at row 0, the top edge, instead of wrapping far below the picture.
quint16 ReadingRow(quint16 reading);

// Line mode: from (x, 300) to (x, row), both included, so a zero reading still sets the axis pixel.
// Dot mode: from (x, row - 1) to (x, row + 1). Pen width 1; what falls outside the picture is dropped.
void DrawAnalogMark(QImage& picture, int x, quint16 reading, TColor color, bool lineMode);

} // namespace chart
