// The log pane, Memo1: a plain-text editor over a LogStore.
//
// A run without auto-save can leave a million lines in the log, so the view never lays out
// the whole text: it paints only the rows on screen, scrolls by lines (the scroll bar's value
// is the top line) and wraps only the lines it shows. Each stored line is a paragraph; the
// CR LF that ends a reply shows as a line break, so the pane shows what the saved file holds,
// row for row. Control bytes other than line breaks show as their control pictures.
//
// Editing works on the decoded text of a line and stores it back through the Shift-JIS rule,
// so the bytes around an edit stay as they were. Ctrl+A selects the whole text; with that
// selection, Ctrl+C copies it, Ctrl+X cuts it and typing replaces it. Without it, Ctrl+C
// copies the caret's line.
#pragma once

#include "output/log/log_store.h"
#include "app/log_pane/row_pictures.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QList>
#include <QString>

#include <compare>
#include <optional>
#include <unordered_map>

class QPainter;

namespace log_pane {

class LogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);

    output::LogStore& Store() { return store_; }
    const output::LogStore& Store() const { return store_; }
    // After changing Store() directly: forgets cached layouts and keeps the caret and the
    // scroll position inside the text.
    void Reload();
    void ScrollToBottom();

    qsizetype CaretLine() const { return caretLine_; }
    qsizetype CaretColumn() const { return caretColumn_; } // index into Store().LineText(line)
    void SetCaret(qsizetype line, qsizetype column);

    qsizetype TopLine() const { return top_.line; }
    bool AtBottom() const;
    bool HasSelectAll() const { return selectAll_; }
    // Whether rows on show are laid from their kept ink rather than drawn (found to give the same
    // pixels with the font and size the pane has now).
    bool LaysRowInk() const { return inkMatches_; }

    // The whole text as shown: every line followed by a line break, breaks as "\n".
    QString PlainText() const;

public slots:
    void Clear();
    void SetSingleLine(const QByteArray& bytes);
    void AppendReply(const QByteArray& raw); // stored byte for byte; the caller cuts at a zero
    void AppendText(const QString& text);
    void SelectAll();
    void Copy();

signals:
    void TextEdited(); // the user changed the text; programmatic changes do not emit it

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    // A visual row: the row-th row of a stored line.
    struct RowPos {
        qsizetype line = 0;
        qsizetype row = 0;
        auto operator<=>(const RowPos&) const = default;
    };
    struct Row {
        qsizetype start;  // index into the line's text
        qsizetype length; // without the line break that may follow
    };
    struct LineLayout {
        QString text;  // decoded
        QString shown; // text with control characters made visible, same length
        QList<Row> rows;
    };

    // A row on show: its text as shown and where it is painted.
    struct ShownRow {
        RowPos pos;
        QString text;
        qsizetype start; // of the row in its line's text
        int y;
    };
    QList<ShownRow> RowsOnShow() const;
    const QImage* InkDevice(QPainter& painter) const;
    QList<RowPictures::Ink> RowInks(const QList<ShownRow>& rows, const RowPictures::Setting& setting);
    void LayInks(QPainter& painter, const QList<ShownRow>& rows, const QList<RowPictures::Ink>& inks);
    bool InkMatchesDrawing(const QPainter& painter, const QImage& device, const QList<ShownRow>& rows,
                           const QList<RowPictures::Ink>& inks);
    void PaintRows(QPainter& painter, const QList<ShownRow>& rows);
    void PaintCaret(QPainter& painter, const ShownRow& row);
    bool ShowsCaret() const { return hasFocus() && !selectAll_; }

    const LineLayout& LayoutOf(qsizetype line) const;
    void AddRows(LineLayout& layout, qsizetype start, qsizetype end) const;
    int WrapWidth() const;
    int RowHeight() const;
    int FullRows() const;
    void FontChanged();

    bool StepDown(RowPos& pos) const;
    bool StepUp(RowPos& pos) const;
    RowPos BottomTop() const;
    RowPos CaretRowPos() const;
    qsizetype RowOfColumn(const LineLayout& layout, qsizetype column) const;
    qsizetype ColumnAtX(qsizetype line, qsizetype row, int x) const;
    int XOfCaret() const;

    void SyncScrollBar();
    void SyncScrollBar(RowPos bottom);
    void ScrollByRows(int rows);
    void EnsureCaretVisible();
    void AfterProgramChange(bool wasAtBottom, bool linesShifted);

    void MoveCaretTo(qsizetype line, qsizetype column, bool keepPreferredX = false);
    void MoveVertically(int rows);
    void InsertAtCaret(const QString& text);
    void DeleteBackward();
    void DeleteForward();
    void ReplaceAllWithEmptyLine();
    void AfterUserEdit();

    output::LogStore store_;
    // References into it stay valid while layouts are added; only clearing drops them.
    mutable std::unordered_map<qsizetype, LineLayout> layouts_;
    RowPos top_;
    qsizetype caretLine_ = 0;
    qsizetype caretColumn_ = 0;
    int preferredX_ = -1; // kept while moving up and down, so the caret returns to its column
    bool selectAll_ = false;
    bool syncingScrollBar_ = false;
    int wheelRemainder_ = 0;
    int asciiMaxAdvance_ = 0;
    int rowHeight_ = 1; // of the font, kept: asked for several times a line
    int ascent_ = 0;
    RowPictures rowPictures_;
    // The setting the kept ink was last checked against drawn rows with, and whether it matched.
    std::optional<RowPictures::Setting> inkChecked_;
    bool inkMatches_ = false;
};

} // namespace log_pane
