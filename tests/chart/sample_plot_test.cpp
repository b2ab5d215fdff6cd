// One sample on the chart: reading rows, analog marks, the digital lines and the whole sample.
#include "chart/analog_mark.h"
#include "chart/chart_frame.h"
#include "chart/chart_picture.h"
#include "chart/digital_levels.h"
#include "chart/sample_plot.h"
#include "chart/sweep_state.h"
#include "chart/tcolor.h"
#include "tests/chart/picture_probe.h"

#include <QTest>

#include <array>

using namespace chart;

using Levels = std::array<quint8, 4>;
Q_DECLARE_METATYPE(Levels)

namespace {

QImage WhitePicture() {
    QImage picture;
    ClearChart(picture);
    return picture;
}

FrameTexts SomeTexts() {
    return {QStringLiteral("10"), QStringLiteral("tavrin"), 0, QDateTime(QDate(2024, 5, 1), QTime(9, 0, 0))};
}

// The rows line i (0..3) is drawn at in column x, within its band.
QList<int> LineRows(const QImage& picture, int i, int x) {
    const DigitalLine& line = kDigitalLines[i];
    return RowsOf(picture, x, line.color, line.baseRow - 10, line.baseRow + 19);
}

} // namespace

class SamplePlotTest : public QObject {
    Q_OBJECT

private slots:
    void readingRow_data();
    void readingRow();
    void analogMark_data();
    void analogMark();
    void resetSweepStartsAfresh();
    void statusCharacterSetsLevels_data();
    void statusCharacterSetsLevels();
    void digitalLinesInTheirColours_data();
    void digitalLinesInTheirColours();
    void levelChangesDrawEdges_data();
    void levelChangesDrawEdges();
    void column181NeverShowsAnEdge_data();
    void column181NeverShowsAnEdge();
    void firstSampleOfSweepShowsFallingEdges();
    void markInColumn601SurvivesClearChart();
    void drawingOutsideThePictureIsHarmless_data();
    void drawingOutsideThePictureIsHarmless();
    void bothChannelsOffStillDrawsDigitalLinesAndFrame();
    void sampleDrawsAnalogThenDigitalOneColumnRight();
    void changedRegionCoversEveryChangedPixel_data();
    void changedRegionCoversEveryChangedPixel();
    void samplesLeaveTheFrameWhole_data();
    void samplesLeaveTheFrameWhole();
};

void SamplePlotTest::readingRow_data() {
    QTest::addColumn<int>("reading");
    QTest::addColumn<int>("row");
    QTest::newRow("0.00 V") << 0 << 300;
    QTest::newRow("odd 1 drops its low bit") << 1 << 300;
    QTest::newRow("123") << 123 << 239;
    QTest::newRow("124") << 124 << 238;
    QTest::newRow("125 like 124") << 125 << 238;
    QTest::newRow("599") << 599 << 1;
    QTest::newRow("600 full scale") << 600 << 0;
    QTest::newRow("601") << 601 << 0;
    QTest::newRow("602 over range") << 602 << 0;
    QTest::newRow("999 over range") << 999 << 0;
    QTest::newRow("NUL digits") << 208 * 111 << 0;
    QTest::newRow("largest") << 65535 << 0;
}

void SamplePlotTest::readingRow() {
    QFETCH(int, reading);
    QFETCH(int, row);
    QCOMPARE(int(ReadingRow(quint16(reading))), row);
}

void SamplePlotTest::analogMark_data() {
    QTest::addColumn<int>("reading");
    QTest::addColumn<bool>("lineMode");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("line 123") << 123 << true << Span(239, 300);
    QTest::newRow("line 000 is the axis pixel") << 0 << true << Span(300, 300);
    QTest::newRow("line full scale") << 600 << true << Span(0, 300);
    QTest::newRow("line over range stays above the axis") << 700 << true << Span(0, 300);
    QTest::newRow("dot 123") << 123 << false << Span(238, 240);
    QTest::newRow("dot 000") << 0 << false << Span(299, 301);
    QTest::newRow("dot full scale loses row -1") << 600 << false << Span(0, 1);
    QTest::newRow("dot over range at the top") << 999 << false << Span(0, 1);
}

void SamplePlotTest::analogMark() {
    QFETCH(int, reading);
    QFETCH(bool, lineMode);
    QFETCH(QList<int>, rows);
    QImage picture = WhitePicture();
    DrawAnalogMark(picture, 100, quint16(reading), clFuchsia, lineMode);
    QCOMPARE(RowsOf(picture, 100, clFuchsia), rows);
    QCOMPARE(RowsOf(picture, 100, clWhite).size(), kPictureHeight - rows.size());
    QCOMPARE(RowsOf(picture, 99, clWhite).size(), kPictureHeight);
    QCOMPARE(RowsOf(picture, 101, clWhite).size(), kPictureHeight);
}

void SamplePlotTest::resetSweepStartsAfresh() {
    SweepState sweep{600, 1, {1, 0, 1, 1}};
    ResetSweep(sweep);
    QCOMPARE(sweep.sweepX, quint16(0));
    QCOMPARE(sweep.gridDrawn, quint8(0));
    QCOMPARE((Levels{sweep.levelWasLow[0], sweep.levelWasLow[1], sweep.levelWasLow[2], sweep.levelWasLow[3]}),
             (Levels{0, 0, 0, 0}));
}

void SamplePlotTest::statusCharacterSetsLevels_data() {
    QTest::addColumn<char>("status");
    QTest::addColumn<Levels>("low"); // 1 where the line is low, lines 1..4
    QTest::newRow("'0' all low") << '0' << Levels{1, 1, 1, 1};
    QTest::newRow("'9' lines 1 and 4 high") << '9' << Levels{0, 1, 1, 0};
    QTest::newRow("'?' all high") << '?' << Levels{0, 0, 0, 0};
    QTest::newRow("'A' line 4 high") << 'A' << Levels{1, 1, 1, 0};
    QTest::newRow("'5' lines 2 and 4 high") << '5' << Levels{1, 0, 1, 0};
    QTest::newRow("high bits ignored") << char(0xF6) << Levels{1, 0, 0, 1};
}

void SamplePlotTest::statusCharacterSetsLevels() {
    QFETCH(char, status);
    QFETCH(Levels, low);
    QImage picture = WhitePicture();
    // Each line already at its level, so every line draws its steady mark.
    Levels levels = low;
    PlotDigitalLevels(picture, 50, quint8(status), levels.data());
    QCOMPARE(levels, low);
    for (int i = 0; i < 4; ++i) {
        const int b = kDigitalLines[i].baseRow;
        const QList<int> mark = low[i] ? Span(b + 9, b + 11) : Span(b - 1, b + 1);
        // The width-2 pen covers columns x-1 and x.
        QCOMPARE(LineRows(picture, i, 49), mark);
        QCOMPARE(LineRows(picture, i, 50), mark);
        QCOMPARE(LineRows(picture, i, 48), QList<int>());
        QCOMPARE(LineRows(picture, i, 51), QList<int>());
    }
}

void SamplePlotTest::digitalLinesInTheirColours_data() {
    QTest::addColumn<char>("status");
    QTest::addColumn<QList<TColor>>("colours"); // column 50 at rows 325, 345, 365 and 385
    QTest::newRow("'?' all high") << '?' << QList<TColor>{0xFF0000, 0x008000, 0x800080, 0x000080};
    QTest::newRow("'8' line 1 high") << '8' << QList<TColor>{0xFF0000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
    QTest::newRow("'1' line 4 high") << '1' << QList<TColor>{0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0x000080};
}

void SamplePlotTest::digitalLinesInTheirColours() {
    QFETCH(char, status);
    QFETCH(QList<TColor>, colours);
    QImage picture = WhitePicture();
    quint8 levels[4] = {1, 1, 1, 1}; // every line was low: a high one rises, a low one stays low
    PlotDigitalLevels(picture, 50, quint8(status), levels);
    QList<TColor> drawn;
    for (int y : {325, 345, 365, 385})
        drawn << PixelAt(picture, 50, y);
    QCOMPARE(drawn, colours);
}

void SamplePlotTest::levelChangesDrawEdges_data() {
    QTest::addColumn<quint8>("wasLow");
    QTest::addColumn<bool>("high");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("high, was high") << quint8(0) << true << Span(319, 321);
    QTest::newRow("high, was low: rising edge") << quint8(1) << true << Span(321, 329);
    QTest::newRow("low, was low") << quint8(1) << false << Span(329, 331);
    QTest::newRow("low, was high: falling edge") << quint8(0) << false << Span(319, 331);
}

void SamplePlotTest::levelChangesDrawEdges() {
    QFETCH(quint8, wasLow);
    QFETCH(bool, high);
    QFETCH(QList<int>, rows);
    QImage picture = WhitePicture();
    quint8 levels[4] = {wasLow, 0, 0, 0};
    PlotDigitalLevels(picture, 10, high ? 0x08 : 0x00, levels);
    QCOMPARE(LineRows(picture, 0, 10), rows);
    QCOMPARE(levels[0], quint8(high ? 0 : 1));
    // The other lines keep to their own bands.
    QCOMPARE(RowsOf(picture, 10, kDigitalLines[0].color, 0, 309), QList<int>());
    QCOMPARE(RowsOf(picture, 10, kDigitalLines[0].color, 339), QList<int>());
}

void SamplePlotTest::column181NeverShowsAnEdge_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<quint8>("wasLow");
    QTest::addColumn<bool>("high");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("180 falls") << 180 << quint8(0) << false << Span(379, 391);
    QTest::newRow("181 low, no edge") << 181 << quint8(0) << false << Span(389, 391);
    QTest::newRow("182 falls") << 182 << quint8(0) << false << Span(379, 391);
    QTest::newRow("180 rises") << 180 << quint8(1) << true << Span(381, 389);
    QTest::newRow("181 high, no edge") << 181 << quint8(1) << true << Span(379, 381);
    QTest::newRow("1 rises") << 1 << quint8(1) << true << Span(381, 389);
}

void SamplePlotTest::column181NeverShowsAnEdge() {
    QFETCH(int, x);
    QFETCH(quint8, wasLow);
    QFETCH(bool, high);
    QFETCH(QList<int>, rows);
    QImage picture = WhitePicture();
    quint8 levels[4] = {0, 0, 0, wasLow};
    PlotDigitalLevels(picture, quint16(x), high ? 0x01 : 0x00, levels);
    QCOMPARE(LineRows(picture, 3, x), rows);
    QCOMPARE(levels[3], quint8(high ? 0 : 1));
}

void SamplePlotTest::firstSampleOfSweepShowsFallingEdges() {
    SweepState sweep{};
    ResetSweep(sweep);
    QImage picture = WhitePicture();
    PlotDigitalLevels(picture, 1, '0', sweep.levelWasLow);
    for (int i = 0; i < 4; ++i) {
        const int b = kDigitalLines[i].baseRow;
        QCOMPARE(LineRows(picture, i, 1), Span(b - 1, b + 11));
        QCOMPARE(sweep.levelWasLow[i], quint8(1));
    }
}

void SamplePlotTest::markInColumn601SurvivesClearChart() {
    QImage picture = WhitePicture();
    quint8 levels[4] = {0, 0, 0, 0};
    PlotDigitalLevels(picture, 600, '?', levels);
    PlotDigitalLevels(picture, 601, '?', levels);
    ClearChart(picture);
    QCOMPARE(LineRows(picture, 0, 601), Span(319, 321));
    QCOMPARE(LineRows(picture, 3, 601), Span(379, 381));
    QCOMPARE(LineRows(picture, 0, 600), Span(319, 321)); // the edge column keeps it too
    QCOMPARE(LineRows(picture, 0, 599), QList<int>());
}

void SamplePlotTest::drawingOutsideThePictureIsHarmless_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<bool>("digital");
    QTest::newRow("analog left of the picture") << -1 << false;
    QTest::newRow("analog right of the picture") << kPictureWidth << false;
    QTest::newRow("analog far right") << 100000 << false;
    QTest::newRow("analog far left") << -100000 << false;
    QTest::newRow("digital right of the picture") << kPictureWidth + 1 << true;
    QTest::newRow("digital at the last column") << 65535 << true;
}

void SamplePlotTest::drawingOutsideThePictureIsHarmless() {
    QFETCH(int, x);
    QFETCH(bool, digital);
    QImage picture = WhitePicture();
    const QImage before = picture.copy();
    quint8 levels[4] = {0, 1, 0, 1};
    if (digital)
        PlotDigitalLevels(picture, quint16(x), '5', levels);
    else
        DrawAnalogMark(picture, x, 300, clRed, true);
    QCOMPARE(picture, before);

    // Column 0 with the width-2 pen: only the half inside the picture.
    quint8 high[4] = {0, 0, 0, 0};
    PlotDigitalLevels(picture, 0, '?', high);
    QCOMPARE(LineRows(picture, 0, 0), Span(319, 321));
}

void SamplePlotTest::bothChannelsOffStillDrawsDigitalLinesAndFrame() {
    QImage picture = WhitePicture();
    SweepState sweep;
    SampleMarks marks;
    marks.ad0On = false;
    marks.ad1On = false;
    marks.ad0 = 400;
    marks.ad1 = 400;
    marks.status = '?';
    sweep.sweepX = 10;
    PlotSample(picture, marks, sweep, SomeTexts());
    QCOMPARE(sweep.sweepX, quint16(11));
    QCOMPARE(RowsOf(picture, 10, marks.ad0Color), QList<int>());
    QCOMPARE(RowsOf(picture, 10, marks.ad1Color, 0, 310), QList<int>());
    // The first sample of a sweep gets the digital grid over its marks (odd column: a white gap).
    QCOMPARE(LineRows(picture, 0, 11), (QList<int>{319, 321}));
    QCOMPARE(sweep.gridDrawn, quint8(1));
    QCOMPARE(PixelAt(picture, 330, 300), clGray); // the frame's axis
    QCOMPARE(PixelAt(picture, 330, 310), clGray); // its digital grid
}

void SamplePlotTest::sampleDrawsAnalogThenDigitalOneColumnRight() {
    QImage picture = WhitePicture();
    SweepState sweep;
    sweep.gridDrawn = 1;
    sweep.sweepX = 30;
    SampleMarks marks;
    marks.ad0 = 400;
    marks.ad1 = 200;
    marks.ad0Color = clRed;
    marks.ad1Color = clOlive;
    marks.status = '0';
    PlotSample(picture, marks, sweep, SomeTexts());
    // AD1 is drawn after AD0 and covers it from the axis up to its own reading; the frame cuts both where
    // the 1 V to 4 V grid lines cross them.
    QCOMPARE(RowsOf(picture, 30, clOlive), Span(201, 249) + Span(251, 299));
    QCOMPARE(RowsOf(picture, 30, clRed), Span(101, 149) + Span(151, 199));
    QCOMPARE(LineRows(picture, 0, 31), Span(319, 331));
    QCOMPARE(LineRows(picture, 0, 30), Span(319, 331));
    QCOMPARE(LineRows(picture, 0, 32), QList<int>());

    marks.lineMode = false;
    PlotSample(picture, marks, sweep, SomeTexts());
    // Both dashes are centred on grid rows, whose white gaps (odd column) cut out their middles.
    QCOMPARE(RowsOf(picture, 31, clRed), (QList<int>{99, 101}));
    QCOMPARE(RowsOf(picture, 31, clOlive), (QList<int>{199, 201}));
    QCOMPARE(LineRows(picture, 0, 32), Span(329, 331));
    QCOMPARE(sweep.sweepX, quint16(32));
}

QTEST_MAIN(SamplePlotTest)
#include "sample_plot_test.moc"

void SamplePlotTest::changedRegionCoversEveryChangedPixel_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<bool>("firstOfSweep");
    QTest::addColumn<bool>("lineMode");
    QTest::addColumn<bool>("channelsOn");
    QTest::addColumn<int>("fileIndex"); // the previous sample showed index 0
    QTest::addColumn<QRect>("columns");  // the region less the annotation strip
    QTest::addColumn<bool>("stripChanged");
    QTest::newRow("first of a sweep") << 0 << true << true << true << 0 << QRect(0, 0, 609, 403) << false;
    QTest::newRow("line mode") << 100 << false << true << true << 0 << QRect(100, 0, 2, 403) << false;
    QTest::newRow("dot mode") << 250 << false << false << true << 0 << QRect(250, 0, 2, 403) << false;
    QTest::newRow("channels off") << 300 << false << true << false << 0 << QRect(300, 0, 2, 403) << false;
    QTest::newRow("restart column") << 180 << false << true << true << 0 << QRect(180, 0, 2, 403) << false;
    QTest::newRow("last column") << 600 << false << true << true << 0 << QRect(600, 0, 2, 403) << false;
    QTest::newRow("annotation changed") << 420 << false << true << true << 1 << QRect(420, 0, 2, 403) << true;
}

void SamplePlotTest::changedRegionCoversEveryChangedPixel() {
    QFETCH(int, x);
    QFETCH(bool, firstOfSweep);
    QFETCH(bool, lineMode);
    QFETCH(bool, channelsOn);
    QFETCH(int, fileIndex);
    QFETCH(QRect, columns);
    QFETCH(bool, stripChanged);
    // A sweep under way: the previous sample drawn at x - 1, opposite levels, index 0.
    QImage picture = WhitePicture();
    SweepState sweep;
    SampleMarks previous;
    previous.ad0 = 590;
    previous.ad1 = 10;
    previous.status = '5';
    if (!firstOfSweep) {
        PlotSample(picture, previous, sweep, SomeTexts());
        sweep.sweepX = quint16(x - 1);
        PlotSample(picture, previous, sweep, SomeTexts());
    }
    QCOMPARE(int(sweep.sweepX), x);
    const QImage before = picture;

    SampleMarks marks;
    marks.ad0On = marks.ad1On = channelsOn;
    marks.lineMode = lineMode;
    marks.ad0 = 123;
    marks.ad1 = 456;
    marks.status = ':';
    FrameTexts texts = SomeTexts();
    texts.fileIndex = quint16(fileIndex);
    const QRegion changed = PlotSample(picture, marks, sweep, texts);

    QRegion pixels;
    for (int y = 0; y < picture.height(); ++y)
        for (int px = 0; px < picture.width(); ++px)
            if (picture.pixel(px, y) != before.pixel(px, y))
                pixels += QRect(px, y, 1, 1);
    QVERIFY(!pixels.isEmpty());
    QCOMPARE(pixels - changed, QRegion());
    const QRegion strip = changed - columns;
    QCOMPARE(changed - strip, QRegion(columns));
    QCOMPARE(strip.isEmpty(), !stripChanged);
    if (stripChanged) {
        // Only the file name's last digit changed: right of "FileName = tavrin" at 400, in rows 0..18.
        QCOMPARE(strip.boundingRect().top(), 0);
        QCOMPARE(strip.boundingRect().bottom(), 18);
        QVERIFY(strip.boundingRect().left() > 400);
    }
}

// Sample after sample, with traces crossing the annotations: the picture has its frame and annotations
// exactly as drawing the whole frame again would give, whether the texts stay or change.
void SamplePlotTest::samplesLeaveTheFrameWhole_data() {
    QTest::addColumn<int>("changeAt"); // the sample whose texts differ from then on (-1: none)
    QTest::addColumn<int>("seconds");  // later time stamp from then on
    QTest::addColumn<QString>("baseName");
    QTest::newRow("same texts") << -1 << 0 << QStringLiteral("tavrin");
    QTest::newRow("time stamp moves on") << 12 << 1 << QStringLiteral("tavrin");
    QTest::newRow("shorter file name") << 12 << 0 << QStringLiteral("t");
}

void SamplePlotTest::samplesLeaveTheFrameWhole() {
    QFETCH(int, changeAt);
    QFETCH(int, seconds);
    QFETCH(QString, baseName);
    QImage picture = WhitePicture();
    SweepState sweep;
    sweep.sweepX = 40;
    FrameTexts texts = SomeTexts();
    for (int i = 0; i < 30; ++i) {
        if (i == changeAt) {
            texts.now = texts.now.addSecs(seconds);
            texts.baseName = baseName;
        }
        SampleMarks marks;
        marks.lineMode = true;
        marks.ad0 = i % 2 == 0 ? 600 : 0;
        marks.ad1 = 580;
        marks.status = '5';
        PlotSample(picture, marks, sweep, texts);
        QImage whole = picture.copy();
        quint8 gridDrawn = 1;
        DrawChartFrame(whole, texts, gridDrawn);
        QVERIFY2(picture == whole, qPrintable(QStringLiteral("sample %1").arg(i)));
    }
}
