// The four digital lines of one sample, drawn as level marks and edges in the digital area.
#pragma once

#include "chart/tcolor.h"

#include <QImage>

namespace chart {

// Line i (0..3) follows bit 0x08 >> i of the status character, in this colour, around this base row:
// a high level is drawn at rows base-1..base+1, a low one at base+9..base+11.
struct DigitalLine {
    quint8 bit;
    TColor color;
    int baseRow;
};
inline constexpr DigitalLine kDigitalLines[4] = {
    {0x08, clBlue, 320},
    {0x04, clGreen, 340},
    {0x02, clPurple, 360},
    {0x01, clMaroon, 380},
};

// The column at which each line's previous level is taken to be its current one, so it never shows an
// edge there.
constexpr int kLevelRestartColumn = 181;

// Draws the four lines of `status` at column x and updates `levelWasLow` (1 after a low level). A steady
// level draws a short mark at its own rows; a change draws an edge across the band from the old level to
// the new. The pen is 2 pixels wide and covers columns x-1 and x; a mark in column 601 therefore also
// reaches column 600, which the frame's right edge covers again.
void PlotDigitalLevels(QImage& picture, quint16 x, quint8 status, quint8 levelWasLow[4]);

} // namespace chart
