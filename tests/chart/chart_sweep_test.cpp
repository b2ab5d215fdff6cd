// Whole sweeps of the simulated unit's replies: the per-sample clipped frame redraw against full
// redraws, and a rendered sweep checked for its structure and saved for people to look at.
#include "chart/analog_mark.h"
#include "chart/chart_frame.h"
#include "chart/chart_picture.h"
#include "chart/digital_levels.h"
#include "chart/sample_plot.h"
#include "chart/sweep_state.h"
#include "chart/tcolor.h"
#include "device/unit_model.h"
#include "tests/chart/picture_probe.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <string>

using namespace chart;

namespace {

constexpr int kSweepSamples = 601;
constexpr TColor kAd0Color = clRed;
constexpr TColor kAd1Color = clOlive;

// A reading from its three digit characters, each worth its code less 0x30 as the unit's digits are.
quint16 ReadingAt(const std::string& reply, std::size_t at) {
    auto digit = [&](std::size_t i) { return quint16(quint8(reply[at + i] - 0x30)); };
    return quint16(100 * digit(0) + 10 * digit(1) + digit(2));
}

SampleMarks MarksOfReply(const std::string& reply) {
    SampleMarks marks;
    marks.ad0 = ReadingAt(reply, 4);
    marks.ad1 = ReadingAt(reply, 15);
    marks.status = quint8(reply[18]);
    marks.ad0Color = kAd0Color;
    marks.ad1Color = kAd1Color;
    return marks;
}

// The simulated unit's replies, with the settings and texts changed along the way as a user might,
// odd status characters and over-range readings mixed in, and a clock that passes midnight.
struct VariedSample {
    SampleMarks marks;
    FrameTexts texts;
};

VariedSample VariedSampleAt(int sweep, int n) {
    const unsigned request = unsigned(sweep * kSweepSamples + n);
    VariedSample s{MarksOfReply(device::UnitModel().ReplyFor(request)), {}};
    s.marks.lineMode = (n / 150) % 2 == sweep % 2;
    s.marks.ad0On = n % 97 != 5;
    s.marks.ad1On = n % 53 != 7 && n % 53 != 8;
    if (n % 11 == 0) {
        static const char kOddStatus[] = {'A', 'z', ' ', '\0', '?', char(0xFF)};
        s.marks.status = quint8(kOddStatus[(n / 11) % 6]);
    }
    if (n % 37 == 0)
        s.marks.ad0 = 999;
    if (n % 41 == 0)
        s.marks.ad1 = 65535;
    s.texts.samplingTime = n < 300 ? QStringLiteral("600") : QStringLiteral("5");
    s.texts.baseName = n < 400 ? QStringLiteral("averyveryverylongbasename") : QStringLiteral("b");
    s.texts.fileIndex = quint16(65535 - sweep);
    s.texts.now = QDateTime(QDate(2024, 12, 31), QTime(23, 59, 50)).addSecs(sweep * 86400 + n / 7);
    return s;
}

QString ArtefactPath(const QString& name) {
    QString dir = qEnvironmentVariable("TAVRIN_TEST_ARTEFACTS");
    if (dir.isEmpty())
        dir = QDir::temp().filePath(QStringLiteral("tavrin-artefacts"));
    QDir().mkpath(dir);
    return QDir(dir).filePath(name);
}

bool IsTrace(TColor c) {
    return c == kAd0Color || c == kAd1Color;
}

} // namespace

class ChartSweepTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void clippedRedrawMatchesFullRedraw();
    void gridIsIntact_data();
    void gridIsIntact();
    void analogTracesStandOnTheAxis();
    void digitalLinesStayInTheirBands();

private:
    QImage sweep_; // one plain sweep of the simulated unit, line mode, both channels on
};

void ChartSweepTest::initTestCase() {
    device::UnitModel unit;
    SweepState state;
    ClearChart(sweep_);
    ResetSweep(state);
    const FrameTexts texts{QStringLiteral("10"), QStringLiteral("tavrin"), 0,
                           QDateTime(QDate(2024, 5, 1), QTime(10, 30, 0))};
    for (unsigned n = 0; n < kSweepSamples; ++n)
        PlotSample(sweep_, MarksOfReply(unit.ReplyFor(n)), state, texts);
    QCOMPARE(state.sweepX, quint16(kSweepSamples));
    QVERIFY(sweep_.save(ArtefactPath(QStringLiteral("chart-sweep.png"))));
}

void ChartSweepTest::clippedRedrawMatchesFullRedraw() {
    QImage clipped;
    QImage full;
    SweepState clippedState;
    SweepState fullState;
    ClearChart(clipped);
    ClearChart(full);
    for (int sweep = 0; sweep < 2; ++sweep) {
        ResetSweep(clippedState);
        ResetSweep(fullState);
        if (sweep > 0) {
            ClearChart(clipped);
            ClearChart(full);
        }
        for (int n = 0; n < kSweepSamples; ++n) {
            const VariedSample s = VariedSampleAt(sweep, n);
            PlotSample(clipped, s.marks, clippedState, s.texts);

            DrawSampleAnalogMarks(full, fullState.sweepX, s.marks);
            ++fullState.sweepX;
            PlotDigitalLevels(full, fullState.sweepX, s.marks.status, fullState.levelWasLow);
            DrawChartFrame(full, s.texts, fullState.gridDrawn);

            if (clipped != full) {
                clipped.save(ArtefactPath(QStringLiteral("chart-clipped-mismatch.png")));
                full.save(ArtefactPath(QStringLiteral("chart-full-mismatch.png")));
                QFAIL(qPrintable(
                    QStringLiteral("pictures differ after sample %1 of sweep %2").arg(n).arg(sweep)));
            }
        }
    }
}

void ChartSweepTest::gridIsIntact_data() {
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    // Clear of the labels and the annotation strip.
    for (int x = 60; x <= 540; x += 60) {
        QTest::addRow("time grid %d, analog area", x) << true << x << 20 << 294;
        QTest::addRow("time grid %d, digital area", x) << true << x << 309 << 399;
    }
    for (int y = 50; y <= 250; y += 50)
        QTest::addRow("volt grid %d", y) << false << y << 21 << 599;
    QTest::newRow("digital grid 310") << false << 310 << 0 << 599;
}

void ChartSweepTest::gridIsIntact() {
    QFETCH(bool, vertical);
    QFETCH(int, at);
    QFETCH(int, from);
    QFETCH(int, to);
    // The dotted lines start on even pixels, so their dots are on even rows and columns.
    for (int i = from; i <= to; ++i) {
        const int x = vertical ? at : i;
        const int y = vertical ? i : at;
        QCOMPARE(PixelAt(sweep_, x, y), i % 2 == 0 ? clGray : clWhite);
    }
    // The solid lines.
    for (int x = 25; x <= 50; ++x)
        QCOMPARE(PixelAt(sweep_, x, kZeroVoltRow), clGray);
    for (int y = 0; y <= kChartBottom; ++y) {
        QCOMPARE(PixelAt(sweep_, 0, y), clGray);
        if (y < 280 || y > 308) // "TIME" and "600" lie over the right edge
            QCOMPARE(PixelAt(sweep_, kChartRight, y), clGray);
    }
}

void ChartSweepTest::analogTracesStandOnTheAxis() {
    for (int y = kZeroVoltRow; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x)
            QVERIFY2(!IsTrace(PixelAt(sweep_, x, y)), qPrintable(QStringLiteral("(%1,%2)").arg(x).arg(y)));

    // Away from the labels ("TIME" starts at 580), the grid columns and the annotation strip, each column
    // shows AD1 from the axis up to its reading and AD0 above that when it reads higher, cut only by the volt
    // grid lines.
    int columns = 0;
    for (int x = 21; x < 580; ++x) {
        if (x % 60 == 0)
            continue;
        const int row0 = ReadingRow(device::UnitModel::Ad0(unsigned(x)));
        const int row1 = ReadingRow(device::UnitModel::Ad1(unsigned(x)));
        for (int y = 20; y < 295; ++y) {
            const bool gridRow = y % 50 == 0;
            const TColor expected = gridRow     ? (x % 2 == 0 ? clGray : clWhite)
                                    : y >= row1 ? kAd1Color
                                    : y >= row0 ? kAd0Color
                                                : clWhite;
            QVERIFY2(PixelAt(sweep_, x, y) == expected, qPrintable(QStringLiteral("(%1,%2)").arg(x).arg(y)));
        }
        ++columns;
    }
    QVERIFY(columns > 500);
}

void ChartSweepTest::digitalLinesStayInTheirBands() {
    for (int i = 0; i < 4; ++i) {
        const DigitalLine& line = kDigitalLines[i];
        int highColumns = 0;
        int lowColumns = 0;
        for (int x = 0; x < kPictureWidth; ++x) {
            const QList<int> rows = RowsOf(sweep_, x, line.color);
            for (int y : rows)
                QVERIFY2(y >= line.baseRow - 1 && y <= line.baseRow + 11,
                         qPrintable(QStringLiteral("line %1 at (%2,%3)").arg(i + 1).arg(x).arg(y)));
            highColumns += rows.contains(line.baseRow) ? 1 : 0;
            lowColumns += rows.contains(line.baseRow + 10) ? 1 : 0;
        }
        QVERIFY(highColumns > 100);
        QVERIFY(lowColumns > 100);
        // The last sample's marks stand right of the frame.
        QVERIFY(!RowsOf(sweep_, 601, line.color).isEmpty());
        QVERIFY(RowsOf(sweep_, 602, line.color).isEmpty());
    }
}

QTEST_MAIN(ChartSweepTest)
#include "chart_sweep_test.moc"
