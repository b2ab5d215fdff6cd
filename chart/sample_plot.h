// One whole sample on the chart, from already decoded inputs: the analog marks at the sweep column, then
// the digital lines one column further right and the frame over everything. The two halves are separate
// so that the form can let pending events run between them.
#pragma once

#include "chart/chart_frame.h"
#include "chart/sweep_state.h"
#include "chart/tcolor.h"

#include <QImage>
#include <QRegion>

namespace chart {

struct SampleMarks {
    bool ad0On = true;
    bool ad1On = true;
    bool lineMode = true;
    quint16 ad0 = 0;
    quint16 ad1 = 0;
    TColor ad0Color = clRed;
    TColor ad1Color = clBlue;
    quint8 status = '0';
};

// Each step returns the part of the picture whose pixels it may have changed, which is all the window
// repaints for the sample.

// The marks of the channels that are on, AD0 first, in column x.
QRegion DrawSampleAnalogMarks(QImage& picture, int x, const SampleMarks& marks);

// The digital lines of `status` at column x (the advanced sweep column), then the frame, redrawn only
// where this sample can have drawn: column x-1 (its analog marks and the digital pen's left half),
// column x and the annotation strip.
QRegion DrawSampleDigitalAndFrame(QImage& picture, quint16 x, quint8 status, quint8 levelWasLow[4],
                                  const FrameTexts& texts, quint8& gridDrawn);

// The whole sample without a pause between the halves: analog marks at sweepX, sweepX advanced, the
// digital lines at the new column and the frame.
QRegion PlotSample(QImage& picture, const SampleMarks& marks, SweepState& sweep, const FrameTexts& texts);

} // namespace chart
