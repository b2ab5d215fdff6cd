#include "chart/digital_levels.h"

#include "chart/chart_picture.h"
#include "chart/pixel_lines.h"

namespace chart {

namespace {
constexpr int kDigitalPenWidth = 2;
} // namespace

void PlotDigitalLevels(QImage& picture, quint16 x, quint8 status, quint8 levelWasLow[4]) {
    PrepareForDrawing(picture);
    for (int i = 0; i < 4; ++i) {
        const DigitalLine& line = kDigitalLines[i];
        const int b = line.baseRow;
        const QRgb ink = RgbOf(line.color);
        if (status & line.bit) {
            if (x == kLevelRestartColumn)
                levelWasLow[i] = 0;
            if (levelWasLow[i] == 0)
                DrawVerticalLine(picture, x, b - 1, b + 1, ink, kDigitalPenWidth);
            else
                DrawVerticalLine(picture, x, b + 9, b + 1, ink, kDigitalPenWidth);
            levelWasLow[i] = 0;
        } else {
            if (x == kLevelRestartColumn)
                levelWasLow[i] = 1;
            if (levelWasLow[i] == 1)
                DrawVerticalLine(picture, x, b + 9, b + 11, ink, kDigitalPenWidth);
            else
                DrawVerticalLine(picture, x, b - 1, b + 11, ink, kDigitalPenWidth);
            levelWasLow[i] = 1;
        }
    }
}

} // namespace chart
