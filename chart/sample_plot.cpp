#include "chart/sample_plot.h"

#include "chart/analog_mark.h"
#include "chart/digital_levels.h"

namespace chart {

void DrawSampleAnalogMarks(QImage& picture, int x, const SampleMarks& marks) {
    if (marks.ad0On)
        DrawAnalogMark(picture, x, marks.ad0, marks.ad0Color, marks.lineMode);
    if (marks.ad1On)
        DrawAnalogMark(picture, x, marks.ad1, marks.ad1Color, marks.lineMode);
}

void DrawSampleDigitalAndFrame(QImage& picture, quint16 x, quint8 status, quint8 levelWasLow[4],
                               const FrameTexts& texts, quint8& gridDrawn) {
    PlotDigitalLevels(picture, x, status, levelWasLow);
    DrawChartFrameAfterSample(picture, texts, gridDrawn, int(x) - 1, int(x));
}

void PlotSample(QImage& picture, const SampleMarks& marks, SweepState& sweep, const FrameTexts& texts) {
    DrawSampleAnalogMarks(picture, sweep.sweepX, marks);
    ++sweep.sweepX;
    DrawSampleDigitalAndFrame(picture, sweep.sweepX, marks.status, sweep.levelWasLow, texts, sweep.gridDrawn);
}

} // namespace chart
