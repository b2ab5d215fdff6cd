// The chart frame: grid, axis and edge lines, axis labels and the three annotations along the top.
// It is drawn again over the traces after every sample, so it lies on top of them.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QRegion>
#include <QString>

namespace chart {

// What the frame's annotations show, read at each redraw.
struct FrameTexts {
    QString samplingTime; // text of the sampling-time box (Edit2)
    QString baseName;     // text of the base-name box (Edit3)
    quint16 fileIndex = 0;
    QDateTime now;
};

// Row 5 is the top of the annotations; the strip runs down to the bottom of their text boxes.
constexpr int kAnnotationTop = 5;
int AnnotationStripBottom();

// Draws the whole frame over whatever the picture holds. The digital-area grid is drawn only while
// `gridDrawn` is 0, and `gridDrawn` is then set to 1, so it appears with the first sample of a sweep.
// The texts are used as they stand, empty or long. Needs a QGuiApplication (fonts).
void DrawChartFrame(QImage& picture, const FrameTexts& texts, quint8& gridDrawn);

// The same result as DrawChartFrame, for the redraw after a sample: when the grid is already drawn, only
// columns firstColumn..lastColumn and the annotation strip can have changed since the last redraw, so
// only they are redrawn. The first sample of a sweep (gridDrawn 0) gets the whole frame.
// Returns the part of the picture whose pixels the redraw may have changed: the whole picture for the
// first sample, otherwise the two columns and, where its pixels changed (once a second, as the time
// stamp moves on), the stretch of the annotation strip that changed.
QRegion DrawChartFrameAfterSample(QImage& picture, const FrameTexts& texts, quint8& gridDrawn, int firstColumn,
                                  int lastColumn);

} // namespace chart
