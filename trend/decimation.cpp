#include "trend/decimation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace trend {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::int64_t Ms(double seconds) {
    return std::llround(seconds * 1000.0);
}

// A break after the last point, at its key: a step line holds its level up to the next point's key,
// and must not hold it across the gap.
void Break(Polyline& line) {
    if (line.keys.isEmpty())
        return;
    line.keys.push_back(line.keys.back());
    line.values.push_back(kNaN);
}

// Appends a point, leaving out one that repeats the last at the same key.
void Add(Polyline& line, double key, double value) {
    if (!line.keys.isEmpty() && line.keys.back() == key && line.values.back() == value)
        return;
    line.keys.push_back(key);
    line.values.push_back(value);
}

// Draws N lines that share a channel's presence and breaks. RowValues(i, v) puts row i's values in
// v; Extent(from, to, lo, hi) the lowest and highest of rows [from, to).
template <std::size_t N, class RowValues, class Extent>
void Draw(const Trace& trace, Channel channel, const Grid& grid, std::array<Polyline, N>& lines,
          const RowValues& rowValues, const Extent& extent) {
    const Trace::Keys keys = grid.span.keys;
    double v[N];
    if (grid.bounds.empty()) {
        // Every row, with the one before and the one after the span.
        const std::size_t from = grid.first > grid.segment.begin ? grid.first - 1 : grid.segment.begin;
        const std::size_t to = std::min(grid.last + 1, grid.segment.end);
        bool started = false;
        for (std::size_t i = from; i < to; ++i) {
            if (!trace.Has(channel, i))
                continue;
            const double key = KeySeconds(trace, keys, i);
            const bool gap = started && trace.BreakBefore(channel, i);
            rowValues(i, v);
            for (std::size_t j = 0; j < N; ++j) {
                if (gap)
                    Break(lines[j]);
                Add(lines[j], key, v[j]);
            }
            started = true;
        }
        return;
    }
    // First, lowest, highest and last of each column, a quarter of a pixel into it: the line between
    // columns joins the samples it joins, and the column's stroke spans all of it. (At the middle, half
    // a pixel in, rounding puts some strokes into the column before.)
    const double width = (grid.span.toS - grid.span.fromS) / grid.span.columns;
    double lo[N], hi[N], last[N];
    bool started = false;
    for (std::size_t c = 0; c + 1 < grid.bounds.size(); ++c) {
        const std::size_t from = grid.bounds[c];
        const std::size_t to = grid.bounds[c + 1];
        const auto first = trace.FirstWith(channel, from, to);
        if (!first)
            continue;
        const double key = grid.span.fromS + (double(c) - 0.75) * width;
        const bool gap = started && trace.BreakBefore(channel, *first);
        rowValues(*first, v);
        rowValues(*trace.LastWith(channel, *first, to), last);
        extent(*first, to, lo, hi);
        for (std::size_t j = 0; j < N; ++j) {
            if (gap)
                Break(lines[j]);
            Add(lines[j], key, v[j]);
            // Towards the extreme nearer the first value first, so the stroke is one run up or down.
            const bool downFirst = v[j] - lo[j] <= hi[j] - v[j];
            Add(lines[j], key, downFirst ? lo[j] : hi[j]);
            Add(lines[j], key, downFirst ? hi[j] : lo[j]);
            Add(lines[j], key, last[j]);
        }
        started = true;
    }
}

// Draws each grid with draw(grid, lines) and lays the lines out in layers of rising keys.
template <std::size_t N, class DrawGrid>
std::vector<std::array<Polyline, N>> Layers(const std::vector<Grid>& grids, const DrawGrid& draw) {
    std::vector<std::array<Polyline, N>> layers;
    for (const Grid& grid : grids) {
        std::array<Polyline, N> lines;
        draw(grid, lines);
        double first = std::numeric_limits<double>::infinity();
        for (const Polyline& line : lines)
            if (!line.keys.isEmpty())
                first = std::min(first, line.keys.front());
        if (std::isinf(first))
            continue;
        const auto fits = [first](const std::array<Polyline, N>& layer) {
            for (const Polyline& line : layer)
                if (!line.keys.isEmpty() && !(line.keys.back() < first))
                    return false;
            return true;
        };
        const auto layer = std::find_if(layers.begin(), layers.end(), fits);
        if (layer == layers.end()) {
            layers.push_back(std::move(lines));
            continue;
        }
        for (std::size_t j = 0; j < N; ++j) {
            Break((*layer)[j]);
            (*layer)[j].keys += lines[j].keys;
            (*layer)[j].values += lines[j].values;
        }
    }
    return layers;
}

} // namespace

double KeySeconds(const Trace& trace, Trace::Keys keys, std::size_t i) {
    return double(trace.KeyMs(keys, i)) / 1000.0;
}

std::vector<Grid> GridsOf(const Trace& trace, const Span& span) {
    std::vector<Grid> grids;
    for (std::size_t k = 0; k < trace.SegmentCount(span.keys); ++k) {
        Grid grid;
        grid.span = span;
        grid.span.columns = std::max(span.columns, 1);
        grid.segment = trace.SegmentAt(span.keys, k);
        grid.first = trace.LowerBound(span.keys, Ms(span.fromS), grid.segment);
        grid.last = std::max(grid.first, trace.LowerBound(span.keys, Ms(span.toS) + 1, grid.segment));
        // A segment with rows in the span, or one whose line crosses it between two rows.
        if (grid.first == grid.segment.end || (grid.last == grid.first && grid.first == grid.segment.begin))
            continue;
        if (grid.last - grid.first > 2 * std::size_t(grid.span.columns) && span.toS > span.fromS) {
            // Column c of the span is [fromS + c * width, fromS + (c + 1) * width); bounds[0] begins column -1.
            const double width = (span.toS - span.fromS) / grid.span.columns;
            grid.bounds.reserve(std::size_t(grid.span.columns) + 3);
            std::size_t previous = grid.segment.begin;
            for (int c = -1; c <= grid.span.columns + 1; ++c) {
                // The first row at or after the column's left edge, to the millisecond above it: the same
                // column as the plot puts the row's time in.
                const std::int64_t edgeMs = std::int64_t(std::ceil((span.fromS + c * width) * 1000.0));
                const std::size_t row = std::max(previous, trace.LowerBound(span.keys, edgeMs, grid.segment));
                grid.bounds.push_back(row);
                previous = row;
            }
        }
        grids.push_back(std::move(grid));
    }
    return grids;
}

RowRanges RowsIn(const Trace& trace, Trace::Keys keys, double fromS, double toS) {
    RowRanges rows;
    for (std::size_t k = 0; k < trace.SegmentCount(keys); ++k) {
        const Trace::Segment segment = trace.SegmentAt(keys, k);
        const std::size_t first = trace.LowerBound(keys, Ms(fromS), segment);
        const std::size_t last = trace.LowerBound(keys, Ms(toS) + 1, segment);
        if (last > first)
            rows.emplace_back(first, last);
    }
    return rows;
}

std::vector<Polyline> VoltsLines(const Trace& trace, Channel channel, const std::vector<Grid>& grids) {
    auto layers = Layers<1>(grids, [&](const Grid& grid, std::array<Polyline, 1>& line) {
        Draw(
            trace, channel, grid, line,
            [&](std::size_t i, double* v) { v[0] = trace.Volts(channel, i) / 100.0; },
            [&](std::size_t from, std::size_t to, double* lo, double* hi) {
                const VoltsExtent e = trace.Volts(channel, from, to);
                lo[0] = e.min / 100.0;
                hi[0] = e.max / 100.0;
            });
    });
    std::vector<Polyline> lines;
    lines.reserve(layers.size());
    for (auto& layer : layers)
        lines.push_back(std::move(layer[0]));
    return lines;
}

std::vector<std::array<Polyline, 4>> LevelLines(const Trace& trace, const std::vector<Grid>& grids) {
    return Layers<4>(grids, [&](const Grid& grid, std::array<Polyline, 4>& lines) {
        Draw(
            trace, Channel::Levels, grid, lines,
            [&](std::size_t i, double* v) {
                const std::uint8_t levels = trace.Levels(i);
                for (int j = 0; j < 4; ++j)
                    v[j] = (levels >> (3 - j)) & 1;
            },
            [&](std::size_t from, std::size_t to, double* lo, double* hi) {
                const LevelsExtent e = trace.Levels(from, to);
                for (int j = 0; j < 4; ++j) {
                    lo[j] = (e.all >> (3 - j)) & 1;
                    hi[j] = (e.any >> (3 - j)) & 1;
                }
            });
    });
}

QVector<double> EventKeys(const Trace& trace, acquisition::SampleNote note, const Span& span) {
    QVector<double> keys;
    const auto& events = trace.Events();
    const auto byRow = [](const Event& e, std::size_t row) { return e.row < row; };
    const double width = (span.toS - span.fromS) / std::max(span.columns, 1);
    for (std::size_t k = 0; k < trace.SegmentCount(span.keys) && !events.empty(); ++k) {
        const Trace::Segment segment = trace.SegmentAt(span.keys, k);
        const std::size_t first = trace.LowerBound(span.keys, Ms(span.fromS), segment);
        const std::size_t last = trace.LowerBound(span.keys, Ms(span.toS) + 1, segment);
        for (auto it = std::lower_bound(events.begin(), events.end(), first, byRow);
             it != events.end() && it->row < last;) {
            if (it->note != note) {
                ++it;
                continue;
            }
            const double key = KeySeconds(trace, span.keys, it->row);
            keys.push_back(key);
            // On to the next column: the events in this one are drawn as this one.
            if (!(width > 0))
                ++it;
            else
                it = std::lower_bound(it + 1, events.end(),
                                      trace.LowerBound(span.keys, Ms(key + width), segment), byRow);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

QVector<double> ClockBackKeys(const Trace& trace, const Span& span) {
    QVector<double> keys;
    const auto& starts = trace.SegmentStarts(span.keys);
    for (std::size_t k = 1; k < starts.size(); ++k) {
        const double key = KeySeconds(trace, span.keys, starts[k]);
        if (key >= span.fromS && key <= span.toS)
            keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::optional<std::size_t> NearestRow(const Trace& trace, Trace::Keys keys, double keyS) {
    std::optional<std::size_t> best;
    std::int64_t bestDistance = 0;
    const std::int64_t ms = Ms(keyS);
    const auto consider = [&](std::size_t i) {
        const std::int64_t distance = std::llabs(trace.KeyMs(keys, i) - ms);
        if (!best || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    };
    for (std::size_t k = 0; k < trace.SegmentCount(keys); ++k) {
        const Trace::Segment segment = trace.SegmentAt(keys, k);
        if (segment.end == segment.begin)
            continue;
        const std::size_t i = trace.LowerBound(keys, ms, segment);
        if (i > segment.begin)
            consider(i - 1);
        if (i < segment.end)
            consider(i);
    }
    return best;
}

} // namespace trend
