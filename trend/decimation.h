// What of a trace a view draws: every row while the view holds few, and once
// it holds more than two rows a pixel column, the lowest and highest value of
// each column, found in the trace's block summary. A redraw costs what the
// view's width costs, never what the run's length does, and a spike of one
// sample reaches its column's extent at every zoom.
#pragma once

#include "trend/trace.h"

#include <QVector>
#include <array>

namespace trend {

// A line as the plot draws it: points in key order, a NaN value where it breaks.
struct Polyline {
    QVector<double> keys;
    QVector<double> values;
};

// A view's time range in seconds on the axis (since 1970, or since START) and its width in pixels.
struct Span {
    Trace::Keys keys = Trace::Keys::Clock;
    double fromS = 0;
    double toS = 0;
    int columns = 1;
};

// The seconds on the axis of row i.
double KeySeconds(const Trace& trace, Trace::Keys keys, std::size_t i);

// The rows of one segment of a trace a span holds, [first, last), and, when they are more than two a
// column, where each pixel column's rows begin: one column more on either side, so lines leave the
// view at its edges.
struct Grid {
    Span span;
    Trace::Segment segment{0, 0};
    std::size_t first = 0;
    std::size_t last = 0;
    std::vector<std::size_t> bounds; // empty: every row is drawn
};

// One grid for each segment that has rows in the span, in row order (a trace whose clock never went
// back has one).
std::vector<Grid> GridsOf(const Trace& trace, const Span& span);

// The rows in [fromS, toS] on the axis: a [first, last) range for each segment holding some, in row order.
using RowRanges = std::vector<std::pair<std::size_t, std::size_t>>;
RowRanges RowsIn(const Trace& trace, Trace::Keys keys, double fromS, double toS);

// The lines of a span are laid out in layers, each in rising key order as the plot wants them: one
// layer unless the clock went back within the span, and then a segment that overlaps in time one
// already laid goes on a layer of its own.
// AD0 or AD1 in volts.
std::vector<Polyline> VoltsLines(const Trace& trace, Channel channel, const std::vector<Grid>& grids);

// HH, HL, LH, LL (in that order) as steps of 0 and 1.
std::vector<std::array<Polyline, 4>> LevelLines(const Trace& trace, const std::vector<Grid>& grids);

// The rows of `note` (no reply, unit lost, unit back) in the span, at most one a pixel column, in key order.
QVector<double> EventKeys(const Trace& trace, acquisition::SampleNote note, const Span& span);

// Where the keys went back (the clock was set back) within the span.
QVector<double> ClockBackKeys(const Trace& trace, const Span& span);

// The row nearest to keyS, if the trace has any.
std::optional<std::size_t> NearestRow(const Trace& trace, Trace::Keys keys, double keyS);

} // namespace trend
