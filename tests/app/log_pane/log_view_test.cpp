#include "app/log_pane/log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using log_pane::LogView;
using namespace Qt::StringLiterals;

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

// Actions: "<Key>" or "<Ctrl+Key>" for a key, anything else is typed as text.
void Play(LogView& view, const QStringList& actions) {
    for (const QString& action : actions) {
        if (action.startsWith(u'<') && action.endsWith(u'>') && action.size() > 2) {
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
        QCOMPARE(QApplication::clipboard()->text(), u"2024/06/01 12:00:00\nA1\n\nA2\n"_s);
        QCOMPARE(view.PlainText(), QApplication::clipboard()->text());
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
        QTest::newRow("status texts") << plain << QStringList{u"SamplingTime = 1* 0.1S"_s, u"データ読み込み中 ■■■■"_s}
                                      << QStringList{u"SamplingTime = 1* 0.1S"_s, u"データ読み込み中 ■■■■"_s};
        QTest::newRow("control bytes") << plain << QStringList{u"A0\x01\t7F\x7f"_s} << QStringList{u"A0␁ 7F␡"_s};
        // The window's face at its size: a comma's tail reaches into the row below.
        QFont window(u"IPAPGothic"_s);
        window.setPixelSize(12);
        const QStringList values{u"AD0=545 V, AD1=4088"_s, u"AD0=546 V, AD1=4028 gjpqy"_s, u"AD0=547 V, AD1=3968"_s,
                                 u"AD0=548 V, AD1=3908"_s, u"AD0=549 V, AD1=3848"_s};
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
        const log_pane::RowPictures::Setting setting{view.font(), 200, rowHeight, 2, QFontMetrics(view.font()).ascent(),
                                                   96, 96};
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
