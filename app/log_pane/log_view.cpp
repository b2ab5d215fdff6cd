#include "app/log_pane/log_view.h"

#include "app/log_pane/log_scroll_bar.h"
#include "output/log/shift_jis.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace log_pane {
namespace {

constexpr int kMargin = 2;
constexpr int kCaretWidth = 1;
// Layouts are kept for the rows on screen and those near them; past this many the cache
// starts again rather than growing with a long scroll through the log.
constexpr qsizetype kMaxCachedLayouts = 4096;
constexpr int kWheelUnitsPerRow = 40; // one notch (120) scrolls three rows

bool IsBreak(QChar c) {
    return c == u'\r' || c == u'\n';
}

// Control characters would draw as nothing; show them as their control pictures (U+2400..)
// and a TAB as a space, one character for one, so columns stay the same.
QString Shown(const QString& text) {
    QString shown = text;
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if (u == u'\t')
            c = u' ';
        else if (u < 0x20)
            c = QChar(char16_t(0x2400 + u));
        else if (u == 0x7F)
            c = QChar(char16_t(0x2421));
    }
    return shown;
}

// Caret positions never split a CR LF pair or a surrogate pair.
qsizetype NextColumn(QStringView text, qsizetype column) {
    if (column >= text.size())
        return text.size();
    if (column + 1 < text.size() && ((text[column] == u'\r' && text[column + 1] == u'\n') ||
                                     (text[column].isHighSurrogate() && text[column + 1].isLowSurrogate())))
        return column + 2;
    return column + 1;
}

qsizetype PrevColumn(QStringView text, qsizetype column) {
    if (column <= 0)
        return 0;
    if (column >= 2 && ((text[column - 2] == u'\r' && text[column - 1] == u'\n') ||
                        (text[column - 2].isHighSurrogate() && text[column - 1].isLowSurrogate())))
        return column - 2;
    return column - 1;
}

qsizetype SnapColumn(QStringView text, qsizetype column) {
    column = std::clamp<qsizetype>(column, 0, text.size());
    if (column > 0 && column < text.size() &&
        ((text[column - 1] == u'\r' && text[column] == u'\n') ||
         (text[column - 1].isHighSurrogate() && text[column].isLowSurrogate())))
        return column - 1;
    return column;
}

QString WithNewlines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// The decoded length of text once stored: where the caret lands after typing it.
qsizetype StoredLength(const QString& text) {
    return output::DecodeShiftJis(output::EncodeShiftJis(text)).size();
}

} // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
    setVerticalScrollBar(new LogScrollBar(this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    // The view paints every pixel of its viewport, so a new line need not repaint what lies behind it.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    FontChanged();
}

void LogView::Reload() {
    layouts_.clear();
    const qsizetype count = store_.LineCount();
    caretLine_ = std::clamp<qsizetype>(caretLine_, 0, std::max<qsizetype>(0, count - 1));
    caretColumn_ = count == 0 ? 0 : SnapColumn(LayoutOf(caretLine_).text, caretColumn_);
    if (top_.line >= count)
        top_ = RowPos{};
    SyncScrollBar();
}

void LogView::ScrollToBottom() {
    top_ = BottomTop();
    SyncScrollBar();
}

void LogView::SetCaret(qsizetype line, qsizetype column) {
    MoveCaretTo(line, column);
}

bool LogView::AtBottom() const {
    return top_ >= BottomTop();
}

QString LogView::PlainText() const {
    QString text;
    for (qsizetype i = 0; i < store_.LineCount(); ++i) {
        text += WithNewlines(store_.LineText(i));
        text += u'\n';
    }
    return text;
}

void LogView::Clear() {
    store_.Clear();
    AfterProgramChange(false, true);
}

void LogView::SetSingleLine(const QByteArray& bytes) {
    store_.SetSingleLine(bytes);
    AfterProgramChange(false, true);
}

void LogView::AppendReply(const QByteArray& raw) {
    const bool wasAtBottom = AtBottom();
    store_.AppendBytes(raw);
    AfterProgramChange(wasAtBottom, false);
}

void LogView::AppendText(const QString& text) {
    const bool wasAtBottom = AtBottom();
    store_.AppendText(text);
    AfterProgramChange(wasAtBottom, false);
}

void LogView::SelectAll() {
    selectAll_ = true;
    viewport()->update();
}

void LogView::Copy() {
    QString text;
    if (selectAll_)
        text = PlainText();
    else if (caretLine_ < store_.LineCount())
        text = WithNewlines(store_.LineText(caretLine_));
    QGuiApplication::clipboard()->setText(text);
}

// ---- layout ----

int LogView::WrapWidth() const {
    return viewport()->width() - 2 * kMargin - kCaretWidth;
}
int LogView::RowHeight() const {
    return rowHeight_;
}
int LogView::FullRows() const {
    return std::max(1, (viewport()->height() - kMargin) / RowHeight());
}

void LogView::FontChanged() {
    const QFontMetrics metrics = fontMetrics();
    rowHeight_ = std::max(1, metrics.lineSpacing());
    ascent_ = metrics.ascent();
    rowPictures_.Clear();
    asciiMaxAdvance_ = 0;
    for (char16_t c = 0x20; c < 0x7F; ++c)
        asciiMaxAdvance_ = std::max(asciiMaxAdvance_, metrics.horizontalAdvance(QChar(c)));
    layouts_.clear();
    SyncScrollBar();
}

const LogView::LineLayout& LogView::LayoutOf(qsizetype line) const {
    const auto found = layouts_.find(line);
    if (found != layouts_.end())
        return found->second;
    if (qsizetype(layouts_.size()) >= kMaxCachedLayouts)
        layouts_.clear();
    LineLayout layout;
    layout.text = store_.LineText(line);
    layout.shown = Shown(layout.text);
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
    return layouts_.insert_or_assign(line, std::move(layout)).first->second;
}

void LogView::AddRows(LineLayout& layout, qsizetype start, qsizetype end) const {
    const qsizetype length = end - start;
    const int width = WrapWidth();
    if (length == 0 || width <= 0) {
        layout.rows.append(Row{start, length});
        return;
    }
    const QString segment = layout.shown.mid(start, length);
    // Replies are short ASCII: a bound on their width settles most lines without measuring.
    const bool asciiOnly = std::all_of(segment.cbegin(), segment.cend(),
                                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
    if ((asciiOnly && length * asciiMaxAdvance_ <= width) ||
        fontMetrics().horizontalAdvance(segment) <= width) {
        layout.rows.append(Row{start, length});
        return;
    }
    QTextLayout wrapper(segment, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    wrapper.setTextOption(option);
    const qsizetype rowsBefore = layout.rows.size();
    wrapper.beginLayout();
    for (QTextLine line = wrapper.createLine(); line.isValid(); line = wrapper.createLine()) {
        line.setLineWidth(width);
        layout.rows.append(Row{start + line.textStart(), line.textLength()});
    }
    wrapper.endLayout();
    if (layout.rows.size() == rowsBefore)
        layout.rows.append(Row{start, length});
}

// ---- rows and positions ----

bool LogView::StepDown(RowPos& pos) const {
    if (pos.line >= store_.LineCount())
        return false;
    if (pos.row + 1 < LayoutOf(pos.line).rows.size()) {
        ++pos.row;
        return true;
    }
    if (pos.line + 1 < store_.LineCount()) {
        pos = RowPos{pos.line + 1, 0};
        return true;
    }
    return false;
}

bool LogView::StepUp(RowPos& pos) const {
    if (pos.row > 0) {
        --pos.row;
        return true;
    }
    if (pos.line > 0) {
        pos = RowPos{pos.line - 1, LayoutOf(pos.line - 1).rows.size() - 1};
        return true;
    }
    return false;
}

LogView::RowPos LogView::BottomTop() const {
    const qsizetype count = store_.LineCount();
    if (count == 0)
        return RowPos{};
    RowPos pos{count - 1, LayoutOf(count - 1).rows.size() - 1};
    for (int i = 1; i < FullRows() && StepUp(pos); ++i) {
    }
    return pos;
}

LogView::RowPos LogView::CaretRowPos() const {
    if (caretLine_ >= store_.LineCount())
        return RowPos{caretLine_, 0};
    return RowPos{caretLine_, RowOfColumn(LayoutOf(caretLine_), caretColumn_)};
}

qsizetype LogView::RowOfColumn(const LineLayout& layout, qsizetype column) const {
    qsizetype row = 0;
    for (qsizetype i = 1; i < layout.rows.size() && layout.rows[i].start <= column; ++i)
        row = i;
    return row;
}

qsizetype LogView::ColumnAtX(qsizetype line, qsizetype row, int x) const {
    const LineLayout& layout = LayoutOf(line);
    const Row& r = layout.rows[row];
    const QFontMetrics metrics = fontMetrics();
    qsizetype best = r.start;
    int bestDistance = std::abs(x - kMargin);
    for (qsizetype column = r.start; column < r.start + r.length;) {
        column = NextColumn(layout.text, column);
        const int advance = kMargin + metrics.horizontalAdvance(layout.shown.mid(r.start, column - r.start));
        if (std::abs(x - advance) < bestDistance) {
            best = column;
            bestDistance = std::abs(x - advance);
        }
    }
    return best;
}

int LogView::XOfCaret() const {
    if (caretLine_ >= store_.LineCount())
        return kMargin;
    const LineLayout& layout = LayoutOf(caretLine_);
    const Row& r = layout.rows[RowOfColumn(layout, caretColumn_)];
    return kMargin + fontMetrics().horizontalAdvance(layout.shown.mid(r.start, caretColumn_ - r.start));
}

// ---- scrolling ----

void LogView::SyncScrollBar() {
    SyncScrollBar(BottomTop());
}

void LogView::SyncScrollBar(RowPos bottom) {
    if (top_ > bottom)
        top_ = bottom;
    if (top_.line < store_.LineCount())
        top_.row = std::min(top_.row, LayoutOf(top_.line).rows.size() - 1);
    syncingScrollBar_ = true;
    static_cast<LogScrollBar*>(verticalScrollBar())
        ->Sync(int(std::min<qsizetype>(bottom.line, std::numeric_limits<int>::max())), FullRows(),
               int(top_.line));
    syncingScrollBar_ = false;
    viewport()->update();
}

void LogView::scrollContentsBy(int, int) {
    if (syncingScrollBar_)
        return;
    const RowPos bottom = BottomTop();
    const qsizetype value = verticalScrollBar()->value();
    top_ = value >= bottom.line ? bottom : RowPos{value, 0};
    viewport()->update();
}

void LogView::ScrollByRows(int rows) {
    const RowPos bottom = BottomTop();
    for (; rows > 0 && top_ < bottom && StepDown(top_); --rows) {
    }
    for (; rows < 0 && StepUp(top_); ++rows) {
    }
    SyncScrollBar();
}

void LogView::EnsureCaretVisible() {
    if (store_.LineCount() == 0) {
        top_ = RowPos{};
    } else {
        const RowPos caret = CaretRowPos();
        if (caret < top_) {
            top_ = caret;
        } else {
            RowPos pos = caret;
            for (int i = 1; i < FullRows() && pos > top_; ++i)
                StepUp(pos);
            if (pos > top_)
                top_ = pos;
        }
    }
    SyncScrollBar();
}

void LogView::AfterProgramChange(bool wasAtBottom, bool linesShifted) {
    if (linesShifted) {
        layouts_.clear();
        caretLine_ = 0;
        caretColumn_ = 0;
        selectAll_ = false;
        top_ = RowPos{};
    }
    const RowPos bottom = BottomTop();
    if (wasAtBottom)
        top_ = bottom;
    SyncScrollBar(bottom);
}

// ---- editing ----

void LogView::MoveCaretTo(qsizetype line, qsizetype column, bool keepPreferredX) {
    const qsizetype count = store_.LineCount();
    caretLine_ = std::clamp<qsizetype>(line, 0, std::max<qsizetype>(0, count - 1));
    caretColumn_ = count == 0 ? 0 : SnapColumn(LayoutOf(caretLine_).text, column);
    selectAll_ = false;
    if (!keepPreferredX)
        preferredX_ = -1;
    EnsureCaretVisible();
}

void LogView::MoveVertically(int rows) {
    if (store_.LineCount() == 0)
        return;
    if (preferredX_ < 0)
        preferredX_ = XOfCaret();
    RowPos pos = CaretRowPos();
    for (; rows > 0 && StepDown(pos); --rows) {
    }
    for (; rows < 0 && StepUp(pos); ++rows) {
    }
    MoveCaretTo(pos.line, ColumnAtX(pos.line, pos.row, preferredX_), true);
}

void LogView::ReplaceAllWithEmptyLine() {
    store_.Clear();
    store_.AppendBytes({});
    layouts_.clear();
    caretLine_ = 0;
    caretColumn_ = 0;
    selectAll_ = false;
    top_ = RowPos{};
}

void LogView::InsertAtCaret(const QString& text) {
    if (selectAll_)
        ReplaceAllWithEmptyLine();
    if (store_.LineCount() == 0)
        store_.AppendBytes({});
    const QStringList parts = WithNewlines(text).split(u'\n');
    const QString current = store_.LineText(caretLine_);
    const QString before = current.left(caretColumn_);
    const QString after = current.mid(caretColumn_);
    if (parts.size() == 1) {
        store_.ReplaceLine(caretLine_, before + parts.first() + after);
        layouts_.erase(caretLine_);
        caretColumn_ = StoredLength(before + parts.first());
    } else {
        store_.ReplaceLine(caretLine_, before + parts.first());
        QStringList rest = parts.mid(1);
        rest.last() += after;
        store_.InsertLines(caretLine_ + 1, rest);
        layouts_.clear();
        caretLine_ += rest.size();
        caretColumn_ = StoredLength(parts.last());
    }
    AfterUserEdit();
}

void LogView::DeleteBackward() {
    if (selectAll_) {
        ReplaceAllWithEmptyLine();
    } else if (caretLine_ >= store_.LineCount()) {
        return;
    } else if (caretColumn_ > 0) {
        const QString text = store_.LineText(caretLine_);
        const qsizetype from = PrevColumn(text, caretColumn_);
        store_.ReplaceLine(caretLine_, QString(text.left(from) + text.mid(caretColumn_)));
        layouts_.erase(caretLine_);
        caretColumn_ = from;
    } else if (caretLine_ > 0) {
        const QByteArray previous = store_.LineBytes(caretLine_ - 1);
        store_.ReplaceLineBytes(caretLine_ - 1, previous + store_.LineBytes(caretLine_));
        store_.RemoveLine(caretLine_);
        layouts_.clear();
        --caretLine_;
        caretColumn_ = output::DecodeShiftJis(previous).size();
    } else {
        return;
    }
    AfterUserEdit();
}

void LogView::DeleteForward() {
    if (selectAll_) {
        ReplaceAllWithEmptyLine();
    } else if (caretLine_ >= store_.LineCount()) {
        return;
    } else if (const QString text = store_.LineText(caretLine_); caretColumn_ < text.size()) {
        const qsizetype to = NextColumn(text, caretColumn_);
        store_.ReplaceLine(caretLine_, QString(text.left(caretColumn_) + text.mid(to)));
        layouts_.erase(caretLine_);
    } else if (caretLine_ + 1 < store_.LineCount()) {
        store_.ReplaceLineBytes(caretLine_, store_.LineBytes(caretLine_) + store_.LineBytes(caretLine_ + 1));
        store_.RemoveLine(caretLine_ + 1);
        layouts_.clear();
    } else {
        return;
    }
    AfterUserEdit();
}

void LogView::AfterUserEdit() {
    // Joining bytes can pair a stray lead byte with its new neighbour, so the decoded line may
    // be shorter than the caret thought.
    caretColumn_ = SnapColumn(LayoutOf(caretLine_).text, caretColumn_);
    preferredX_ = -1;
    EnsureCaretVisible();
    emit TextEdited();
}

// ---- events ----

void LogView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const bool showCaret = ShowsCaret();
    if (store_.LineCount() == 0) {
        painter.fillRect(viewport()->rect(), Qt::white);
        if (showCaret)
            painter.fillRect(kMargin, kMargin, kCaretWidth, rowHeight_, Qt::black);
        return;
    }
    const QList<ShownRow> rows = RowsOnShow();
    const QImage* device = InkDevice(painter);
    const RowPictures::Setting setting{font(),
                                       viewport()->width(),
                                       rowHeight_,
                                       kMargin,
                                       ascent_,
                                       viewport()->logicalDpiX(),
                                       viewport()->logicalDpiY()};
    const QList<RowPictures::Ink> inks =
        device && !selectAll_ ? RowInks(rows, setting) : QList<RowPictures::Ink>();
    const bool checked = inkChecked_ && *inkChecked_ == setting;
    if (!inks.isEmpty() && checked && inkMatches_) {
        LayInks(painter, rows, inks);
        return;
    }
    PaintRows(painter, rows);
    // The first time with a font and a size, the rows drawn are compared with their ink laid the same
    // way: ink is laid from then on only if it gives the very same pixels.
    const bool anyInk =
        std::any_of(inks.cbegin(), inks.cend(), [](const auto& ink) { return !ink.image.isNull(); });
    if (anyInk && !checked && event->rect() == viewport()->rect()) {
        inkChecked_ = setting;
        inkMatches_ = InkMatchesDrawing(painter, *device, rows, inks);
    }
}

QList<LogView::ShownRow> LogView::RowsOnShow() const {
    QList<ShownRow> rows;
    const int height = viewport()->height();
    RowPos pos = top_;
    int y = kMargin;
    do {
        const LineLayout& layout = LayoutOf(pos.line);
        pos.row = std::min(pos.row, layout.rows.size() - 1);
        const Row& row = layout.rows[pos.row];
        rows.append(ShownRow{pos, layout.shown.mid(row.start, row.length), row.start, y});
        y += rowHeight_;
    } while (y < height && StepDown(pos));
    return rows;
}

// The image the painter paints on, where kept ink can be laid: 32 bits a pixel, one pixel a pixel.
const QImage* LogView::InkDevice(QPainter& painter) const {
    const QPaintDevice* device = painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image || viewport()->devicePixelRatio() != 1.0)
        return nullptr;
    const auto* image = static_cast<const QImage*>(device);
    return image->depth() == 32 && painter.deviceTransform().type() <= QTransform::TxTranslate ? image
                                                                                               : nullptr;
}

// Each row's ink; empty when a row has none kept (its ink reaches too far).
QList<RowPictures::Ink> LogView::RowInks(const QList<ShownRow>& rows, const RowPictures::Setting& setting) {
    QList<RowPictures::Ink> inks;
    for (const ShownRow& row : rows) {
        auto ink = rowPictures_.Picture(row.text, setting);
        if (!ink) {
            inks.clear();
            break;
        }
        inks.append(*ink);
    }
    rowPictures_.EndPaint();
    return inks;
}

// The white pane with each row's ink laid over it in turn, and the caret after its row, as the rows
// are drawn.
void LogView::LayInks(QPainter& painter, const QList<ShownRow>& rows, const QList<RowPictures::Ink>& inks) {
    painter.fillRect(viewport()->rect(), Qt::white);
    const bool showCaret = ShowsCaret();
    const RowPos caret = CaretRowPos();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!inks[i].image.isNull())
            painter.drawImage(QPoint(0, rows[i].y) + inks[i].offset, inks[i].image);
        if (showCaret && rows[i].pos == caret)
            PaintCaret(painter, rows[i]);
    }
}

// Whether laying the rows' ink gives the pixels just drawn: not where text is blended with another
// gamma or sub-pixel colours when drawn on screen than when drawn into an image.
bool LogView::InkMatchesDrawing(const QPainter& painter, const QImage& device, const QList<ShownRow>& rows,
                                const QList<RowPictures::Ink>& inks) {
    const QRect area = painter.deviceTransform().mapRect(viewport()->rect());
    if (!device.rect().contains(area))
        return false;
    QImage laid(area.size(), device.format());
    {
        QPainter layer(&laid);
        LayInks(layer, rows, inks);
    }
    return device.copy(area) == laid;
}

// Draws every row's text, and the selection.
void LogView::PaintRows(QPainter& painter, const QList<ShownRow>& rows) {
    painter.fillRect(viewport()->rect(), Qt::white);
    const QFontMetrics metrics = fontMetrics();
    const bool showCaret = ShowsCaret();
    const RowPos caret = CaretRowPos();
    for (const ShownRow& row : rows) {
        if (selectAll_) {
            const int width = std::max(metrics.horizontalAdvance(row.text), metrics.horizontalAdvance(u' '));
            painter.fillRect(kMargin, row.y, width, rowHeight_, palette().color(QPalette::Highlight));
            painter.setPen(palette().color(QPalette::HighlightedText));
        } else {
            painter.setPen(Qt::black);
        }
        painter.drawText(kMargin, row.y + ascent_, row.text);
        if (showCaret && row.pos == caret)
            PaintCaret(painter, row);
    }
}

void LogView::PaintCaret(QPainter& painter, const ShownRow& row) {
    const int x = kMargin + fontMetrics().horizontalAdvance(row.text.left(caretColumn_ - row.start));
    painter.fillRect(x, row.y, kCaretWidth, rowHeight_, Qt::black);
}

void LogView::resizeEvent(QResizeEvent* event) {
    const bool wasAtBottom = AtBottom();
    QAbstractScrollArea::resizeEvent(event);
    layouts_.clear();
    const RowPos bottom = BottomTop();
    if (wasAtBottom)
        top_ = bottom;
    SyncScrollBar(bottom);
}

void LogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FontChanged();
}

void LogView::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        Copy();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        if (selectAll_) {
            Copy();
            ReplaceAllWithEmptyLine();
            AfterUserEdit();
        }
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        const QString text = QGuiApplication::clipboard()->text();
        if (!text.isEmpty())
            InsertAtCaret(text);
        return;
    }
    const qsizetype count = store_.LineCount();
    const QString text = count == 0 ? QString() : LayoutOf(caretLine_).text;
    switch (event->key()) {
    case Qt::Key_Left:
        if (caretColumn_ > 0)
            MoveCaretTo(caretLine_, PrevColumn(text, caretColumn_));
        else if (caretLine_ > 0)
            MoveCaretTo(caretLine_ - 1, store_.LineText(caretLine_ - 1).size());
        else
            MoveCaretTo(caretLine_, caretColumn_);
        return;
    case Qt::Key_Right:
        if (caretColumn_ < text.size())
            MoveCaretTo(caretLine_, NextColumn(text, caretColumn_));
        else if (caretLine_ + 1 < count)
            MoveCaretTo(caretLine_ + 1, 0);
        else
            MoveCaretTo(caretLine_, caretColumn_);
        return;
    case Qt::Key_Up:
        MoveVertically(-1);
        return;
    case Qt::Key_Down:
        MoveVertically(1);
        return;
    case Qt::Key_PageUp:
        MoveVertically(-FullRows());
        return;
    case Qt::Key_PageDown:
        MoveVertically(FullRows());
        return;
    case Qt::Key_Home:
    case Qt::Key_End: {
        if (ctrl) {
            if (event->key() == Qt::Key_Home)
                MoveCaretTo(0, 0);
            else
                MoveCaretTo(count - 1, std::numeric_limits<qsizetype>::max());
            return;
        }
        if (count == 0)
            return;
        const LineLayout& layout = LayoutOf(caretLine_);
        const qsizetype rowIndex = RowOfColumn(layout, caretColumn_);
        const Row row = layout.rows[rowIndex];
        qsizetype column = row.start;
        if (event->key() == Qt::Key_End) {
            column = row.start + row.length;
            // A soft-wrapped row ends where the next begins; stay on this row.
            if (rowIndex + 1 < layout.rows.size() && layout.rows[rowIndex + 1].start == column)
                column = PrevColumn(layout.text, column);
        }
        MoveCaretTo(caretLine_, column);
        return;
    }
    case Qt::Key_Backspace:
        DeleteBackward();
        return;
    case Qt::Key_Delete:
        DeleteForward();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        InsertAtCaret(QStringLiteral("\n"));
        return;
    default:
        break;
    }
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && !ctrl &&
                           std::all_of(typed.cbegin(), typed.cend(),
                                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() != 0x7F; });
    if (printable)
        InsertAtCaret(typed);
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void LogView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || store_.LineCount() == 0) {
        selectAll_ = false;
        viewport()->update();
        return;
    }
    const int y = qRound(event->position().y());
    RowPos pos = top_;
    for (int rows = std::max(0, (y - kMargin) / RowHeight()); rows > 0 && StepDown(pos); --rows) {
    }
    MoveCaretTo(pos.line, ColumnAtX(pos.line, pos.row, qRound(event->position().x())));
}

void LogView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void LogView::wheelEvent(QWheelEvent* event) {
    wheelRemainder_ += event->angleDelta().y();
    const int rows = wheelRemainder_ / kWheelUnitsPerRow;
    wheelRemainder_ -= rows * kWheelUnitsPerRow;
    ScrollByRows(-rows);
    event->accept();
}

void LogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void LogView::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty())
        InsertAtCaret(event->commitString());
    event->accept();
}

QVariant LogView::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query != Qt::ImCursorRectangle)
        return QAbstractScrollArea::inputMethodQuery(query);
    // The caret's row on screen, counted from the top row; off screen gives the top-left.
    int y = kMargin;
    RowPos pos = top_;
    const RowPos caret = CaretRowPos();
    while (pos < caret && y < viewport()->height() && StepDown(pos))
        y += RowHeight();
    return QRect(viewport()->pos() + QPoint(XOfCaret(), y), QSize(kCaretWidth, RowHeight()));
}

} // namespace log_pane
