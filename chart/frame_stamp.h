// The chart frame as a stamp. Every part of the frame is opaque: dotted lines paint their gaps white and
// labels paint their boxes white, so a redraw sets each pixel it touches to the same colour whatever lay
// under it. The frame's fixed parts are therefore drawn once into a stamp, and a redraw copies the
// stamp's pixels onto the chart, which gives the same picture as drawing them again at a fraction of
// the cost.
#pragma once

#include "chart/tcolor.h"

#include <QImage>
#include <QPoint>
#include <QString>

#include <vector>

namespace chart {

class FrameStamp {
public:
    FrameStamp(int width, int height);

    // Drawing, in the frame's order; later parts cover earlier ones.

    // A horizontal or vertical line with both end points. A dotted line alternates one pixel of `color`
    // and one white gap pixel, starting with colour at `from`.
    void DrawLine(QPoint from, QPoint to, TColor color, bool dotted);
    void DrawText(QPoint topLeft, const QString& text);

    // Ends the drawing; only a finished stamp can be applied.
    void Finish();

    // Copies every pixel of the stamp onto `picture` (32-bit, see PrepareForDrawing).
    void Apply(QImage& picture) const;

    // Copies only the stamp's pixels in rows 0..stripBottom (none for -1) and in columns firstColumn..lastColumn.
    void ApplyClipped(QImage& picture, int firstColumn, int lastColumn, int stripBottom) const;

private:
    struct Run {
        int first;
        int last;
    };

    void Cover(int x, int y, QRgb color);
    void CopyRow(QRgb* target, int pictureWidth, int y) const;

    QImage colors_;
    std::vector<quint8> covered_; // one byte per pixel, row by row
    std::vector<Run> runs_;       // covered stretches of each row, left to right
    std::vector<int> rowRuns_;    // runs of row y: runs_[rowRuns_[y]] up to runs_[rowRuns_[y + 1]]
    std::vector<int> columnRows_;   // the covered rows of each column, top to bottom
    std::vector<int> columnStarts_; // rows of column x: columnRows_[columnStarts_[x]] up to [columnStarts_[x + 1]]
    bool finished_ = false;
};

} // namespace chart
