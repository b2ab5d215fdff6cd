// The chart's clearing, its frame and the annotations along its top edge.
#include "chart/annotation_texts.h"
#include "chart/chart_frame.h"
#include "chart/chart_picture.h"
#include "chart/chart_text.h"
#include "chart/sweep_state.h"
#include "chart/tcolor.h"
#include "tests/chart/picture_probe.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTest>

#include <algorithm>

using namespace chart;

Q_DECLARE_METATYPE(chart::FrameTexts)

namespace {

FrameTexts SomeTexts() {
    return {QStringLiteral("10"), QStringLiteral("tavrin"), 0, QDateTime(QDate(2024, 5, 1), QTime(13, 4, 5))};
}

// The box a label of `text` paints with its top-left corner at `at`.
QRect LabelBox(QPoint at, const QString& text) {
    return QRect(at, ChartTextBoxSize(text));
}

// True when the pixels of `box` are the same in both pictures.
bool SameInBox(const QImage& a, const QImage& b, const QRect& box) {
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
    return true;
}

} // namespace

class ChartFrameTest : public QObject {
    Q_OBJECT

private slots:
    void clearChartCreatesWhitePictureAtChartResolution();
    void clearChartLeavesRightAndBottomEdges_data();
    void clearChartLeavesRightAndBottomEdges();
    void frameLinesAreOpaque_data();
    void frameLinesAreOpaque();
    void labelsPaintExactlyTheirTextBox_data();
    void labelsPaintExactlyTheirTextBox();
    void tracesUnderGridAndLabelsAreCut();
    void digitalGridOncePerSweep();
    void chartFontHasTheMultiplicationSign();
    void timeStampText_data();
    void timeStampText();
    void longTimeFormatHasNoZone_data();
    void longTimeFormatHasNoZone();
    void annotationTexts_data();
    void annotationTexts();
    void annotationsAreDrawnAsTheirTexts_data();
    void annotationsAreDrawnAsTheirTexts();
    void shorterAnnotationLeavesTheOldTail();
};

void ChartFrameTest::clearChartCreatesWhitePictureAtChartResolution() {
    QImage picture;
    ClearChart(picture);
    QCOMPARE(picture.size(), QSize(kPictureWidth, kPictureHeight));
    QCOMPARE(picture.dotsPerMeterX(), kDotsPerMeter);
    QCOMPARE(picture.dotsPerMeterY(), kDotsPerMeter);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            QCOMPARE(PixelAt(picture, x, y), clWhite);
}

void ChartFrameTest::clearChartLeavesRightAndBottomEdges_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("cleared");
    QTest::newRow("top left") << 0 << 0 << true;
    QTest::newRow("last cleared pixel") << 599 << 399 << true;
    QTest::newRow("right edge column") << 600 << 0 << false;
    QTest::newRow("bottom edge row") << 0 << 400 << false;
    QTest::newRow("edge corner") << 600 << 400 << false;
    QTest::newRow("column 601") << 601 << 330 << false;
    QTest::newRow("far corner") << 608 << 402 << false;
}

void ChartFrameTest::clearChartLeavesRightAndBottomEdges() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, cleared);
    QImage picture = FilledPicture(kPictureWidth, kPictureHeight, clRed);
    ClearChart(picture);
    QCOMPARE(PixelAt(picture, x, y), cleared ? clWhite : clRed);
}

void ChartFrameTest::frameLinesAreOpaque_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<TColor>("color");
    // Dotted lines: grey dots with white gaps, counted from the line's first point.
    QTest::newRow("time grid dot") << 60 << 398 << clGray;
    QTest::newRow("time grid gap") << 60 << 399 << clWhite;
    QTest::newRow("time grid top dot") << 540 << 20 << clGray;
    QTest::newRow("time grid top gap") << 540 << 21 << clWhite;
    QTest::newRow("volt grid dot") << 2 << 50 << clGray;
    QTest::newRow("volt grid gap") << 31 << 250 << clWhite;
    QTest::newRow("digital grid dot") << 100 << 310 << clGray;
    QTest::newRow("digital grid gap") << 101 << 390 << clWhite;
    // Solid lines.
    QTest::newRow("zero-volt axis") << 33 << 300 << clGray;
    QTest::newRow("top edge") << 599 << 0 << clGray;
    QTest::newRow("bottom edge") << 301 << 400 << clGray;
    QTest::newRow("left edge") << 0 << 399 << clGray;
    QTest::newRow("right edge") << 600 << 1 << clGray;
    QTest::newRow("right edge overrides volt grid gap") << 600 << 50 << clGray;
    // Not part of the frame.
    QTest::newRow("open area") << 30 << 30 << clRed;
    QTest::newRow("between digital grid rows") << 30 << 315 << clRed;
    QTest::newRow("column 601") << 601 << 200 << clRed;
    QTest::newRow("row 401") << 60 << 401 << clRed;
}

void ChartFrameTest::frameLinesAreOpaque() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(TColor, color);
    QImage picture = NewChartPicture();
    picture.fill(ToQColor(clRed));
    quint8 gridDrawn = 0;
    DrawChartFrame(picture, SomeTexts(), gridDrawn);
    QCOMPARE(PixelAt(picture, x, y), color);
}

void ChartFrameTest::labelsPaintExactlyTheirTextBox_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("at");
    QTest::newRow("6V") << "6V" << QPoint(5, 2);
    QTest::newRow("5V") << "5V" << QPoint(5, 45);
    QTest::newRow("4V") << "4V" << QPoint(5, 95);
    QTest::newRow("3V") << "3V" << QPoint(5, 145);
    QTest::newRow("2V") << "2V" << QPoint(5, 195);
    QTest::newRow("1V") << "1V" << QPoint(5, 245);
    QTest::newRow("0") << "0" << QPoint(5, 295);
    QTest::newRow("60") << "60" << QPoint(55, 295);
    QTest::newRow("120") << "120" << QPoint(110, 295);
    QTest::newRow("180") << "180" << QPoint(170, 295);
    QTest::newRow("240") << "240" << QPoint(230, 295);
    QTest::newRow("300") << "300" << QPoint(290, 295);
    QTest::newRow("360") << "360" << QPoint(350, 295);
    QTest::newRow("420") << "420" << QPoint(410, 295);
    QTest::newRow("480") << "480" << QPoint(470, 295);
    QTest::newRow("540") << "540" << QPoint(530, 295);
    QTest::newRow("600") << "600" << QPoint(585, 295);
    QTest::newRow("TIME") << "TIME" << QPoint(580, 280);
}

void ChartFrameTest::labelsPaintExactlyTheirTextBox() {
    QFETCH(QString, text);
    QFETCH(QPoint, at);
    QImage picture = NewChartPicture();
    picture.fill(ToQColor(clRed));
    quint8 gridDrawn = 1;
    DrawChartFrame(picture, SomeTexts(), gridDrawn);

    const QRect box = LabelBox(at, text) & picture.rect();
    int ink = 0;
    int paper = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
            const TColor c = PixelAt(picture, x, y);
            QVERIFY2(c == clBlack || c == clWhite, qPrintable(QStringLiteral("(%1,%2)").arg(x).arg(y)));
            (c == clBlack ? ink : paper) += 1;
        }
    QVERIFY(ink > 0);
    QVERIFY(paper > ink);
    // Just outside the box (away from the frame's lines) the picture is untouched.
    if (box.right() + 1 < picture.width())
        QCOMPARE(PixelAt(picture, box.right() + 1, box.top() + 1), clRed);
    QCOMPARE(PixelAt(picture, box.left() + 1, box.bottom() + 1), clRed);
}

void ChartFrameTest::tracesUnderGridAndLabelsAreCut() {
    QImage picture;
    ClearChart(picture);
    quint8 gridDrawn = 0;
    DrawChartFrame(picture, SomeTexts(), gridDrawn);
    // A trace along a time grid line and one through the "120" label.
    for (int y = 1; y < 300; ++y) {
        picture.setPixel(60, y, ToQColor(clRed).rgb());
        picture.setPixel(112, y, ToQColor(clRed).rgb());
    }
    DrawChartFrame(picture, SomeTexts(), gridDrawn);
    QCOMPARE(RowsOf(picture, 60, clRed), QList<int>());
    const QRect label = LabelBox({110, 295}, QStringLiteral("120"));
    QCOMPARE(RowsOf(picture, 112, clRed, label.top()), QList<int>());
    QCOMPARE(PixelAt(picture, 112, label.top() - 1), clRed);
}

void ChartFrameTest::digitalGridOncePerSweep() {
    SweepState sweep;
    ResetSweep(sweep);
    QImage picture;
    ClearChart(picture);
    DrawChartFrame(picture, SomeTexts(), sweep.gridDrawn);
    QCOMPARE(sweep.gridDrawn, quint8(1));
    QCOMPARE(PixelAt(picture, 100, 330), clGray);

    // Digital marks drawn over a grid row stay: the grid is not drawn again in this sweep.
    picture.setPixel(100, 330, ToQColor(clBlue).rgb());
    DrawChartFrame(picture, SomeTexts(), sweep.gridDrawn);
    QCOMPARE(PixelAt(picture, 100, 330), clBlue);
    quint8 gridDrawn = sweep.gridDrawn;
    DrawChartFrameAfterSample(picture, SomeTexts(), gridDrawn, 100, 101);
    QCOMPARE(PixelAt(picture, 100, 330), clBlue);

    ResetSweep(sweep);
    QCOMPARE(sweep.gridDrawn, quint8(0));
    DrawChartFrameAfterSample(picture, SomeTexts(), sweep.gridDrawn, 0, 1);
    QCOMPARE(PixelAt(picture, 100, 330), clGray);
    QCOMPARE(sweep.gridDrawn, quint8(1));
}

void ChartFrameTest::chartFontHasTheMultiplicationSign() {
    QImage probe = NewChartPicture();
    QVERIFY(QFontMetrics(ChartFont(), &probe).inFont(QChar(0x00D7)));
    // 10 points at 96 dpi.
    QImage picture = NewChartPicture();
    QPainter painter(&picture);
    painter.setFont(ChartFont());
    QCOMPARE(painter.fontInfo().pixelSize(), 13);
}

void ChartFrameTest::timeStampText_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("expected");
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale ja(QLocale::Japanese, QLocale::Japan);
    const QDate day(2024, 5, 1);
    QTest::newRow("afternoon") << us << QDateTime(day, QTime(13, 4, 5), Qt::UTC) << "5/1/2024 1:04:05 PM";
    QTest::newRow("local time") << us << QDateTime(day, QTime(13, 4, 5)) << "5/1/2024 1:04:05 PM";
    QTest::newRow("midnight") << us << QDateTime(day, QTime(0, 0, 0), Qt::UTC) << "5/1/2024";
    QTest::newRow("midnight and a half second") << us << QDateTime(day, QTime(0, 0, 0, 500)) << "5/1/2024";
    QTest::newRow("one second past midnight") << us << QDateTime(day, QTime(0, 0, 1)) << "5/1/2024 12:00:01 AM";
    QTest::newRow("one minute past midnight") << us << QDateTime(day, QTime(0, 1, 0)) << "5/1/2024 12:01:00 AM";
    QTest::newRow("noon") << us << QDateTime(day, QTime(12, 0, 0)) << "5/1/2024 12:00:00 PM";
    QTest::newRow("japanese") << ja << QDateTime(day, QTime(13, 4, 5))
                              << "2024/05/01 13:04:05";
    QTest::newRow("japanese midnight") << ja << QDateTime(day, QTime(0, 0, 0)) << "2024/05/01";
    QTest::newRow("korean") << QLocale(QLocale::Korean, QLocale::SouthKorea) << QDateTime(day, QTime(13, 4, 5))
                            << "2024. 5. 1. 13:04:05";
    QTest::newRow("german two-digit year widened")
        << QLocale(QLocale::German, QLocale::Germany) << QDateTime(day, QTime(13, 4, 5)) << "01.05.2024 13:04:05";
}

void ChartFrameTest::timeStampText() {
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, now);
    QFETCH(QString, expected);
    QCOMPARE(TimeStampText(now, locale), expected);
}

void ChartFrameTest::longTimeFormatHasNoZone_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("timeOfDay");
    const QTime time(13, 4, 5);
    auto row = [&](const char* name, const QLocale& locale, const QString& format) {
        QTest::newRow(name) << locale << format << locale.toString(time, format);
    };
    row("C", QLocale::c(), "HH:mm:ss");
    row("zone after a blank", QLocale(QLocale::English, QLocale::UnitedStates), "h:mm:ss AP");
    row("zone in brackets", QLocale(QLocale::Basque, QLocale::Spain), "HH:mm:ss");
    row("zone after a comma", QLocale(QLocale::Albanian, QLocale::Albania), "h:mm:ss AP");
    row("zone in square brackets",
        QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan), "Bh:mm:ss");
    row("zone first", QLocale(QLocale::Burmese, QLocale::Myanmar), "HH:mm:ss");
    row("quoted text kept", QLocale(QLocale::Bulgarian, QLocale::Bulgaria), "H:mm:ss 'ч'.");
    row("japanese units spelled out", QLocale(QLocale::Japanese, QLocale::Japan), "H:mm:ss");
    row("korean units spelled out", QLocale(QLocale::Korean, QLocale::SouthKorea), "H:mm:ss");
    row("quoted units spelled out", QLocale(QLocale::French, QLocale::Canada), "H:mm:ss");
}

void ChartFrameTest::longTimeFormatHasNoZone() {
    QFETCH(QLocale, locale);
    QFETCH(QString, format);
    QFETCH(QString, timeOfDay);
    QCOMPARE(LongTimeFormat(locale), format);
    QCOMPARE(TimeOfDayText(QDateTime(QDate(2024, 5, 1), QTime(13, 4, 5)), locale), timeOfDay);
}

void ChartFrameTest::annotationTexts_data() {
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    QTest::newRow("sampling time") << SamplingTimeText("10") << QStringLiteral("SamplingTime = 10\u00D70.1S");
    QTest::newRow("empty sampling time")
        << SamplingTimeText("") << QStringLiteral("SamplingTime = \u00D70.1S");
    QTest::newRow("default file name") << FileNameText("tavrin", 0) << "FileName = tavrin0";
    QTest::newRow("largest index") << FileNameText("tavrin", 65535) << "FileName = tavrin65535";
    QTest::newRow("empty base name") << FileNameText("", 7) << "FileName = 7";
    QTest::newRow("japanese base name")
        << FileNameText(QStringLiteral("測定"), 12) << QStringLiteral("FileName = 測定12");
}

void ChartFrameTest::annotationTexts() {
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void ChartFrameTest::annotationsAreDrawnAsTheirTexts_data() {
    QTest::addColumn<FrameTexts>("texts");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("expected");
    const QDate day(2024, 5, 1);
    const QDateTime afternoon(day, QTime(13, 4, 5));
    const QDateTime midnight(day, QTime(0, 0, 0));
    QTest::newRow("file index 65535")
        << FrameTexts{"10", "tavrin", 65535, afternoon} << QPoint(400, 5) << "FileName = tavrin65535";
    QTest::newRow("sampling time") << FrameTexts{"600", "x", 0, afternoon} << QPoint(220, 5)
                                   << QStringLiteral("SamplingTime = 600\u00D70.1S");
    QTest::newRow("time stamp") << FrameTexts{"10", "tavrin", 0, afternoon} << QPoint(50, 5)
                                << TimeStampText(afternoon, QLocale::system());
    QTest::newRow("midnight stamp has no time") << FrameTexts{"10", "tavrin", 0, midnight} << QPoint(50, 5)
                                                << QLocale::system().toString(day, QLocale::ShortFormat);
}

void ChartFrameTest::annotationsAreDrawnAsTheirTexts() {
    QFETCH(FrameTexts, texts);
    QFETCH(QPoint, at);
    QFETCH(QString, expected);
    QImage picture = NewChartPicture();
    picture.fill(ToQColor(clRed));
    quint8 gridDrawn = 1;
    DrawChartFrame(picture, texts, gridDrawn);

    QImage reference = NewChartPicture();
    TextBoxPainter(reference).Draw(at, expected);
    const QRect box = LabelBox(at, expected);
    QVERIFY(SameInBox(picture, reference, box));
    // The box ends where the expected text ends: nothing more was written after it.
    int x = box.right() + 1;
    if (x % 60 == 0)
        ++x;
    QCOMPARE(PixelAt(picture, x, at.y() + 1), clRed);
}

void ChartFrameTest::shorterAnnotationLeavesTheOldTail() {
    QImage picture;
    ClearChart(picture);
    quint8 gridDrawn = 0;
    FrameTexts texts = SomeTexts();
    texts.baseName = QStringLiteral("averyveryverylongname");
    DrawChartFrame(picture, texts, gridDrawn);
    const QImage before = picture.copy();
    texts.baseName = QStringLiteral("s");
    DrawChartFrame(picture, texts, gridDrawn);
    const QRect longBox = LabelBox({400, 5}, FileNameText(QStringLiteral("averyveryverylongname"), 0));
    const QRect shortBox = LabelBox({400, 5}, FileNameText(texts.baseName, 0));
    // Past the new box, whatever the frame does not cover still shows the old text.
    int kept = 0;
    for (int y = shortBox.top(); y <= shortBox.bottom(); ++y)
        for (int x = shortBox.right() + 1; x <= std::min(longBox.right(), kPictureWidth - 1); ++x)
            if (x % 60 != 0 && PixelAt(before, x, y) == clBlack) {
                QCOMPARE(PixelAt(picture, x, y), clBlack);
                ++kept;
            }
    QVERIFY(kept > 0);
}

QTEST_MAIN(ChartFrameTest)
#include "chart_frame_test.moc"
