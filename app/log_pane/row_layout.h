// The log pane's rows: how each stored line wraps into rows at the pane's width, and where a
// column of a line stands on screen.
//
// A run without auto-save can leave a million lines in the log, so the pane never lays out the
// whole text: it wraps only the lines it shows (and those the caret passes) and keeps their rows
// for a while. Each stored line is a paragraph; the CR LF that ends a reply shows as a line break,
// so the pane shows what the saved file holds, row for row.
#pragma once

#include "output/log/log_store.h"

#include <QFont>
#include <QFontMetrics>
#include <QList>
#include <QString>

#include <compare>
#include <unordered_map>

namespace log_pane {

// A visual row: the row-th row of a stored line.
struct RowPos {
    qsizetype line = 0;
    qsizetype row = 0;
    auto operator<=>(const RowPos&) const = default;
};

class RowLayout {
public:
    struct Row {
        qsizetype start;  // index into the line's text
        qsizetype length; // without the line break that may follow
        qsizetype End() const { return start + length; }
    };
    struct Line {
        QString text;  // decoded
        QString shown; // text with control characters made visible, same length
        QList<Row> rows;
    };
    // A row on show: its text as shown and the top of its band, `y`.
    struct ShownRow {
        RowPos pos;
        QString text;
        Row row;
        bool breakAfter; // a line break ends the row (not a wrap)
        int y;
    };

    explicit RowLayout(const output::LogStore& store);

    void SetFont(const QFont& font);
    void SetWidth(int width); // where rows wrap
    void Forget(qsizetype line);
    void ForgetAll();

    const Line& Of(qsizetype line) const;
    int RowHeight() const { return rowHeight_; }
    int Ascent() const { return ascent_; }
    const QFontMetrics& Metrics() const { return metrics_; }

    bool StepDown(RowPos& pos) const;
    bool StepUp(RowPos& pos) const;
    RowPos Moved(RowPos pos, qsizetype rows) const; // down (up when negative) as far as the text goes
    RowPos LastRow() const;
    RowPos RowOf(qsizetype line, qsizetype column) const;
    // The rows from `top` down while their bands start above `height`, the first at `y`.
    QList<ShownRow> RowsFrom(RowPos top, int y, int height) const;

    // Positions within a row, x measured from the text's left edge.
    qsizetype ColumnAtX(RowPos pos, int x) const;
    int XOf(qsizetype line, qsizetype column) const;

private:
    void AddRows(Line& layout, qsizetype start, qsizetype end) const;

    const output::LogStore& store_;
    QFont font_;
    QFontMetrics metrics_;
    int width_ = 0;
    int rowHeight_ = 1; // asked for several times a line: kept
    int ascent_ = 0;
    int asciiMaxAdvance_ = 0;
    // References into it stay valid while layouts are added; only forgetting drops them.
    mutable std::unordered_map<qsizetype, Line> lines_;
};

} // namespace log_pane
