#include "app/log_pane/edit_model.h"

#include "app/log_pane/line_text.h"
#include "output/log/shift_jis.h"

#include <QList>

#include <algorithm>

namespace log_pane {
namespace {

// The history's bounds. The newest step is kept whatever its size, so that deleting a whole day's
// log by mistake can be undone; older steps go once these are passed.
constexpr std::size_t kMaxSteps = 100;
constexpr std::size_t kMaxHistoryBytes = 32 * 1024 * 1024;

} // namespace

QByteArrayView EditModel::Lines::At(qsizetype i) const {
    const std::uint32_t start = i == 0 ? 0 : ends[std::size_t(i - 1)];
    return QByteArrayView(bytes.constData() + start, ends[std::size_t(i)] - start);
}

void EditModel::Lines::Append(QByteArrayView line) {
    bytes.append(line);
    ends.push_back(std::uint32_t(bytes.size()));
}

EditModel::EditModel(output::LogStore& store) : store_(store) {}

TextPos EditModel::End() const {
    const qsizetype count = store_.LineCount();
    return count == 0 ? TextPos{} : TextPos{count - 1, store_.LineText(count - 1).size()};
}

TextPos EditModel::Clamped(TextPos pos) const {
    const qsizetype count = store_.LineCount();
    if (count == 0 || pos.line < 0)
        return TextPos{};
    if (pos.line >= count)
        return End();
    return TextPos{pos.line, SnapColumn(store_.LineText(pos.line), pos.column)};
}

void EditModel::Select(TextPos anchor, TextPos caret) {
    anchor_ = Clamped(anchor);
    caret_ = Clamped(caret);
    merging_ = false;
}

QString EditModel::Text(TextPos from, TextPos to) const {
    from = Clamped(from);
    to = Clamped(to);
    if (to <= from)
        return QString();
    qsizetype size = 0;
    for (qsizetype line = from.line; line <= to.line; ++line)
        size += store_.LineSize(line) + 1;
    QString text(size, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype written = 0;
    for (qsizetype line = from.line; line <= to.line; ++line) {
        const QString decoded = store_.LineText(line);
        const qsizetype start = line == from.line ? from.column : 0;
        const qsizetype end = line == to.line ? to.column : decoded.size();
        // Every break as one "\n", a CR LF as much as the break between two lines.
        for (qsizetype i = start; i < end; ++i) {
            const char16_t c = decoded[i].unicode();
            if (c == u'\r' && i + 1 < end && decoded[i + 1] == u'\n')
                continue;
            out[written++] = c == u'\r' ? u'\n' : c;
        }
        if (line < to.line)
            out[written++] = u'\n';
    }
    text.truncate(written);
    return text;
}

std::optional<LinesChanged> EditModel::Insert(QStringView text, Kind kind) {
    return Replace(SelectionStart(), SelectionEnd(), WithNewlines(text.toString()), kind);
}

std::optional<LinesChanged> EditModel::DeleteBackward() {
    if (HasSelection())
        return Replace(SelectionStart(), SelectionEnd(), {}, Kind::Other);
    if (caret_.column > 0)
        return Replace({caret_.line, PrevColumn(store_.LineText(caret_.line), caret_.column)}, caret_, {},
                       Kind::Deleting);
    if (caret_.line > 0)
        return Replace({caret_.line - 1, store_.LineText(caret_.line - 1).size()}, caret_, {},
                       Kind::Deleting);
    return std::nullopt;
}

std::optional<LinesChanged> EditModel::DeleteForward() {
    if (HasSelection())
        return Replace(SelectionStart(), SelectionEnd(), {}, Kind::Other);
    if (store_.LineCount() == 0)
        return std::nullopt;
    const QString text = store_.LineText(caret_.line);
    if (caret_.column < text.size())
        return Replace(caret_, {caret_.line, NextColumn(text, caret_.column)}, {}, Kind::Deleting);
    if (caret_.line + 1 < store_.LineCount())
        return Replace(caret_, {caret_.line + 1, 0}, {}, Kind::Deleting);
    return std::nullopt;
}

// Lines from.line..to.line become: the text before `from`, `text` (split at "\n"), the text after `to`.
std::optional<LinesChanged> EditModel::Replace(TextPos from, TextPos to, QStringView text, Kind kind) {
    if (from == to && text.isEmpty())
        return std::nullopt;
    const qsizetype touched = store_.LineCount() == 0 ? 0 : to.line - from.line + 1;
    Step step{from.line, Read(from.line, touched), {}, anchor_, caret_, {}, kind};
    const QString head = touched ? store_.LineText(from.line).left(from.column) : QString();
    const QString tail = touched ? store_.LineText(to.line).mid(to.column) : QString();
    const QList<QStringView> parts = text.split(u'\n');
    QByteArray& bytes = step.after.bytes;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i == 0)
            output::AppendShiftJis(head, bytes);
        output::AppendShiftJis(parts[i], bytes);
        if (i + 1 < parts.size())
            step.after.ends.push_back(std::uint32_t(bytes.size()));
    }
    // The caret goes after the inserted text, counted in the text its line's bytes decode to.
    const qsizetype lastStart = step.after.ends.empty() ? 0 : step.after.ends.back();
    const qsizetype caretColumn = output::DecodeShiftJis(QByteArrayView(bytes).sliced(lastStart)).size();
    output::AppendShiftJis(tail, bytes);
    step.after.ends.push_back(std::uint32_t(bytes.size()));
    const LinesChanged changed = Write(step.line, touched, step.after);
    caret_ = anchor_ = Clamped({from.line + parts.size() - 1, caretColumn});
    step.caretAfter = caret_;
    Record(std::move(step));
    return changed;
}

EditModel::Lines EditModel::Read(qsizetype line, qsizetype count) const {
    Lines lines;
    qsizetype size = 0;
    for (qsizetype i = line; i < line + count; ++i)
        size += store_.LineSize(i);
    lines.bytes.reserve(size);
    lines.ends.reserve(std::size_t(count));
    for (qsizetype i = line; i < line + count; ++i)
        lines.Append(store_.LineView(i));
    return lines;
}

bool EditModel::Holds(qsizetype line, const Lines& lines) const {
    if (line < 0 || line + lines.Count() > store_.LineCount())
        return false;
    for (qsizetype i = 0; i < lines.Count(); ++i)
        if (store_.LineView(line + i) != lines.At(i))
            return false;
    return true;
}

LinesChanged EditModel::Write(qsizetype line, qsizetype count, const Lines& lines) {
    std::vector<QByteArrayView> views;
    views.reserve(std::size_t(lines.Count()));
    for (qsizetype i = 0; i < lines.Count(); ++i)
        views.push_back(lines.At(i));
    store_.ReplaceLines(line, count, views);
    return LinesChanged{line, count, lines.Count()};
}

void EditModel::Record(Step step) {
    redo_.clear();
    const bool merged = step.kind != Kind::Other && merging_ && !undo_.empty() &&
                        undo_.back().kind == step.kind && step.anchorBefore == step.caretBefore &&
                        MergeInto(undo_.back(), step);
    if (!merged)
        undo_.push_back(std::move(step));
    merging_ = undo_.back().kind != Kind::Other;
    while (undo_.size() > 1 && (undo_.size() > kMaxSteps || HistoryBytes() > kMaxHistoryBytes))
        undo_.pop_front();
}

// A step within the lines the last one left joins it: the last one then leaves what this one left.
bool EditModel::MergeInto(Step& top, const Step& step) const {
    const qsizetype offset = step.line - top.line;
    if (offset < 0 || offset + step.before.Count() > top.after.Count())
        return false;
    Lines after;
    for (qsizetype i = 0; i < offset; ++i)
        after.Append(top.after.At(i));
    for (qsizetype i = 0; i < step.after.Count(); ++i)
        after.Append(step.after.At(i));
    for (qsizetype i = offset + step.before.Count(); i < top.after.Count(); ++i)
        after.Append(top.after.At(i));
    top.after = std::move(after);
    top.caretAfter = step.caretAfter;
    return true;
}

std::optional<LinesChanged> EditModel::Undo() {
    merging_ = false;
    if (undo_.empty())
        return std::nullopt;
    Step step = std::move(undo_.back());
    undo_.pop_back();
    if (!Holds(step.line, step.after)) {
        Reload();
        return std::nullopt;
    }
    const LinesChanged changed = Write(step.line, step.after.Count(), step.before);
    anchor_ = Clamped(step.anchorBefore);
    caret_ = Clamped(step.caretBefore);
    redo_.push_back(std::move(step));
    return changed;
}

std::optional<LinesChanged> EditModel::Redo() {
    merging_ = false;
    if (redo_.empty())
        return std::nullopt;
    Step step = std::move(redo_.back());
    redo_.pop_back();
    if (!Holds(step.line, step.before)) {
        Reload();
        return std::nullopt;
    }
    const LinesChanged changed = Write(step.line, step.before.Count(), step.after);
    caret_ = anchor_ = Clamped(step.caretAfter);
    undo_.push_back(std::move(step));
    return changed;
}

std::optional<std::pair<TextPos, TextPos>> EditModel::Find(QStringView needle, bool backward,
                                                           Qt::CaseSensitivity cs) const {
    const qsizetype count = store_.LineCount();
    if (needle.isEmpty() || count == 0)
        return std::nullopt;
    const TextPos from = backward ? SelectionStart() : SelectionEnd();
    // The line of `from` comes first, searched from `from` on (back), and last, whole.
    for (qsizetype i = 0; i <= count; ++i) {
        const qsizetype line = (from.line + (backward ? count - i : i)) % count;
        const QString text = store_.LineText(line);
        qsizetype at = -1;
        if (!backward)
            at = text.indexOf(needle, i == 0 ? from.column : 0, cs);
        else if (i > 0 || from.column > 0)
            at = text.lastIndexOf(needle, i == 0 ? from.column - 1 : -1, cs);
        if (at >= 0)
            return std::pair{TextPos{line, at}, TextPos{line, at + needle.size()}};
    }
    return std::nullopt;
}

void EditModel::Reset() {
    caret_ = anchor_ = TextPos{};
    undo_.clear();
    redo_.clear();
    merging_ = false;
}

void EditModel::Reload() {
    anchor_ = Clamped(anchor_);
    caret_ = Clamped(caret_);
    undo_.clear();
    redo_.clear();
    merging_ = false;
}

std::size_t EditModel::HistoryBytes() const {
    const auto bytesOf = [](const Lines& lines) {
        return std::size_t(lines.bytes.size()) + lines.ends.size() * sizeof(std::uint32_t);
    };
    std::size_t bytes = 0;
    for (const Step& step : undo_)
        bytes += bytesOf(step.before) + bytesOf(step.after);
    for (const Step& step : redo_)
        bytes += bytesOf(step.before) + bytesOf(step.after);
    return bytes;
}

} // namespace log_pane
