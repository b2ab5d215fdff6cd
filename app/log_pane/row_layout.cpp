#include "app/log_pane/row_layout.h"

#include "app/log_pane/line_text.h"

#include <QTextLayout>

#include <algorithm>
#include <cstdlib>

namespace log_pane {
namespace {

// Layouts are kept for the rows on screen and those near them; past this many the cache starts
// again rather than growing with a long scroll through the log.
constexpr std::size_t kMaxCachedLines = 4096;

bool IsBreak(QChar c) {
    return c == u'\r' || c == u'\n';
}

} // namespace

RowLayout::RowLayout(const output::LogStore& store) : store_(store), metrics_(font_) {
    SetFont(font_);
}

void RowLayout::SetFont(const QFont& font) {
    font_ = font;
    metrics_ = QFontMetrics(font);
    rowHeight_ = std::max(1, metrics_.lineSpacing());
    ascent_ = metrics_.ascent();
    asciiMaxAdvance_ = 0;
    for (char16_t c = 0x20; c < 0x7F; ++c)
        asciiMaxAdvance_ = std::max(asciiMaxAdvance_, metrics_.horizontalAdvance(QChar(c)));
    lines_.clear();
}

void RowLayout::SetWidth(int width) {
    if (width != width_)
        lines_.clear();
    width_ = width;
}

void RowLayout::Forget(qsizetype line) {
    lines_.erase(line);
}

void RowLayout::ForgetAll() {
    lines_.clear();
}

const RowLayout::Line& RowLayout::Of(qsizetype line) const {
    const auto found = lines_.find(line);
    if (found != lines_.end())
        return found->second;
    if (lines_.size() >= kMaxCachedLines)
        lines_.clear();
    Line layout;
    layout.text = store_.LineText(line);
    layout.shown = ShownText(layout.text);
    const qsizetype n = layout.text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (!IsBreak(layout.text[i]))
            continue;
        AddRows(layout, start, i);
        if (layout.text[i] == u'\r' && i + 1 < n && layout.text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    AddRows(layout, start, n);
    return lines_.insert_or_assign(line, std::move(layout)).first->second;
}

void RowLayout::AddRows(Line& layout, qsizetype start, qsizetype end) const {
    const qsizetype length = end - start;
    if (length == 0 || width_ <= 0) {
        layout.rows.append(Row{start, length});
        return;
    }
    const QString segment = layout.shown.mid(start, length);
    // Replies are short ASCII: a bound on their width settles most lines without measuring.
    const bool asciiOnly = std::all_of(segment.cbegin(), segment.cend(),
                                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
    if ((asciiOnly && length * asciiMaxAdvance_ <= width_) || metrics_.horizontalAdvance(segment) <= width_) {
        layout.rows.append(Row{start, length});
        return;
    }
    QTextLayout wrapper(segment, font_);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    wrapper.setTextOption(option);
    const qsizetype rowsBefore = layout.rows.size();
    wrapper.beginLayout();
    for (QTextLine line = wrapper.createLine(); line.isValid(); line = wrapper.createLine()) {
        line.setLineWidth(width_);
        layout.rows.append(Row{start + line.textStart(), line.textLength()});
    }
    wrapper.endLayout();
    if (layout.rows.size() == rowsBefore)
        layout.rows.append(Row{start, length});
}

bool RowLayout::StepDown(RowPos& pos) const {
    if (pos.line >= store_.LineCount())
        return false;
    if (pos.row + 1 < Of(pos.line).rows.size()) {
        ++pos.row;
        return true;
    }
    if (pos.line + 1 < store_.LineCount()) {
        pos = RowPos{pos.line + 1, 0};
        return true;
    }
    return false;
}

bool RowLayout::StepUp(RowPos& pos) const {
    if (pos.row > 0) {
        --pos.row;
        return true;
    }
    if (pos.line > 0) {
        pos = RowPos{pos.line - 1, Of(pos.line - 1).rows.size() - 1};
        return true;
    }
    return false;
}

RowPos RowLayout::Moved(RowPos pos, qsizetype rows) const {
    for (; rows > 0 && StepDown(pos); --rows) {
    }
    for (; rows < 0 && StepUp(pos); ++rows) {
    }
    return pos;
}

RowPos RowLayout::LastRow() const {
    const qsizetype count = store_.LineCount();
    return count == 0 ? RowPos{} : RowPos{count - 1, Of(count - 1).rows.size() - 1};
}

RowPos RowLayout::RowOf(qsizetype line, qsizetype column) const {
    if (line >= store_.LineCount())
        return RowPos{line, 0};
    const QList<Row>& rows = Of(line).rows;
    qsizetype row = 0;
    for (qsizetype i = 1; i < rows.size() && rows[i].start <= column; ++i)
        row = i;
    return RowPos{line, row};
}

QList<RowLayout::ShownRow> RowLayout::RowsFrom(RowPos top, int y, int height) const {
    QList<ShownRow> shown;
    if (store_.LineCount() == 0)
        return shown;
    RowPos pos = top;
    do {
        const Line& layout = Of(pos.line);
        pos.row = std::min(pos.row, layout.rows.size() - 1);
        const Row& row = layout.rows[pos.row];
        const bool last = pos.row + 1 == layout.rows.size();
        const bool breakAfter =
            last ? pos.line + 1 < store_.LineCount() : layout.rows[pos.row + 1].start > row.End();
        shown.append(ShownRow{pos, layout.shown.mid(row.start, row.length), row, breakAfter, y});
        y += rowHeight_;
    } while (y < height && StepDown(pos));
    return shown;
}

qsizetype RowLayout::ColumnAtX(RowPos pos, int x) const {
    const Line& layout = Of(pos.line);
    const Row& r = layout.rows[std::min(pos.row, layout.rows.size() - 1)];
    qsizetype best = r.start;
    int bestDistance = std::abs(x);
    for (qsizetype column = r.start; column < r.End();) {
        column = NextColumn(layout.text, column);
        const int distance =
            std::abs(x - metrics_.horizontalAdvance(layout.shown.mid(r.start, column - r.start)));
        if (distance < bestDistance) {
            best = column;
            bestDistance = distance;
        }
    }
    return best;
}

int RowLayout::XOf(qsizetype line, qsizetype column) const {
    if (line >= store_.LineCount())
        return 0;
    const Line& layout = Of(line);
    const Row& r = layout.rows[RowOf(line, column).row];
    return metrics_.horizontalAdvance(layout.shown.mid(r.start, column - r.start));
}

} // namespace log_pane
