// Editing the log as a memo does: a caret and an anchor (the selection lies between them), typing,
// pasting and deleting in place of the selection, and an undo history of the user's edits.
//
// Positions are a stored line and a column of its decoded text. The program only appends lines
// after the last or replaces the whole text, so a position, and every step of the history, stays
// good while lines arrive; replacing the whole text drops the selection and the history.
//
// Edits work on the decoded text of a line and store it back through the Shift-JIS rule, so the
// bytes around an edit stay as they were. The history keeps the bytes of the lines each edit
// replaced and of those it left, and undoes an edit only where its lines still hold exactly what
// the edit left: it never writes into lines that changed under it.
#pragma once

#include "output/log/log_store.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <compare>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace log_pane {

struct TextPos {
    qsizetype line = 0;
    qsizetype column = 0;
    auto operator<=>(const TextPos&) const = default;
};

// What an edit did to the store's lines: [line, line + removed) became [line, line + inserted).
struct LinesChanged {
    qsizetype line;
    qsizetype removed;
    qsizetype inserted;
};

class EditModel {
public:
    // Typed text and deleted characters in a row make one step of the history each.
    enum class Kind { Typing, Deleting, Other };

    explicit EditModel(output::LogStore& store);

    TextPos Caret() const { return caret_; }
    TextPos Anchor() const { return anchor_; }
    bool HasSelection() const { return caret_ != anchor_; }
    TextPos SelectionStart() const { return std::min(caret_, anchor_); }
    TextPos SelectionEnd() const { return std::max(caret_, anchor_); }
    TextPos End() const;
    TextPos Clamped(TextPos pos) const; // inside the text, on a caret position

    void Select(TextPos anchor, TextPos caret);
    void MoveCaret(TextPos caret, bool extend) { Select(extend ? anchor_ : caret, caret); }
    void SelectAll() { Select(TextPos{}, End()); }

    // The text between two positions, line breaks as "\n", built in one pass.
    QString Text(TextPos from, TextPos to) const;
    QString SelectedText() const { return Text(SelectionStart(), SelectionEnd()); }

    // User edits, each in place of the selection; nothing when there was nothing to do.
    std::optional<LinesChanged> Insert(QStringView text, Kind kind = Kind::Other);
    std::optional<LinesChanged> DeleteBackward();
    std::optional<LinesChanged> DeleteForward();
    std::optional<LinesChanged> Undo();
    std::optional<LinesChanged> Redo();
    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }

    // The next match of `needle` after the selection (before it, going back), round the end of the
    // text; ignoring case unless told.
    std::optional<std::pair<TextPos, TextPos>> Find(QStringView needle, bool backward,
                                                    Qt::CaseSensitivity cs = Qt::CaseInsensitive) const;

    // The program replaced the text: the caret at the start, no selection, no history.
    void Reset();
    // The text changed in ways unknown: positions kept inside it, no history.
    void Reload();
    std::size_t HistoryBytes() const;

private:
    // Lines of bytes, packed: one allocation for any number of lines.
    struct Lines {
        QByteArray bytes;
        std::vector<std::uint32_t> ends;
        qsizetype Count() const { return qsizetype(ends.size()); }
        QByteArrayView At(qsizetype i) const;
        void Append(QByteArrayView line);
    };
    // Lines [line, line + before.Count()) became `after`.
    struct Step {
        qsizetype line;
        Lines before;
        Lines after;
        TextPos anchorBefore;
        TextPos caretBefore;
        TextPos caretAfter;
        Kind kind;
    };

    std::optional<LinesChanged> Replace(TextPos from, TextPos to, QStringView text, Kind kind);
    Lines Read(qsizetype line, qsizetype count) const;
    bool Holds(qsizetype line, const Lines& lines) const;
    LinesChanged Write(qsizetype line, qsizetype count, const Lines& lines);
    void Record(Step step);
    bool MergeInto(Step& top, const Step& step) const;

    output::LogStore& store_;
    TextPos caret_;
    TextPos anchor_;
    std::deque<Step> undo_;
    std::vector<Step> redo_;
    bool merging_ = false; // the next typing or deleting may join the last step
};

} // namespace log_pane
