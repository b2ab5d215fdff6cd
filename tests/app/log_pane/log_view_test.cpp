#include "app/log_pane/clipboard.h"
#include "app/log_pane/find_bar.h"
#include "app/log_pane/log_view.h"
#include "translations/ui_language.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <map>
#include <memory>

using log_pane::LogView;
using log_pane::TextPos;
using namespace Qt::StringLiterals;
Q_DECLARE_METATYPE(log_pane::TextPos)

namespace {

// The pane's size in the main window.
constexpr QSize kMemoSize(433, 65);

QStringList Texts(const LogView& view) {
    QStringList lines;
    for (qsizetype i = 0; i < view.Store().LineCount(); ++i)
        lines.append(view.Store().LineText(i));
    return lines;
}

void Fill(LogView& view, const QStringList& lines) {
    view.Clear();
    for (const QString& line : lines)
        view.AppendText(line);
}

void SendText(QWidget* widget, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
}

// Actions: "<Key>" or "<Ctrl+Key>" for a key, "{append}", "{clear}" or "{single}" for what the program
// does to the log, anything else is typed as text.
void Play(QWidget& view, const QStringList& actions) {
    for (const QString& action : actions) {
        auto* log = qobject_cast<LogView*>(&view);
        if (action == u"{append}")
            log->AppendReply("A0 1");
        else if (action == u"{clear}")
            log->Clear();
        else if (action == u"{single}")
            log->SetSingleLine("FT12345");
        else if (action.startsWith(u'<') && action.endsWith(u'>') && action.size() > 2) {
            const QKeySequence sequence(action.mid(1, action.size() - 2));
            QVERIFY2(!sequence.isEmpty(), qPrintable(action));
            const QKeyCombination key = sequence[0];
            QTest::keyClick(&view, key.key(), key.keyboardModifiers());
        } else {
            SendText(&view, action);
        }
    }
}

// Shown off screen, so that the pane has its real size and receives its resize.
void Prepare(LogView& view) {
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.resize(kMemoSize);
    view.show();
}

int RowHeight(const LogView& view) {
    return QFontMetrics(view.font()).lineSpacing();
}

QImage RenderViewport(LogView& view) {
    QImage image(view.viewport()->size(), QImage::Format_RGB32);
    image.fill(Qt::red);
    view.viewport()->render(&image);
    return image;
}

int InkIn(const QImage& image, int top, int bottom) {
    int ink = 0;
    for (int y = std::max(0, top); y < std::min(image.height(), bottom); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += image.pixelColor(x, y) != QColor(Qt::white);
    return ink;
}

void SaveArtefact(const QImage& image, const QString& name) {
    const QString folder = qEnvironmentVariable("TAVRIN_TEST_ARTEFACTS");
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    image.save(QDir(folder).filePath(name));
}

struct FakeClipboard : log_pane::Clipboard {
    void Set(QClipboard::Mode mode, QMimeData* data) override { held[mode].reset(data); }
    QString Text(QClipboard::Mode mode) const override {
        const auto found = held.find(mode);
        return found == held.end() ? QString() : found->second->text();
    }
    std::map<QClipboard::Mode, std::unique_ptr<QMimeData>> held;
};

QPoint At(const LogView& view, TextPos pos) {
    return view.PointOf(pos).value_or(QPoint(-100, -100));
}

// Mouse gestures from one position to another: "drag", "shift-click", "double" (a double click at
// `from`, then a drag to `to`) and "triple".
void Gesture(LogView& view, const QString& gesture, TextPos from, TextPos to) {
    QWidget* rows = view.viewport();
    const QPoint a = At(view, from);
    const QPoint b = At(view, to);
    if (gesture == u"drag") {
        QTest::mousePress(rows, Qt::LeftButton, {}, a);
        QTest::mouseMove(rows, b);
        QTest::mouseRelease(rows, Qt::LeftButton, {}, b);
    } else if (gesture == u"shift-click") {
        QTest::mouseClick(rows, Qt::LeftButton, {}, a);
        QTest::mouseClick(rows, Qt::LeftButton, Qt::ShiftModifier, b);
    } else {
        QTest::mouseClick(rows, Qt::LeftButton, {}, a);
        QTest::mouseDClick(rows, Qt::LeftButton, {}, a);
        if (gesture == u"triple") {
            QTest::mouseClick(rows, Qt::LeftButton, {}, a);
            return;
        }
        QTest::mouseMove(rows, b);
        QTest::mouseRelease(rows, Qt::LeftButton, {}, b);
    }
}

int CountColour(const QImage& image, QRect area, QColor colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.valid(x, y) && image.pixelColor(x, y) == colour;
    return n;
}

QStringList Numbered(const QString& pattern, int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << pattern.arg(i);
    return lines;
}

struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

} // namespace

class LogViewTest : public QObject {
    Q_OBJECT

private slots:
    void typingAndEnterAtTheEnd() {
        LogView view;
        Prepare(view);
        Fill(view, {u"FileName = tavrin0"_s});
        QSignalSpy edited(&view, &LogView::TextEdited);
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(&view, "abc");
        QTest::keyClick(&view, Qt::Key_Return);
        QCOMPARE(Texts(view), (QStringList{u"FileName = tavrin0abc"_s, QString()}));
        QCOMPARE(view.Store().FileBytes(), QByteArray("FileName = tavrin0abc\r\n\r\n"));
        QCOMPARE(edited.count(), 4);
        QCOMPARE(view.CaretLine(), 1);
        QCOMPARE(view.CaretColumn(), 0);
    }

    void editing_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("caretLine");
        QTest::addColumn<int>("caretColumn");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("expectedLine");
        QTest::addColumn<int>("expectedColumn");
        const QStringList abcd{u"ab"_s, u"cd"_s};
        QTest::newRow("enter splits a line")
            << QStringList{u"abcd"_s} << 0 << 2 << QStringList{u"<Return>"_s} << abcd << 1 << 0;
        QTest::newRow("backspace at start joins")
            << abcd << 1 << 0 << QStringList{u"<Backspace>"_s} << QStringList{u"abcd"_s} << 0 << 2;
        QTest::newRow("delete at end joins")
            << abcd << 0 << 2 << QStringList{u"<Delete>"_s} << QStringList{u"abcd"_s} << 0 << 2;
        QTest::newRow("backspace at the very start")
            << abcd << 0 << 0 << QStringList{u"<Backspace>"_s} << abcd << 0 << 0;
        QTest::newRow("backspace removes a reply's CR LF at once")
            << QStringList{u"A1\r\n"_s} << 0 << 4 << QStringList{u"<Backspace>"_s} << QStringList{u"A1"_s}
            << 0 << 2;
        QTest::newRow("left skips CR LF") << QStringList{u"ab\r\ncd"_s} << 0 << 4 << QStringList{u"<Left>"_s}
                                          << QStringList{u"ab\r\ncd"_s} << 0 << 2;
        QTest::newRow("right at line end goes to the next line")
            << abcd << 0 << 2 << QStringList{u"<Right>"_s, u"x"_s} << QStringList{u"ab"_s, u"xcd"_s} << 1
            << 1;
        QTest::newRow("down keeps the column")
            << QStringList{u"abcd"_s, u"efgh"_s} << 0 << 3 << QStringList{u"<Down>"_s, u"<Backspace>"_s}
            << QStringList{u"abcd"_s, u"efh"_s} << 1 << 2;
        QTest::newRow("home and end")
            << QStringList{u"abcd"_s} << 0 << 2 << QStringList{u"<Home>"_s, u"<"_s, u"<End>"_s, u">"_s}
            << QStringList{u"<abcd>"_s} << 0 << 6;
        QTest::newRow("japanese typed") << QStringList{QString()} << 0 << 0 << QStringList{u"読み込み"_s}
                                        << QStringList{u"読み込み"_s} << 0 << 4;
        QTest::newRow("emoji stored as a reference") << QStringList{u"ab"_s} << 0 << 1 << QStringList{u"😀"_s}
                                                     << QStringList{u"a&#x1F600;b"_s} << 0 << 10;
        QTest::newRow("select all then type replaces")
            << abcd << 1 << 1 << QStringList{u"<Ctrl+A>"_s, u"x"_s} << QStringList{u"x"_s} << 0 << 1;
        QTest::newRow("select all then delete") << abcd << 0 << 0 << QStringList{u"<Ctrl+A>"_s, u"<Delete>"_s}
                                                << QStringList{QString()} << 0 << 0;
        QTest::newRow("typing into a cleared log")
            << QStringList{} << 0 << 0 << QStringList{u"x"_s} << QStringList{u"x"_s} << 0 << 1;
        // Selecting with the keys: what is typed then takes the selection's place.
        QTest::newRow("shift+left twice, then typing")
            << QStringList{u"abcd"_s} << 0 << 4 << QStringList{u"<Shift+Left>"_s, u"<Shift+Left>"_s, u"X"_s}
            << QStringList{u"abX"_s} << 0 << 3;
        QTest::newRow("left leaves a selection at its start")
            << QStringList{u"abcd"_s} << 0 << 4
            << QStringList{u"<Shift+Left>"_s, u"<Shift+Left>"_s, u"<Left>"_s, u"X"_s}
            << QStringList{u"abXcd"_s} << 0 << 3;
        QTest::newRow("shift+down, then backspace")
            << abcd << 0 << 1 << QStringList{u"<Shift+Down>"_s, u"<Backspace>"_s} << QStringList{u"ad"_s} << 0
            << 1;
        QTest::newRow("shift+end, then delete")
            << abcd << 0 << 0 << QStringList{u"<Shift+End>"_s, u"<Delete>"_s}
            << QStringList{QString(), u"cd"_s} << 0 << 0;
        QTest::newRow("ctrl+shift+end, then typing")
            << abcd << 0 << 1 << QStringList{u"<Ctrl+Shift+End>"_s, u"Z"_s} << QStringList{u"aZ"_s} << 0 << 2;
        QTest::newRow("ctrl+right goes to the next word")
            << QStringList{u"ab cd"_s} << 0 << 0 << QStringList{u"<Ctrl+Right>"_s, u"X"_s}
            << QStringList{u"ab Xcd"_s} << 0 << 4;
        // Undo and redo.
        QTest::newRow("undo takes back a typed run")
            << abcd << 0 << 2 << QStringList{u"x"_s, u"<Return>"_s, u"y"_s, u"<Ctrl+Z>"_s} << abcd << 0 << 2;
        QTest::newRow("undo one run of two")
            << abcd << 0 << 2 << QStringList{u"x"_s, u"<Right>"_s, u"y"_s, u"<Ctrl+Z>"_s}
            << QStringList{u"abx"_s, u"cd"_s} << 1 << 0;
        QTest::newRow("undo, then redo")
            << abcd << 1 << 2 << QStringList{u"x"_s, u"<Ctrl+Z>"_s, u"<Ctrl+Shift+Z>"_s}
            << QStringList{u"ab"_s, u"cdx"_s} << 1 << 3;
        QTest::newRow("undo a deleted selection")
            << abcd << 0 << 1 << QStringList{u"<Shift+Down>"_s, u"<Delete>"_s, u"<Ctrl+Z>"_s, u"<Delete>"_s}
            << QStringList{u"ad"_s} << 0 << 1;
        // The program's new lines leave what can be undone as it was; its clears drop it.
        QTest::newRow("undo after lines arrived")
            << abcd << 0 << 2 << QStringList{u"x"_s, u"{append}"_s, u"<Ctrl+Z>"_s}
            << QStringList{u"ab"_s, u"cd"_s, u"A0 1"_s} << 0 << 2;
        QTest::newRow("no undo after a clear")
            << abcd << 0 << 2 << QStringList{u"x"_s, u"{clear}"_s, u"<Ctrl+Z>"_s} << QStringList{} << 0 << 0;
        QTest::newRow("no undo after one line set")
            << abcd << 0 << 2 << QStringList{u"x"_s, u"{single}"_s, u"<Ctrl+Z>"_s}
            << QStringList{u"FT12345"_s} << 0 << 0;
    }
    void editing() {
        QFETCH(QStringList, lines);
        QFETCH(int, caretLine);
        QFETCH(int, caretColumn);
        QFETCH(QStringList, actions);
        QFETCH(QStringList, expected);
        QFETCH(int, expectedLine);
        QFETCH(int, expectedColumn);
        LogView view;
        Prepare(view);
        Fill(view, lines);
        view.SetCaret(caretLine, caretColumn);
        Play(view, actions);
        QCOMPARE(Texts(view), expected);
        QCOMPARE(view.CaretLine(), expectedLine);
        QCOMPARE(view.CaretColumn(), expectedColumn);
    }

    void editKeepsTheUnitsBytes() {
        LogView view;
        Prepare(view);
        view.SetSingleLine("\xFF"
                           "A0\x80\r\n");
        view.SetCaret(0, 2);
        QTest::keyClicks(&view, "x");
        QCOMPARE(view.Store().LineBytes(0), QByteArray("\xFF"
                                                       "Ax0\x80\r\n"));
    }

    void inputMethodCommitIsTyped() {
        LogView view;
        QInputMethodEvent event;
        event.setCommitString(u"中"_s);
        QApplication::sendEvent(&view, &event);
        QCOMPARE(view.Store().LineBytes(0), QByteArray("\x92\x86"));
    }

    void selectAllCopiesTheWholeText() {
        LogView view;
        Fill(view, {u"2024/06/01 12:00:00"_s, u"A1\r\n"_s, u"A2"_s});
        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        // The lines as they stand between their breaks: pasted back, the same lines again.
        QCOMPARE(QApplication::clipboard()->text(), u"2024/06/01 12:00:00\nA1\n\nA2"_s);
        QCOMPARE(view.PlainText(), QApplication::clipboard()->text() + u'\n');
    }

    void clickPlacesTheCaret() {
        LogView view;
        Prepare(view);
        Fill(view, {u"abc"_s, u"def"_s});
        const int row = RowHeight(view);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                          QPoint(kMemoSize.width() - 40, 2 + row + row / 2));
        QCOMPARE(view.CaretLine(), 1);
        QCOMPARE(view.CaretColumn(), 3);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(0, 3));
        QCOMPARE(view.CaretLine(), 0);
        QCOMPARE(view.CaretColumn(), 0);
    }

    void longLinesWrap() {
        LogView view;
        Prepare(view);
        QString longLine;
        for (int i = 0; i < 40; ++i)
            longLine += u"word%1 "_s.arg(i);
        Fill(view, {longLine});
        view.SetCaret(0, 0);
        // End stays on the first row, Down moves within the same stored line.
        QTest::keyClick(&view, Qt::Key_End);
        QVERIFY(view.CaretColumn() > 0);
        QVERIFY(view.CaretColumn() < longLine.size());
        view.SetCaret(0, 0);
        QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(view.CaretLine(), 0);
        QVERIFY(view.CaretColumn() > 0);
    }

    void appendScrollsOnlyWhenAtTheBottom() {
        LogView view;
        Prepare(view);
        for (int i = 0; i < 50; ++i)
            view.AppendReply(QByteArray("A0 ") + QByteArray::number(i) + "\r\n");
        QVERIFY(view.AtBottom());
        QVERIFY(view.TopLine() > 40);
        QCOMPARE(view.verticalScrollBar()->value(), view.TopLine());
        view.SetCaret(0, 0);
        QCOMPARE(view.TopLine(), 0);
        view.AppendReply("A0 50\r\n");
        QCOMPARE(view.TopLine(), 0);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        QVERIFY(view.AtBottom());
        view.AppendReply("A0 51\r\n");
        QVERIFY(view.AtBottom());
        QVERIFY(view.TopLine() > 45);
    }

    void paintsTheLastLineAtTheBottom() {
        LogView view;
        Prepare(view);
        for (int i = 0; i < 20; ++i)
            view.AppendText(u"SamplingTime = %1* 0.1S"_s.arg(i));
        view.AppendText(u"データ読み込み中 ■■■■■■■■"_s);
        QVERIFY(view.AtBottom());
        const QImage image = RenderViewport(view);
        SaveArtefact(image, u"log_view_bottom.png"_s);
        const int row = RowHeight(view);
        const int fullRows = std::max(1, (image.height() - 2) / row);
        const int lastTop = 2 + (fullRows - 1) * row;
        QVERIFY(InkIn(image, lastTop, lastTop + row) > 50);
        QCOMPARE(InkIn(image, lastTop + row, image.height()), 0);
        QCOMPARE(InkIn(image, 0, 2), 0);
    }

    // Rows still on show are laid from their kept ink, which is found to give the same pixels as drawing
    // them: the pane looks just as if it drew every row's text in turn.
    void rowsLookAsDrawn_data() {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("shown");
        const QFont plain = LogView().font();
        const QStringList replies{"A0 512 1023 0 4095 1", "A0 513 1022 0 4095 0", "A0 514 1021 1 4094 1",
                                  "A0 515 1020 0 4093 1"};
        QTest::newRow("replies") << plain << replies << replies;
        QTest::newRow("status texts")
            << plain << QStringList{u"SamplingTime = 1* 0.1S"_s, u"データ読み込み中 ■■■■"_s}
            << QStringList{u"SamplingTime = 1* 0.1S"_s, u"データ読み込み中 ■■■■"_s};
        QTest::newRow("control bytes")
            << plain << QStringList{u"A0\x01\t7F\x7f"_s} << QStringList{u"A0␁ 7F␡"_s};
        // The window's face at its size: a comma's tail reaches into the row below.
        QFont window(u"IPAPGothic"_s);
        window.setPixelSize(12);
        const QStringList values{u"AD0=545 V, AD1=4088"_s, u"AD0=546 V, AD1=4028 gjpqy"_s,
                                 u"AD0=547 V, AD1=3968"_s, u"AD0=548 V, AD1=3908"_s,
                                 u"AD0=549 V, AD1=3848"_s};
        QTest::newRow("ink reaching the row below") << window << values << values;
    }
    void rowsLookAsDrawn() {
        QFETCH(QFont, font);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, shown);
        LogView view;
        view.setFont(font);
        Prepare(view);
        view.Clear();
        for (const QString& line : lines) {
            view.AppendText(line);
            RenderViewport(view);
        }
        const QImage painted = RenderViewport(view);
        QVERIFY(view.LaysRowInk());
        QImage drawn(painted.size(), QImage::Format_RGB32);
        drawn.setDotsPerMeterX(painted.dotsPerMeterX());
        drawn.setDotsPerMeterY(painted.dotsPerMeterY());
        drawn.fill(Qt::white);
        QPainter painter(&drawn);
        painter.setFont(font);
        const int ascent = QFontMetrics(font).ascent();
        const int fullRows = (painted.height() - 2) / RowHeight(view);
        shown = shown.mid(std::max<qsizetype>(0, shown.size() - fullRows));
        for (int i = 0; i < shown.size(); ++i)
            painter.drawText(2, 2 + i * RowHeight(view) + ascent, shown[i]);
        painter.end();
        QCOMPARE(painted, drawn);
    }

    // A row whose ink would reach into its neighbours gets no picture: the pane draws it instead.
    void rowPictureOnlyWhereInkStaysInside_data() {
        QTest::addColumn<int>("rowHeight");
        QTest::addColumn<bool>("picture");
        QTest::newRow("the font's row") << RowHeight(LogView()) << true;
        QTest::newRow("rows too low for the text") << 3 << false;
    }
    void rowPictureOnlyWhereInkStaysInside() {
        QFETCH(int, rowHeight);
        QFETCH(bool, picture);
        const LogView view;
        log_pane::RowPictures pictures;
        const log_pane::RowPictures::Setting setting{
            view.font(), 200, rowHeight, 2, QFontMetrics(view.font()).ascent(), 96, 96};
        QCOMPARE(pictures.Picture(u"A0 512 1023"_s, setting).has_value(), picture);
    }

    // Once the slider has its smallest size and sits at the bottom, new lines leave the scroll bar's
    // pixels alone, so it is not painted again line after line.
    void scrollBarStillWhileLinesArrive() {
        LogView view;
        view.resize(kMemoSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        for (int i = 0; i < 200; ++i)
            view.AppendReply("A0 512 1023 0 4095 1\r\n");
        QCoreApplication::processEvents();
        PaintCounter paints(view.verticalScrollBar());
        for (int i = 0; i < 20; ++i) {
            view.AppendReply("A0 512 1023 0 4095 1\r\n");
            QCoreApplication::processEvents();
        }
        QVERIFY(view.AtBottom());
        QCOMPARE(paints.count, 0);
    }

    void mouseSelects_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<TextPos>("from");
        QTest::addColumn<TextPos>("to");
        QTest::addColumn<QString>("selected");
        const QStringList lines{u"abc def"_s, u"ghi"_s, u"データ 読込"_s};
        QTest::newRow("drag in a line") << lines << "drag" << TextPos{0, 1} << TextPos{0, 5} << u"bc d"_s;
        QTest::newRow("drag over lines") << lines << "drag" << TextPos{0, 4} << TextPos{1, 2} << u"def\ngh"_s;
        QTest::newRow("drag upwards") << lines << "drag" << TextPos{1, 2} << TextPos{0, 4} << u"def\ngh"_s;
        QTest::newRow("double click") << lines << "double" << TextPos{0, 5} << TextPos{0, 5} << u"def"_s;
        QTest::newRow("double click, katakana")
            << lines << "double" << TextPos{2, 1} << TextPos{2, 1} << u"データ"_s;
        QTest::newRow("double click, then drag by words")
            << lines << "double" << TextPos{0, 1} << TextPos{0, 5} << u"abc def"_s;
        QTest::newRow("triple click") << lines << "triple" << TextPos{1, 1} << TextPos{1, 1} << u"ghi\n"_s;
        QTest::newRow("shift+click extends")
            << lines << "shift-click" << TextPos{0, 1} << TextPos{1, 2} << u"bc def\ngh"_s;
    }
    void mouseSelects() {
        QFETCH(QStringList, lines);
        QFETCH(QString, gesture);
        QFETCH(TextPos, from);
        QFETCH(TextPos, to);
        QFETCH(QString, selected);
        FakeClipboard clipboard;
        LogView view;
        view.SetClipboard(clipboard);
        Prepare(view);
        Fill(view, lines);
        view.SetCaret(0, 0);
        Gesture(view, gesture, from, to);
        QCOMPARE(clipboard.Text(QClipboard::Selection), selected);
        // Lines the program appends leave the selection where it is; its clears drop it.
        for (int i = 0; i < 20; ++i)
            view.AppendReply("A1 512\r\n");
        QCOMPARE(view.SelectedText(), selected);
        view.Clear();
        QVERIFY(!view.HasSelection());
    }

    void wheelScrolls() {
        LogView view;
        Prepare(view);
        Fill(view, Numbered(u"A0 %1"_s, 30));
        const qsizetype bottom = view.TopLine();
        for (const int notch : {120, 120, -120}) { // up three rows a notch, twice; then down
            QWheelEvent wheel(QPointF(50, 20), view.viewport()->mapToGlobal(QPointF(50, 20)), {},
                              QPoint(0, notch), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view.viewport(), &wheel);
        }
        QCOMPARE(view.TopLine(), bottom - 3);
    }

    // The selected rows are drawn with the highlight, the others still laid from their ink.
    void selectionDrawnOtherRowsLaid() {
        LogView view;
        Prepare(view);
        Fill(view, {u"A0 512 1023"_s, u"A0 513 1022"_s, u"A0 514 1021"_s, u"A0 515 1020"_s});
        view.Select({2, 3}, {2, 7});
        const QImage selected = RenderViewport(view);
        QVERIFY(view.LaysRowInk());
        const int rowTop = At(view, {2, 0}).y() - RowHeight(view) / 2;
        const QRect band(0, rowTop, selected.width(), RowHeight(view));
        const QColor highlight = view.palette().color(QPalette::Highlight);
        QVERIFY(CountColour(selected, band, highlight) > 20);
        QCOMPARE(CountColour(selected, selected.rect(), highlight), CountColour(selected, band, highlight));
    }

    void copyAndThePrimarySelection() {
        FakeClipboard clipboard;
        LogView view;
        view.SetClipboard(clipboard);
        Prepare(view);
        Fill(view, {u"A0 1\r\n"_s, u"データ読み込み中"_s});
        Gesture(view, u"drag"_s, {0, 0}, {1, 3});
        const QString selected = u"A0 1\n\nデータ"_s;
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard.Text(QClipboard::Clipboard), selected);
        // Typed over, the selection stays on offer as it was; a middle click pastes it where it points.
        QTest::keyClicks(&view, "x");
        QCOMPARE(clipboard.Text(QClipboard::Selection), selected);
        QTest::mouseClick(view.viewport(), Qt::MiddleButton, {}, At(view, {0, 1}));
        QCOMPARE(Texts(view), (QStringList{u"xA0 1"_s, QString(), u"データ読み込み中"_s}));
    }

    void contextMenu_data() {
        QTest::addColumn<QStringList>("before"); // keys, with "bc\nd" of "abc", "def" selected
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("enabled");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("clipboard"); // "XY" before
        QTest::addColumn<QString>("selected");
        const QStringList abcdef{u"abc"_s, u"def"_s};
        const QStringList all{"edit-cut", "edit-copy", "edit-paste", "edit-delete", "select-all"};
        QTest::newRow("cut") << QStringList{} << "edit-cut" << all << QStringList{u"aef"_s} << u"bc\nd"_s
                             << QString();
        QTest::newRow("copy") << QStringList{} << "edit-copy" << all << abcdef << u"bc\nd"_s << u"bc\nd"_s;
        QTest::newRow("paste") << QStringList{} << "edit-paste" << all << QStringList{u"aXYef"_s} << u"XY"_s
                               << QString();
        QTest::newRow("delete") << QStringList{} << "edit-delete" << all << QStringList{u"aef"_s} << u"XY"_s
                                << QString();
        QTest::newRow("select all") << QStringList{u"<Right>"_s} << "select-all"
                                    << QStringList{"edit-paste", "select-all"} << abcdef << u"XY"_s
                                    << u"abc\ndef"_s;
        QTest::newRow("undo") << QStringList{u"Z"_s} << "edit-undo"
                              << QStringList{"edit-undo", "edit-paste", "select-all"} << abcdef << u"XY"_s
                              << u"bc\nd"_s;
        QTest::newRow("redo") << QStringList{u"Z"_s, u"<Ctrl+Z>"_s} << "edit-redo"
                              << QStringList{"edit-redo"} + all << QStringList{u"aZef"_s} << u"XY"_s
                              << QString();
    }
    void contextMenu() {
        QFETCH(QStringList, before);
        QFETCH(QString, action);
        QFETCH(QStringList, enabled);
        QFETCH(QStringList, lines);
        QFETCH(QString, clipboard);
        QFETCH(QString, selected);
        FakeClipboard fake;
        auto* xy = new QMimeData;
        xy->setText(u"XY"_s);
        fake.Set(QClipboard::Clipboard, xy);
        LogView view;
        view.SetClipboard(fake);
        Prepare(view);
        Fill(view, {u"abc"_s, u"def"_s});
        view.Select({0, 1}, {1, 1});
        Play(view, before);
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 10),
                                view.viewport()->mapToGlobal(QPoint(20, 10)));
        QApplication::sendEvent(view.viewport(), &click);
        auto* menu = view.findChild<QMenu*>();
        QVERIFY(menu && menu->isVisible());
        QStringList enabledNow;
        for (QAction* entry : menu->actions())
            if (!entry->isSeparator() && entry->isEnabled())
                enabledNow << entry->objectName();
        QCOMPARE(enabledNow, enabled);
        menu->findChild<QAction*>(action)->trigger();
        menu->close();
        QCOMPARE(Texts(view), lines);
        QCOMPARE(fake.Text(QClipboard::Clipboard), clipboard);
        QCOMPARE(view.SelectedText(), selected);
    }

    // The menu's texts are Qt's own in the window's language; the find field's is the program's.
    void editTextsInTheWindowsLanguage_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("undo");
        QTest::addColumn<QString>("selectAll");
        QTest::addColumn<QString>("find");
        QTest::newRow("Japanese") << false << u"元に戻す(&U)\tCtrl+Z"_s << u"すべてを選択\tCtrl+A"_s
                                  << u"検索"_s;
        QTest::newRow("English") << true << u"&Undo\tCtrl+Z"_s << u"Select All\tCtrl+A"_s << u"Find"_s;
    }
    void editTextsInTheWindowsLanguage() {
        QFETCH(bool, english);
        QFETCH(QString, undo);
        QFETCH(QString, selectAll);
        QFETCH(QString, find);
        using translations::Language;
        QVERIFY(translations::InstallTranslators(*qApp, english ? Language::English : Language::Japanese));
        LogView view;
        const QMenu* menu = view.CreateContextMenu(&view);
        QCOMPARE(menu->findChild<QAction*>(u"edit-undo"_s)->text(), undo);
        QCOMPARE(menu->findChild<QAction*>(u"select-all"_s)->text(), selectAll);
        view.OpenFind();
        QCOMPARE(view.FindField()->placeholderText(), find);
    }

    void findHighlightsAndScrolls_data() {
        QTest::addColumn<int>("caretLine");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<QStringList>("keys"); // in the find field
        QTest::addColumn<int>("found");        // the line; -1 for none
        QTest::newRow("the next with F3, ignoring case")
            << 0 << u"a0 5"_s << QStringList{u"<Return>"_s, u"<F3>"_s} << 50;
        QTest::newRow("round the end") << 99 << u"A0 1"_s << QStringList{u"<Return>"_s} << 1;
        QTest::newRow("back with Shift+F3") << 60 << u"A0 5"_s << QStringList{u"<Shift+F3>"_s} << 59;
        QTest::newRow("nowhere") << 0 << u"zz"_s << QStringList{u"<Return>"_s} << -1;
    }
    void findHighlightsAndScrolls() {
        QFETCH(int, caretLine);
        QFETCH(QString, needle);
        QFETCH(QStringList, keys);
        QFETCH(int, found);
        LogView view;
        Prepare(view);
        Fill(view, Numbered(u"A0 %1"_s, 100));
        view.SetCaret(caretLine, 0);
        const int rowsHeight = view.viewport()->height();
        QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
        QLineEdit* field = view.FindField();
        QVERIFY(field && field->isVisible());
        QTest::keyClicks(field, needle);
        Play(*field, keys);
        if (found < 0) {
            QVERIFY(!view.HasSelection());
            QCOMPARE_NE(field->palette().color(QPalette::Base), view.palette().color(QPalette::Base));
        } else {
            QCOMPARE(view.SelectionStart(), (TextPos{found, 0}));
            QCOMPARE(view.SelectionEnd(), (TextPos{found, 4}));
            const QImage shown = RenderViewport(view);
            const QPoint at = At(view, {found, 0});
            const QRect band(0, at.y() - RowHeight(view) / 2, shown.width(), RowHeight(view));
            QVERIFY(CountColour(shown, band, view.palette().color(QPalette::Highlight)) > 20);
        }
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!field->isVisible());
        QCOMPARE(view.viewport()->height(), rowsHeight);
    }

    // Undo never writes into lines that changed under it, and keeps a bounded number of steps.
    void undoHistoryIsSafeAndBounded() {
        output::LogStore store;
        store.SetSingleLine("abc");
        log_pane::EditModel model(store);
        model.Select({0, 3}, {0, 3});
        model.Insert(u"d", log_pane::EditModel::Kind::Typing);
        store.ReplaceLine(0, u"zzz");
        QVERIFY(!model.Undo());
        QCOMPARE(store.LineText(0), u"zzz"_s);
        for (int i = 0; i < 150; ++i) {
            model.Select(model.End(), model.End());
            model.Insert(u"x", log_pane::EditModel::Kind::Typing);
        }
        int undone = 0;
        while (model.Undo())
            ++undone;
        QCOMPARE(undone, 100);
        QCOMPARE(store.LineText(0), u"zzz"_s + QString(50, u'x'));
    }

    void millionLinesPaint() {
        LogView view;
        Prepare(view);
        output::LogStore& store = view.Store();
        store.Clear();
        for (int i = 0; i < 1'000'000; ++i)
            store.AppendBytes("A0 123 456 789 012 3\r\n");
        store.AppendBytes("last");
        view.Reload();
        view.ScrollToBottom();
        QVERIFY(view.TopLine() > 999'990);
        const QImage bottom = RenderViewport(view);
        QVERIFY(InkIn(bottom, 0, bottom.height()) > 0);
        view.verticalScrollBar()->setValue(500'000);
        QCOMPARE(view.TopLine(), 500'000);
        const QImage middle = RenderViewport(view);
        SaveArtefact(middle, u"log_view_million.png"_s);
        QVERIFY(InkIn(middle, 0, middle.height()) > 0);
    }
};

QTEST_MAIN(LogViewTest)
#include "log_view_test.moc"
