#include "app/log_pane/log_view.h"

#include "app/log_pane/clipboard.h"
#include "app/log_pane/find_bar.h"
#include "app/log_pane/line_text.h"
#include "app/log_pane/log_scroll_bar.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>
#include <QWheelEvent>

#include <algorithm>
#include <limits>

namespace log_pane {
namespace {

constexpr int kMargin = 2;
constexpr int kCaretWidth = 1;
constexpr int kWheelUnitsPerRow = 40; // one notch (120) scrolls three rows
constexpr int kAutoScrollMs = 50;
constexpr qsizetype kPast = std::numeric_limits<qsizetype>::max();
// An edit that keeps its number of lines forgets up to this many lines' layouts one by one.
constexpr qsizetype kMaxLinesForgotten = 64;

// The texts of the standard edit menu are Qt's own (as its edit fields have them, not marked for this
// program's catalogue), translated by Qt's catalogue like those of every other edit field of the window.
QString QtEditText(const char* text) {
    return QCoreApplication::translate("QLineEdit", text);
}

QString ShortcutText(QKeySequence::StandardKey key) {
    if (key == QKeySequence::UnknownKey ||
        QCoreApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus))
        return QString();
    return u'\t' + QKeySequence(key).toString(QKeySequence::NativeText);
}

int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

} // namespace

// A key that moves the caret, and with Shift (or as the platform has it) selects.
struct LogView::CaretKey {
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Step step;
};
struct LogView::CommandKey {
    QKeySequence::StandardKey key;
    void (LogView::*command)();
};

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent), clipboard_(&SystemClipboard()) {
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

LogView::~LogView() = default;

void LogView::Reload() {
    FixPrimary();
    layout_.ForgetAll();
    model_.Reload();
    if (top_.line >= store_.LineCount())
        top_ = RowPos{};
    SyncScrollBar();
}

void LogView::ScrollToBottom() {
    top_ = BottomTop();
    SyncScrollBar();
}

void LogView::SetCaret(qsizetype line, qsizetype column) {
    Select({line, column}, {line, column});
}

void LogView::Select(TextPos anchor, TextPos caret) {
    model_.Select(anchor, caret);
    preferredX_ = -1;
    EnsureCaretVisible();
    PublishSelection();
}

bool LogView::AtBottom() const {
    return top_ >= BottomTop();
}

std::optional<QPoint> LogView::PointOf(TextPos pos) const {
    const RowPos target = layout_.RowOf(pos.line, pos.column);
    RowPos row = top_;
    int y = kMargin;
    while (row < target && y < viewport()->height() && layout_.StepDown(row))
        y += layout_.RowHeight();
    if (row != target || y >= viewport()->height())
        return std::nullopt;
    return QPoint(kMargin + layout_.XOf(pos.line, pos.column), y + layout_.RowHeight() / 2);
}

QString LogView::PlainText() const {
    const QString text = model_.Text(TextPos{}, model_.End());
    return store_.LineCount() == 0 ? text : text + u'\n';
}

// ---- what the program does ----

void LogView::Clear() {
    FixPrimary();
    store_.Clear();
    AfterProgramChange(false, true);
}

void LogView::SetSingleLine(const QByteArray& bytes) {
    FixPrimary();
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

// Appended lines leave every position as it was; a text replaced whole starts again at its top.
void LogView::AfterProgramChange(bool wasAtBottom, bool replaced) {
    if (replaced) {
        layout_.ForgetAll();
        model_.Reset();
        dragging_ = false;
        top_ = RowPos{};
    }
    const RowPos bottom = BottomTop();
    if (wasAtBottom)
        top_ = bottom;
    SyncScrollBar(bottom);
}

// ---- the edit actions ----

void LogView::SelectAll() {
    model_.SelectAll();
    viewport()->update();
    PublishSelection();
}

void LogView::Copy() {
    if (!model_.HasSelection())
        return;
    auto* data = new QMimeData;
    data->setText(model_.SelectedText());
    clipboard_->Set(QClipboard::Clipboard, data);
}

void LogView::Cut() {
    Copy();
    DeleteSelection();
}

void LogView::Paste() {
    PasteFrom(QClipboard::Clipboard);
}

void LogView::DeleteSelection() {
    if (model_.HasSelection())
        UserEdit([this] { return model_.DeleteForward(); });
}

void LogView::Undo() {
    UserEdit([this] { return model_.Undo(); });
}

void LogView::Redo() {
    UserEdit([this] { return model_.Redo(); });
}

QMenu* LogView::CreateContextMenu(QWidget* parent) {
    struct Entry {
        const char* name; // as Qt's own edit fields name their actions
        const char* text;
        QKeySequence::StandardKey key;
        void (LogView::*action)();
        bool enabled;
    };
    const bool selection = model_.HasSelection();
    const bool empty = store_.LineCount() == 0 || (store_.LineCount() == 1 && store_.LineSize(0) == 0);
    const bool allSelected = model_.SelectionStart() == TextPos{} && model_.SelectionEnd() == model_.End();
    const Entry entries[] = {
        {"edit-undo", "&Undo", QKeySequence::Undo, &LogView::Undo, model_.CanUndo()},
        {"edit-redo", "&Redo", QKeySequence::Redo, &LogView::Redo, model_.CanRedo()},
        {},
        {"edit-cut", "Cu&t", QKeySequence::Cut, &LogView::Cut, selection},
        {"edit-copy", "&Copy", QKeySequence::Copy, &LogView::Copy, selection},
        {"edit-paste", "&Paste", QKeySequence::Paste, &LogView::Paste,
         !clipboard_->Text(QClipboard::Clipboard).isEmpty()},
        {"edit-delete", "Delete", QKeySequence::UnknownKey, &LogView::DeleteSelection, selection},
        {},
        {"select-all", "Select All", QKeySequence::SelectAll, &LogView::SelectAll, !empty && !allSelected},
    };
    auto* menu = new QMenu(parent);
    for (const Entry& entry : entries) {
        if (!entry.text) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QtEditText(entry.text) + ShortcutText(entry.key));
        action->setObjectName(QLatin1String(entry.name));
        action->setEnabled(entry.enabled);
        connect(action, &QAction::triggered, this, entry.action);
    }
    return menu;
}

// ---- find ----

void LogView::OpenFind() {
    if (!findBar_) {
        findBar_ = new FindBar(this);
        connect(findBar_, &FindBar::Next, this, &LogView::FindNext);
        connect(findBar_, &FindBar::Previous, this, &LogView::FindPrevious);
        connect(findBar_, &FindBar::Closed, this, &LogView::CloseFind);
    }
    const TextPos start = model_.SelectionStart();
    const TextPos end = model_.SelectionEnd();
    if (model_.HasSelection() && start.line == end.line)
        findBar_->setText(model_.SelectedText());
    findBar_->show();
    PlaceFindBar();
    findBar_->selectAll();
    findBar_->setFocus(Qt::ShortcutFocusReason);
}

void LogView::CloseFind() {
    if (!findBar_)
        return;
    findBar_->hide();
    PlaceFindBar();
    setFocus(Qt::OtherFocusReason);
}

void LogView::Find(bool backward) {
    if (!findBar_ || findBar_->text().isEmpty()) {
        OpenFind();
        return;
    }
    const auto match = model_.Find(findBar_->text(), backward);
    findBar_->ShowFound(match.has_value());
    if (match)
        Select(match->first, match->second);
}

// The field lies under the rows, inside the pane's frame: the rows give it their bottom.
void LogView::PlaceFindBar() {
    const bool open = findBar_ && findBar_->isVisible();
    const int height = open ? findBar_->sizeHint().height() : 0;
    setViewportMargins(0, 0, 0, height);
    if (open) {
        const QRect rows = viewport()->geometry();
        findBar_->setGeometry(rows.left(), rows.bottom() + 1, rows.width(), height);
    }
}

// ---- painting ----

KeptInk::Setting LogView::InkSetting() const {
    return KeptInk::Setting{font(),           viewport()->width(),       layout_.RowHeight(),      kMargin,
                            layout_.Ascent(), viewport()->logicalDpiX(), viewport()->logicalDpiY()};
}

void LogView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QList<ShownRow> rows = layout_.RowsFrom(top_, kMargin, viewport()->height());
    QList<Highlight> highlights;
    QList<QString> texts;
    QList<bool> drawn;
    for (const ShownRow& row : rows) {
        highlights.append(HighlightOf(row));
        texts.append(row.text);
        drawn.append(highlights.last().Any());
    }
    const QImage* device = KeptInk::Device(painter, viewport()->devicePixelRatio());
    const KeptInk::Setting setting = InkSetting();
    const KeptInk::RowInks inks = device ? ink_.Inks(texts, drawn, setting) : KeptInk::RowInks();
    if (!inks.isEmpty() && ink_.Lays(setting)) {
        PaintRows(painter, rows, highlights, inks);
        return;
    }
    PaintRows(painter, rows, highlights, {});
    // The first time with a font and a size, the rows drawn are compared with their ink laid the same
    // way: ink is laid from then on only if it gives the very same pixels.
    const bool anyInk =
        std::any_of(inks.cbegin(), inks.cend(), [](const auto& ink) { return ink && !ink->image.isNull(); });
    if (anyInk && !ink_.Checked(setting) && event->rect() == viewport()->rect())
        ink_.Check(setting, *device, painter.deviceTransform().mapRect(viewport()->rect()),
                   [&](QPainter& layer) { PaintRows(layer, rows, highlights, inks); });
}

LogView::Highlight LogView::HighlightOf(const ShownRow& row) const {
    const TextPos start = model_.SelectionStart();
    const TextPos end = model_.SelectionEnd();
    const qsizetype line = row.pos.line;
    if (!model_.HasSelection() || line < start.line || line > end.line)
        return {};
    const qsizetype from = line == start.line ? start.column : 0;
    const qsizetype to = line == end.line ? end.column : kPast;
    const qsizetype rowFrom = std::max(from, row.row.start);
    return Highlight{rowFrom, std::max(rowFrom, std::min(to, row.row.End())),
                     row.breakAfter && from <= row.row.End() && to > row.row.End()};
}

// The white pane with each row in turn laid from its ink or drawn, and the caret after its row.
void LogView::PaintRows(QPainter& painter, const QList<ShownRow>& rows, const QList<Highlight>& highlights,
                        const KeptInk::RowInks& inks) const {
    painter.fillRect(viewport()->rect(), Qt::white);
    painter.setFont(font());
    const bool showCaret = ShowsCaret();
    const TextPos caret = model_.Caret();
    const RowPos caretRow = layout_.RowOf(caret.line, caret.column);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ShownRow& row = rows[i];
        if (inks.isEmpty() || !inks[i])
            DrawRow(painter, row, highlights[i]);
        else if (!inks[i]->image.isNull())
            painter.drawImage(QPoint(0, row.y) + inks[i]->offset, inks[i]->image);
        if (showCaret && row.pos == caretRow) {
            const int x =
                kMargin + layout_.Metrics().horizontalAdvance(row.text.left(caret.column - row.row.start));
            painter.fillRect(x, row.y, kCaretWidth, layout_.RowHeight(), Qt::black);
        }
    }
    if (rows.isEmpty() && showCaret)
        painter.fillRect(kMargin, kMargin, kCaretWidth, layout_.RowHeight(), Qt::black);
}

// A row's text, and where it is selected, the highlight under it and its letters in the highlight's
// text colour.
void LogView::DrawRow(QPainter& painter, const ShownRow& row, const Highlight& highlight) const {
    painter.setPen(Qt::black);
    if (!highlight.Any()) {
        painter.drawText(QPoint(kMargin, row.y + layout_.Ascent()), row.text);
        return;
    }
    // Shaped once, its glyphs laid three times, each time clipped to one side of the highlight or to it.
    QTextLayout shaped(row.text, font());
    shaped.setTextOption(QTextOption(Qt::AlignLeft | Qt::AlignAbsolute));
    shaped.beginLayout();
    const QTextLine line = shaped.createLine();
    shaped.endLayout();
    const QList<QGlyphRun> glyphs = shaped.glyphRuns();
    const QPointF origin(kMargin, row.y + layout_.Ascent() - line.ascent());
    const int left = kMargin + qRound(line.cursorToX(int(highlight.from - row.row.start)));
    const int right = kMargin + qRound(line.cursorToX(int(highlight.to - row.row.start))) +
                      (highlight.lineBreak ? layout_.Metrics().horizontalAdvance(u' ') : 0);
    const int height = viewport()->height();
    painter.fillRect(left, row.y, right - left, layout_.RowHeight(), palette().color(QPalette::Highlight));
    const auto lay = [&](int from, int to, const QColor& colour) {
        if (to <= from)
            return;
        painter.setClipRect(from, 0, to - from, height);
        painter.setPen(colour);
        for (const QGlyphRun& run : glyphs)
            painter.drawGlyphRun(origin, run);
    };
    painter.save();
    lay(0, left, Qt::black);
    lay(right, viewport()->width(), Qt::black);
    lay(left, right, palette().color(QPalette::HighlightedText));
    painter.restore();
}

// ---- rows and scrolling ----

int LogView::WrapWidth() const {
    return viewport()->width() - 2 * kMargin - kCaretWidth;
}

int LogView::FullRows() const {
    return std::max(1, (viewport()->height() - kMargin) / layout_.RowHeight());
}

void LogView::FontChanged() {
    layout_.SetFont(font());
    layout_.SetWidth(WrapWidth());
    ink_.Clear();
    SyncScrollBar();
}

RowPos LogView::BottomTop() const {
    return layout_.Moved(layout_.LastRow(), 1 - FullRows());
}

TextPos LogView::PositionAt(QPoint point) const {
    if (store_.LineCount() == 0)
        return TextPos{};
    const RowPos row = layout_.Moved(top_, FloorDiv(point.y() - kMargin, layout_.RowHeight()));
    return TextPos{row.line, layout_.ColumnAtX(row, point.x() - kMargin)};
}

void LogView::SyncScrollBar() {
    SyncScrollBar(BottomTop());
}

void LogView::SyncScrollBar(RowPos bottom) {
    if (top_ > bottom)
        top_ = bottom;
    if (top_.line < store_.LineCount())
        top_.row = std::min(top_.row, layout_.Of(top_.line).rows.size() - 1);
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
    for (; rows > 0 && top_ < bottom && layout_.StepDown(top_); --rows) {
    }
    for (; rows < 0 && layout_.StepUp(top_); ++rows) {
    }
    SyncScrollBar();
}

void LogView::EnsureCaretVisible() {
    const TextPos caret = model_.Caret();
    const RowPos row = layout_.RowOf(caret.line, caret.column);
    if (store_.LineCount() == 0)
        top_ = RowPos{};
    else if (row < top_)
        top_ = row;
    else
        top_ = std::max(top_, layout_.Moved(row, 1 - FullRows()));
    SyncScrollBar();
}

// ---- keys ----

bool LogView::event(QEvent* event) {
    // Editing keys are the pane's own, before any shortcut of the window.
    if (event->type() == QEvent::ShortcutOverride && Key(static_cast<QKeyEvent*>(event), false)) {
        event->accept();
        return true;
    }
    return QAbstractScrollArea::event(event);
}

void LogView::keyPressEvent(QKeyEvent* event) {
    if (!Key(event, true))
        QAbstractScrollArea::keyPressEvent(event);
}

// Whether the pane handles the key; with `act`, handles it.
bool LogView::Key(const QKeyEvent* event, bool act) {
    static constexpr CommandKey kCommands[] = {
        {QKeySequence::SelectAll, &LogView::SelectAll},
        {QKeySequence::Copy, &LogView::Copy},
        {QKeySequence::Cut, &LogView::Cut},
        {QKeySequence::Paste, &LogView::Paste},
        {QKeySequence::Undo, &LogView::Undo},
        {QKeySequence::Redo, &LogView::Redo},
        {QKeySequence::Delete, &LogView::DeleteForward},
        {QKeySequence::Find, &LogView::OpenFind},
        {QKeySequence::FindNext, &LogView::FindNext},
        {QKeySequence::FindPrevious, &LogView::FindPrevious},
    };
    static constexpr CaretKey kCaretKeys[] = {
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Step::PrevChar},
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Step::NextChar},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Step::PrevWord},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Step::NextWord},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Step::RowUp},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Step::RowDown},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Step::PageUp},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Step::PageDown},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Step::RowStart},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Step::RowEnd},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Step::TextStart},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Step::TextEnd},
    };
    for (const CommandKey& command : kCommands)
        if (event->matches(command.key))
            return !act || ((this->*command.command)(), true);
    for (const CaretKey& caret : kCaretKeys)
        if (event->matches(caret.move) || event->matches(caret.select))
            return !act || (MoveCaret(caret.step, event->matches(caret.select)), true);
    const QString typed = event->text();
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const bool printable = !typed.isEmpty() && !ctrl &&
                           std::all_of(typed.cbegin(), typed.cend(),
                                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() != 0x7F; });
    switch (event->key()) {
    case Qt::Key_Backspace:
        return !act || (Backspace(), true);
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return !act || (Type(QStringLiteral("\n")), true);
    case Qt::Key_Escape:
        return findBar_ && findBar_->isVisible() && (!act || (CloseFind(), true));
    default:
        return printable && (!act || (Type(typed), true));
    }
}

TextPos LogView::Stepped(Step step) const {
    const TextPos caret = model_.Caret();
    const qsizetype count = store_.LineCount();
    if (count == 0)
        return caret;
    const RowLayout::Line& line = layout_.Of(caret.line);
    const qsizetype size = line.text.size();
    const RowPos row = layout_.RowOf(caret.line, caret.column);
    const RowLayout::Row& r = line.rows[row.row];
    switch (step) {
    case Step::PrevChar:
    case Step::PrevWord:
        if (caret.column == 0)
            return caret.line > 0 ? TextPos{caret.line - 1, kPast} : caret;
        return {caret.line, step == Step::PrevChar ? PrevColumn(line.text, caret.column)
                                                   : PrevWordColumn(line.text, caret.column)};
    case Step::NextChar:
    case Step::NextWord:
        if (caret.column == size)
            return caret.line + 1 < count ? TextPos{caret.line + 1, 0} : caret;
        return {caret.line, step == Step::NextChar ? NextColumn(line.text, caret.column)
                                                   : NextWordColumn(line.text, caret.column)};
    case Step::RowUp:
    case Step::RowDown:
    case Step::PageUp:
    case Step::PageDown: {
        const int rows = step == Step::RowUp     ? -1
                         : step == Step::RowDown ? 1
                         : step == Step::PageUp  ? -FullRows()
                                                 : FullRows();
        const RowPos to = layout_.Moved(row, rows);
        return {to.line, layout_.ColumnAtX(to, preferredX_)};
    }
    case Step::RowStart:
        return {caret.line, r.start};
    case Step::RowEnd: {
        // A soft-wrapped row ends where the next begins; the caret stays on this row.
        const bool wrapped = row.row + 1 < line.rows.size() && line.rows[row.row + 1].start == r.End();
        return {caret.line, wrapped ? PrevColumn(line.text, r.End()) : r.End()};
    }
    case Step::TextStart:
        return TextPos{};
    case Step::TextEnd:
        return model_.End();
    }
    return caret;
}

void LogView::MoveCaret(Step step, bool select) {
    const bool vertical =
        step == Step::RowUp || step == Step::RowDown || step == Step::PageUp || step == Step::PageDown;
    const TextPos caret = model_.Caret();
    if (vertical && preferredX_ < 0)
        preferredX_ = layout_.XOf(caret.line, caret.column);
    // Without Shift, Left and Right first leave a selection at its start or end, as a memo does.
    TextPos to = Stepped(step);
    if (!select && model_.HasSelection() && (step == Step::PrevChar || step == Step::NextChar))
        to = step == Step::PrevChar ? model_.SelectionStart() : model_.SelectionEnd();
    const int keptX = preferredX_;
    Select(select ? model_.Anchor() : to, to);
    if (vertical)
        preferredX_ = keptX;
}

// ---- the mouse ----

void LogView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    dragPoint_ = event->position().toPoint();
    const TextPos pos = PositionAt(dragPoint_);
    if (event->button() == Qt::MiddleButton) {
        Select(pos, pos);
        PasteFrom(QClipboard::Selection);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    // A third press soon after a double click, where it was, selects the line. Timed by the events'
    // own clock, as the window system counted the double click.
    const QStyleHints* hints = QGuiApplication::styleHints();
    const bool tripleClick =
        doubleClick_ && event->timestamp() >= doubleClick_->time &&
        event->timestamp() - doubleClick_->time < quint64(hints->mouseDoubleClickInterval()) &&
        (dragPoint_ - doubleClick_->point).manhattanLength() < hints->startDragDistance();
    doubleClick_.reset();
    if (tripleClick)
        StartDrag(pos, Unit::Line, false);
    else
        StartDrag(pos, Unit::Character, event->modifiers().testFlag(Qt::ShiftModifier));
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    dragPoint_ = event->position().toPoint();
    doubleClick_ = DoubleClick{event->timestamp(), dragPoint_};
    StartDrag(PositionAt(dragPoint_), Unit::Word, false);
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !event->buttons().testFlag(Qt::LeftButton))
        return;
    dragPoint_ = event->position().toPoint();
    DragTo(PositionAt(dragPoint_));
    const bool outside = dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height();
    if (outside && !autoScroll_.isActive())
        autoScroll_.start(kAutoScrollMs, this);
    else if (!outside)
        autoScroll_.stop();
}

void LogView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    autoScroll_.stop();
    PublishSelection();
}

void LogView::timerEvent(QTimerEvent* event) {
    if (event->timerId() != autoScroll_.timerId())
        return QAbstractScrollArea::timerEvent(event);
    // The rows move under a mouse held above or below them, and the selection follows.
    if (dragging_)
        DragTo(PositionAt(dragPoint_));
    else
        autoScroll_.stop();
}

// The unit a position lies in: itself, its word, or its line with the break after it.
std::pair<TextPos, TextPos> LogView::UnitAt(TextPos pos, Unit unit) const {
    if (unit == Unit::Character || store_.LineCount() == 0)
        return {pos, pos};
    const QString& text = layout_.Of(pos.line).text;
    if (unit == Unit::Word) {
        const auto [start, end] = WordAt(text, pos.column);
        return {{pos.line, start}, {pos.line, end}};
    }
    const bool last = pos.line + 1 == store_.LineCount();
    return {{pos.line, 0}, last ? TextPos{pos.line, text.size()} : TextPos{pos.line + 1, 0}};
}

void LogView::StartDrag(TextPos pos, Unit unit, bool extend) {
    dragging_ = true;
    dragUnit_ = unit;
    const auto [from, to] = extend ? std::pair{model_.Anchor(), model_.Anchor()} : UnitAt(pos, unit);
    dragFrom_ = from;
    dragTo_ = to;
    DragTo(pos);
}

// The selection from the unit the drag began with to the unit at `pos`, whichever way it goes.
void LogView::DragTo(TextPos pos) {
    const auto [from, to] = UnitAt(pos, dragUnit_);
    if (from < dragFrom_)
        model_.Select(dragTo_, from);
    else
        model_.Select(dragFrom_, std::max(to, dragTo_));
    preferredX_ = -1;
    EnsureCaretVisible();
}

void LogView::wheelEvent(QWheelEvent* event) {
    wheelRemainder_ += event->angleDelta().y();
    const int rows = wheelRemainder_ / kWheelUnitsPerRow;
    wheelRemainder_ -= rows * kWheelUnitsPerRow;
    ScrollByRows(-rows);
    event->accept();
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ---- edits ----

void LogView::Type(const QString& text) {
    UserEdit([&] { return model_.Insert(text, EditModel::Kind::Typing); });
}

void LogView::Backspace() {
    UserEdit([this] { return model_.DeleteBackward(); });
}

void LogView::DeleteForward() {
    UserEdit([this] { return model_.DeleteForward(); });
}

void LogView::PasteFrom(QClipboard::Mode mode) {
    const QString text = clipboard_->Text(mode);
    if (!text.isEmpty())
        UserEdit([&] { return model_.Insert(text); });
}

void LogView::UserEdit(const std::function<std::optional<LinesChanged>()>& edit) {
    FixPrimary();
    const std::optional<LinesChanged> changed = edit();
    if (!changed)
        return;
    if (changed->removed == changed->inserted && changed->removed <= kMaxLinesForgotten)
        for (qsizetype i = 0; i < changed->removed; ++i)
            layout_.Forget(changed->line + i);
    else
        layout_.ForgetAll();
    preferredX_ = -1;
    EnsureCaretVisible();
    emit TextEdited();
}

// The selection becomes the primary selection, its text built only if someone pastes it.
void LogView::PublishSelection() {
    if (!model_.HasSelection())
        return;
    const TextPos from = model_.SelectionStart();
    const TextPos to = model_.SelectionEnd();
    auto* text = new LazyText([view = QPointer<LogView>(this), from, to] {
        return view ? view->model_.Text(from, to) : QString();
    });
    primary_ = text;
    clipboard_->Set(QClipboard::Selection, text);
}

// The text the primary selection offers is built now, before the lines it comes from change.
void LogView::FixPrimary() {
    if (primary_)
        primary_->Fix();
}

// ---- focus and input methods ----

void LogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void LogView::resizeEvent(QResizeEvent* event) {
    const bool wasAtBottom = AtBottom();
    QAbstractScrollArea::resizeEvent(event);
    layout_.SetWidth(WrapWidth());
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

void LogView::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty())
        Type(event->commitString());
    event->accept();
}

QVariant LogView::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query != Qt::ImCursorRectangle)
        return QAbstractScrollArea::inputMethodQuery(query);
    // The caret's row on screen; off screen gives the top-left.
    const QPoint at = PointOf(model_.Caret()).value_or(QPoint(kMargin, kMargin + layout_.RowHeight() / 2));
    return QRect(viewport()->pos() + QPoint(at.x(), at.y() - layout_.RowHeight() / 2),
                 QSize(kCaretWidth, layout_.RowHeight()));
}

} // namespace log_pane
