#include "chart/sample_plot.h"

#include "chart/analog_mark.h"
#include "chart/digital_levels.h"

namespace chart {

QRegion DrawSampleAnalogMarks(QImage& picture, int x, const SampleMarks& marks) {
    if (marks.ad0On)
        DrawAnalogMark(picture, x, marks.ad0, marks.ad0Color, marks.lineMode);
    if (marks.ad1On)
        DrawAnalogMark(picture, x, marks.ad1, marks.ad1Color, marks.lineMode);
    if (!marks.ad0On && !marks.ad1On)
        return {};
    return QRect(x, 0, 1, picture.height()) & picture.rect();
}

QRegion DrawSampleDigitalAndFrame(QImage& picture, quint16 x, quint8 status, quint8 levelWasLow[4],
                                  const FrameTexts& texts, quint8& gridDrawn) {
    // The digital pen is two pixels wide: it covers columns x-1 and x, as does the frame's redraw.
    PlotDigitalLevels(picture, x, status, levelWasLow);
    return DrawChartFrameAfterSample(picture, texts, gridDrawn, int(x) - 1, int(x));
}

QRegion PlotSample(QImage& picture, const SampleMarks& marks, SweepState& sweep, const FrameTexts& texts) {
    QRegion changed = DrawSampleAnalogMarks(picture, sweep.sweepX, marks);
    ++sweep.sweepX;
    changed += DrawSampleDigitalAndFrame(picture, sweep.sweepX, marks.status, sweep.levelWasLow, texts,
                                         sweep.gridDrawn);
    return changed;
}

} // namespace chart
