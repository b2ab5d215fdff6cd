// The log pane, Memo1: a plain-text memo over a LogStore.
//
// It paints only the rows on screen and scrolls by rows (the scroll bar's value is the top line).
// The rows come from RowLayout, the caret, the selection and the undo history from EditModel, and
// rows that show no selection are laid from their kept ink (KeptInk), so a new line under a shown
// selection still draws one row. Lines the program appends neither move nor clear the selection;
// its clears drop the selection and the history.
//
// As a memo: the mouse selects (a drag, a word on double click, a line on triple click, Shift+click
// extends) and the wheel scrolls; the keys move the caret and, with Shift, select; the context menu
// holds the standard edit actions in the window's language; Ctrl+F finds. A selection is offered as
// the X primary selection, which a middle click pastes.
#pragma once

#include "app/log_pane/edit_model.h"
#include "app/log_pane/kept_ink.h"
#include "app/log_pane/row_layout.h"
#include "output/log/log_store.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QClipboard>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QMenu;
class QPainter;

namespace log_pane {

class Clipboard;
class FindBar;
class LazyText;

class LogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    output::LogStore& Store() { return store_; }
    const output::LogStore& Store() const { return store_; }
    // After changing Store() directly: forgets cached layouts and the undo history, and keeps the
    // caret, the selection and the scroll position inside the text.
    void Reload();
    void ScrollToBottom();

    qsizetype CaretLine() const { return model_.Caret().line; }
    qsizetype CaretColumn() const { return model_.Caret().column; } // index into Store().LineText(line)
    void SetCaret(qsizetype line, qsizetype column);
    void Select(TextPos anchor, TextPos caret);
    bool HasSelection() const { return model_.HasSelection(); }
    TextPos SelectionStart() const { return model_.SelectionStart(); }
    TextPos SelectionEnd() const { return model_.SelectionEnd(); }
    QString SelectedText() const { return model_.SelectedText(); }

    qsizetype TopLine() const { return top_.line; }
    bool AtBottom() const;
    // Whether rows on show are laid from their kept ink rather than drawn (found to give the same
    // pixels with the font and size the pane has now).
    bool LaysRowInk() const { return ink_.Matches(); }
    // Where a position of the text shows in the viewport: the middle of its row, the column's left
    // edge; nothing when it is not on show.
    std::optional<QPoint> PointOf(TextPos pos) const;

    // The whole text as shown: every line followed by a line break, breaks as "\n".
    QString PlainText() const;

    void SetClipboard(Clipboard& clipboard) { clipboard_ = &clipboard; }
    // The standard edit menu for the pane as it is now, owned by `parent`.
    QMenu* CreateContextMenu(QWidget* parent);
    FindBar* FindField() const { return findBar_; } // null until find is first opened

public slots:
    void Clear();
    void SetSingleLine(const QByteArray& bytes);
    void AppendReply(const QByteArray& raw); // stored byte for byte; the caller cuts at a zero
    void AppendText(const QString& text);
    void SelectAll();
    void Copy();
    void Cut();
    void Paste();
    void DeleteSelection();
    void Undo();
    void Redo();
    void OpenFind();
    void FindNext() { Find(false); }
    void FindPrevious() { Find(true); }
    void CloseFind();

signals:
    void TextEdited(); // the user changed the text; programmatic changes do not emit it

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    using ShownRow = RowLayout::ShownRow;
    // The columns of a row's line that show selected, and whether the break after the row does.
    struct Highlight {
        qsizetype from = 0;
        qsizetype to = 0;
        bool lineBreak = false;
        bool Any() const { return from < to || lineBreak; }
    };
    // What a drag selects by: characters, words (after a double click) or lines (a triple click).
    enum class Unit { Character, Word, Line };
    enum class Step {
        PrevChar,
        NextChar,
        PrevWord,
        NextWord,
        RowUp,
        RowDown,
        PageUp,
        PageDown,
        RowStart,
        RowEnd,
        TextStart,
        TextEnd
    };
    struct CaretKey;
    struct CommandKey;

    // Painting.
    KeptInk::Setting InkSetting() const;
    Highlight HighlightOf(const ShownRow& row) const;
    void PaintRows(QPainter& painter, const QList<ShownRow>& rows, const QList<Highlight>& highlights,
                   const KeptInk::RowInks& inks) const;
    void DrawRow(QPainter& painter, const ShownRow& row, const Highlight& highlight) const;
    bool ShowsCaret() const { return hasFocus() && !model_.HasSelection(); }

    // Rows and scrolling.
    int WrapWidth() const;
    int FullRows() const;
    void FontChanged();
    RowPos BottomTop() const;
    TextPos PositionAt(QPoint point) const;
    void SyncScrollBar();
    void SyncScrollBar(RowPos bottom);
    void ScrollByRows(int rows);
    void EnsureCaretVisible();
    void AfterProgramChange(bool wasAtBottom, bool replaced);

    // The caret, the selection and edits.
    bool Key(const QKeyEvent* event, bool act);
    TextPos Stepped(Step step) const;
    void MoveCaret(Step step, bool select);
    std::pair<TextPos, TextPos> UnitAt(TextPos pos, Unit unit) const;
    void StartDrag(TextPos pos, Unit unit, bool extend);
    void DragTo(TextPos pos);
    void Type(const QString& text);
    void Backspace();
    void DeleteForward();
    void PasteFrom(QClipboard::Mode mode);
    void UserEdit(const std::function<std::optional<LinesChanged>()>& edit);
    void PublishSelection();
    void FixPrimary();
    void Find(bool backward);
    void PlaceFindBar();

    output::LogStore store_;
    RowLayout layout_{store_};
    EditModel model_{store_};
    KeptInk ink_;
    Clipboard* clipboard_;
    QPointer<LazyText> primary_; // the selection last offered as the primary selection, while it is
    FindBar* findBar_ = nullptr;
    RowPos top_;
    int preferredX_ = -1; // kept while moving up and down, so the caret returns to its column
    bool syncingScrollBar_ = false;
    int wheelRemainder_ = 0;
    // A drag: the unit first selected, and what it selects by.
    bool dragging_ = false;
    Unit dragUnit_ = Unit::Character;
    TextPos dragFrom_;
    TextPos dragTo_;
    QPoint dragPoint_;
    QBasicTimer autoScroll_; // while a drag holds the mouse above or below the rows
    struct DoubleClick {
        quint64 time;
        QPoint point;
    };
    std::optional<DoubleClick> doubleClick_;
};

} // namespace log_pane
