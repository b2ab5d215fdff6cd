// The trend window off-screen: its sink across sweeps and runs, its pixels (a
// channel's colour on its line, nothing across an outage, grey for a channel
// switched off), no drawing while hidden, the mouse, and what it saves.
#include "record/csv_row.h"
#include "trend/record_reader.h"
#include "trend/trend_sink.h"
#include "trend/trend_window.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <qcustomplot.h>
#include <sys/file.h>

using acquisition::SampleNote;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(23, 50, 0), QTimeZone(9 * 3600));

// A run of 0.1 s samples through the sink: AD0 at 2.00 V, AD1 at 4.00 V, HH high; the unit is lost
// after sample 3000 and back 60 s later. Sweeps end every 601 samples.
void FeedRun(trend::TrendSink& sink, int samples = 6000) {
    QVERIFY(sink.RunStarted({kStart, "tavrin", "sim"}));
    std::int64_t ms = 0;
    for (int i = 0; i < samples; ++i) {
        acquisition::DecodedSample s;
        if (i == 3000 || i == 3001) {
            s.note = i == 3000 ? SampleNote::UnitLost : SampleNote::UnitBack;
            ms += i == 3001 ? 60'000 : 0;
        } else {
            s.ad0 = 200;
            s.ad1 = 400;
            s.levels = 0x08;
        }
        s.elapsedMs = ms;
        s.time = kStart.addMSecs(ms);
        s.sweep = i / 601;
        s.x = i % 601;
        QVERIFY(sink.Take(s));
        if (i % 601 == 600)
            QVERIFY(sink.SweepEnded());
        ms += 100;
    }
}

// A sample `ms` after START with these readings, HH low.
bool TakeAt(trend::TrendSink& sink, std::int64_t ms, std::optional<int> ad0, std::optional<int> ad1 = {}) {
    acquisition::DecodedSample s;
    s.ad0 = ad0;
    s.ad1 = ad1;
    s.levels = 0;
    s.elapsedMs = ms;
    s.time = kStart.addMSecs(ms);
    return bool(sink.Take(s));
}

double StartS() {
    return double(kStart.toMSecsSinceEpoch()) / 1000.0;
}

// The colours found in the pixel column at the time keyS of the volts band (0) or the digital one (1).
QSet<QRgb> ColoursAt(trend::TrendWindow& window, double keyS, int band = 0) {
    QCustomPlot& plot = window.Plot();
    plot.replot(QCustomPlot::rpImmediateRefresh);
    const QImage image = plot.toPixmap().toImage();
    QCPAxisRect* volts = plot.axisRect(band);
    const int x = int(std::lround(volts->axis(QCPAxis::atBottom)->coordToPixel(keyS)));
    QSet<QRgb> colours;
    for (int y = volts->top() + 1; y < volts->bottom() - 1; ++y)
        colours.insert(image.pixel(x, y) & 0xFFFFFF);
    return colours;
}

// The sawtooth of everyColumnHoldsItsSamples in hundredths of a volt.
int Saw(int i) {
    return (i % 997) * 360 / 996;
}

void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, buttons,
                  modifiers);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

class TrendWindowTest : public QObject {
    Q_OBJECT

private slots:
    // The axes are set before the plot lays itself out: after a zoom far in, the first draw of Home
    // labels the time axis as the whole run wants it, with the date on the first label and where a day
    // begins, and the volts from 0 up.
    void axesAreRightOnTheFirstDraw_data() {
        QTest::addColumn<bool>("elapsed");
        QTest::addColumn<QString>("run"); // "days": three samples a day apart, not a run of ten minutes;
                                          // "set back": the clock set back an hour after it
        QTest::addColumn<QString>("label"); // what every time label looks like
        QTest::addColumn<QStringList>("dates");
        QTest::addColumn<QString>("title");
        QTest::newRow("clock, across midnight")
            << false << "" << "^(\\d{4}-\\d\\d-\\d\\d\n)?\\d\\d:\\d\\d:\\d\\d$"
            << QStringList{"2026-12-07", "2026-12-08"} << "";
        QTest::newRow("seconds since START") << true << "" << "^\\d+$" << QStringList{} << "START からの秒数";
        QTest::newRow("two days since START")
            << true << "days" << "^\\d d \\d+:\\d\\d:\\d\\d$" << QStringList{} << "START からの秒数";
        QTest::newRow("the clock set back an hour")
            << false << "set back" << "^(\\d{4}-\\d\\d-\\d\\d\n)?\\d\\d:\\d\\d:\\d\\d$"
            << QStringList{"2026-12-07", "2026-12-08"} << "";
    }
    void axesAreRightOnTheFirstDraw() {
        QFETCH(bool, elapsed);
        QFETCH(QString, run);
        QFETCH(QString, label);
        QFETCH(QStringList, dates);
        QFETCH(QString, title);
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        if (run == QLatin1String("days")) {
            QVERIFY(sink.RunStarted({kStart, "tavrin", "sim"}));
            for (int day = 0; day < 3; ++day)
                QVERIFY(TakeAt(sink, day * 86'400'000LL, 200));
        } else {
            FeedRun(sink);
        }
        if (run == QLatin1String("set back")) // five minutes more from 23:01:00, an hour before the clock read
            for (int i = 0; i < 3000; ++i) {
                acquisition::DecodedSample s;
                s.ad0 = 300;
                s.elapsedMs = 660'000 + 100LL * i;
                s.time = kStart.addMSecs(s.elapsedMs - 3'600'000);
                QVERIFY(sink.Take(s));
            }
        window.SetElapsedAxis(elapsed);
        const auto [from, to] = window.TimeRange();
        window.SetTimeRange((from + to) / 2, (from + to) / 2 + 2);
        QCustomPlot& plot = window.Plot();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        window.FitAll();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        QCPAxis* time = plot.axisRect(1)->axis(QCPAxis::atBottom);
        QStringList found;
        QStringList labels = time->tickVectorLabels();
        QCOMPARE(labels.removeDuplicates(), 0);
        for (const QString& text : labels) {
            QVERIFY2(QRegularExpression(label).match(text).hasMatch(), qPrintable(text));
            if (text.contains(QLatin1Char('\n')))
                found << text.section(QLatin1Char('\n'), 0, 0);
        }
        QCOMPARE(found, dates);
        QCOMPARE(time->label(), title);
        if (run == QLatin1String("set back")) {
            // Fit all holds every row, AD0 drawn both before the hour set back and after it, and the set back
            // marked.
            const double first = StartS() - 3600 + 660, last = StartS() + 659.9;
            QVERIFY(window.TimeRange().first < first && window.TimeRange().second > last);
            window.SetChannels(0x0000FF, 0xFF0000, true, true); // AD0 red
            QVERIFY(ColoursAt(window, first + 120).contains(0xFF0000));
            QVERIFY(ColoursAt(window, StartS() + 100).contains(0xFF0000));
            bool marked = false;
            for (int i = 0; i < plot.legend->itemCount(); ++i)
                if (auto* item = qobject_cast<QCPPlottableLegendItem*>(plot.legend->item(i)))
                    marked = marked || item->plottable()->name() == QStringLiteral("時計の巻き戻し");
            QVERIFY(marked);
        }
        QCPAxis* volts = plot.axisRect(0)->axis(QCPAxis::atLeft);
        QVERIFY(volts->range().lower < 2.0 && volts->range().upper > 2.0);
        // Named after the run it shows, and narrow enough to stand beside the main window on 1600 px.
        QCOMPARE(window.windowTitle(), QStringLiteral("トレンド — 現在の測定"));
        QVERIFY2(window.minimumSizeHint().width() <= 700, qPrintable(QString::number(window.minimumSizeHint().width())));
    }

    void sinkKeepsARunAcrossSweepsAndStartsAnew() {
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        FeedRun(sink);
        QCOMPARE(sink.Live()->Size(), std::size_t(6000));
        const int graphs = window.Plot().graphCount();
        FeedRun(sink, 10);
        QCOMPARE(sink.Live()->Size(), std::size_t(10));
        QCOMPARE(window.Plot().graphCount(), graphs); // the run before is no longer drawn
        trend::TrendSink small(3); // a run longer than the window keeps: said, and the rest left out
        QVERIFY(small.RunStarted({}));
        for (int i = 0; i < 3; ++i)
            QVERIFY(small.Take({}));
        QCOMPARE(small.Take({}).Reason(), "The trend window keeps the first 3 samples of a run; the later "
                                          "ones are in the run record only.");
        QCOMPARE(small.Live()->Size(), std::size_t(3));
    }

    void pixels() {
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        window.SetChannels(0x0000FF, 0xFF0000, true, true); // AD0 red, AD1 blue
        FeedRun(sink);
        window.FitAll();
        const QRgb red = 0xFF0000, blue = 0x0000FF;
        const double before = StartS() + 100, during = StartS() + 300 + 30, after = StartS() + 400;
        for (const double at : {before, after}) {
            QVERIFY(ColoursAt(window, at).contains(red));
            QVERIFY(ColoursAt(window, at).contains(blue));
        }
        QVERIFY(!ColoursAt(window, during).contains(red));
        QVERIFY(!ColoursAt(window, during).contains(blue));
        QVERIFY(ColoursAt(window, before, 1).contains(blue)); // HH, high
        QVERIFY(!ColoursAt(window, during, 1).contains(blue));
        if (const QString folder = qEnvironmentVariable("TAVRIN_TEST_ARTEFACTS"); QDir().mkpath(folder))
            window.grab().save(QDir(folder).filePath(QStringLiteral("trend-window-test.png")));
        window.SetChannels(0x0000FF, 0xFF0000, false, true);
        QVERIFY(!ColoursAt(window, before).contains(red));
        QVERIFY(ColoursAt(window, before).contains(qRgb(190, 190, 190) & 0xFFFFFF));
    }

    // Zoomed out, AD1 swinging 1.50–2.50 V fills a band over AD0's flat 2.00 V: AD0's line shows over it.
    void ad0ShowsOverAd1sBand() {
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        window.SetChannels(0x0000FF, 0xFF0000, true, true); // AD0 red, AD1 blue
        QVERIFY(sink.RunStarted({kStart, "tavrin", "sim"}));
        for (int i = 0; i < 6000; ++i)
            QVERIFY(TakeAt(sink, 100LL * i, 200, i % 2 ? 150 : 250));
        window.FitAll();
        for (const double at : {StartS() + 100, StartS() + 300, StartS() + 500}) {
            const QSet<QRgb> colours = ColoursAt(window, at);
            QVERIFY(colours.contains(0xFF0000));
            QVERIFY(colours.contains(0x0000FF));
        }
    }

    // A sawtooth rising 0.00–3.60 V over 99.7 s on AD1, and HH toggling every sample: at every zoom, each
    // pixel column draws the whole extent of the samples whose times fall in it (and no more than the
    // lines to its neighbours add), and the whole HH lane.
    void everyColumnHoldsItsSamples_data() {
        QTest::addColumn<int>("notches"); // wheel notches in at the middle
        QTest::addColumn<bool>("elapsed");
        QTest::addColumn<bool>("record"); // an opened record, dashed, not the run going on
        QTest::newRow("fit all") << 0 << false << false;
        QTest::newRow("one notch") << 1 << false << false;
        QTest::newRow("three notches") << 3 << false << false;
        QTest::newRow("one notch, seconds since START") << 1 << true << false;
        QTest::newRow("a record, one notch") << 1 << false << true;
        QTest::newRow("a record, two notches, seconds since START") << 2 << true << true;
    }
    void everyColumnHoldsItsSamples() {
        QFETCH(int, notches);
        QFETCH(bool, elapsed);
        QFETCH(bool, record);
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        window.SetChannels(0x0000FF, 0x00FF00, false, true); // AD1 lime
        QVERIFY(sink.RunStarted({kStart, "tavrin", "sim"}));
        QTemporaryDir dir;
        std::string rows(record::kHeaderRow);
        for (int i = 0; i < 300'000; ++i) {
            acquisition::DecodedSample s;
            s.ad1 = Saw(i);
            s.levels = i % 2 ? 0x08 : 0;
            s.elapsedMs = 100LL * i;
            s.time = kStart.addMSecs(s.elapsedMs);
            if (record)
                record::AppendRow(rows, s);
            else
                QVERIFY(sink.Take(s));
        }
        if (record) {
            QFile file(dir.filePath("saw.csv"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(rows.data(), qint64(rows.size())) == qint64(rows.size()));
            file.close();
            QSignalSpy read(&window, &trend::TrendWindow::RecordsRead);
            window.OpenRecords({file.fileName()});
            QVERIFY(read.wait(60'000));
        }
        window.SetElapsedAxis(elapsed);
        window.FitAll();
        QCustomPlot& plot = window.Plot();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        QCPAxisRect* volts = plot.axisRect(0);
        for (int n = 0; n < notches; ++n) {
            const QPointF at(volts->center().x() + 7, volts->center().y());
            QWheelEvent e(at, plot.mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
            QCoreApplication::sendEvent(&plot, &e);
            plot.replot(QCustomPlot::rpImmediateRefresh);
        }
        plot.legend->setVisible(false); // over the top right of the band
        plot.replot(QCustomPlot::rpImmediateRefresh);
        const QImage image = plot.toPixmap().toImage();
        QCPAxis* time = volts->axis(QCPAxis::atBottom);
        QCPAxis* v = volts->axis(QCPAxis::atLeft);
        // Each pixel column's samples, and the one before and after them that the lines join to.
        const int columns = volts->width();
        std::vector<std::array<int, 4>> want(std::size_t(columns), {INT_MAX, INT_MIN, INT_MAX, INT_MIN});
        int previous = -1;
        for (int i = 0; i < 300'000; ++i) {
            const double key = double((elapsed ? 0 : kStart.toMSecsSinceEpoch()) + 100LL * i) / 1000.0;
            const int x = int(std::floor(time->coordToPixel(key))) - volts->left();
            const int value = Saw(i), before = Saw(std::max(i - 1, 0)), after = Saw(std::min(i + 1, 299'999));
            if (x < 0 || x >= columns)
                continue;
            auto& w = want[std::size_t(x)];
            w = {std::min(w[0], value), std::max(w[1], value), std::min({w[2], value, x != previous ? before : value}),
                 std::max({w[3], value, x != previous ? before : value})};
            if (i + 1 < 300'000 && int(std::floor(time->coordToPixel(key + 0.1))) - volts->left() != x)
                w = {w[0], w[1], std::min(w[2], after), std::max(w[3], after)};
            previous = x;
        }
        QCPAxisRect* lanes = plot.axisRect(1);
        QCPAxis* lane = lanes->axis(QCPAxis::atLeft);
        const int laneTop = int(std::lround(lane->coordToPixel(3.7))), laneBottom = int(std::lround(lane->coordToPixel(3.0)));
        // The lowest and highest row of a colour in column x, between y0 and y1.
        const auto extent = [&](int x, int y0, int y1, QRgb colour) {
            int lo = INT_MAX, hi = INT_MIN;
            for (int y = y0; y <= y1; ++y)
                if ((image.pixel(x, y) & 0xFFFFFF) == colour) {
                    lo = std::min(lo, y);
                    hi = std::max(hi, y);
                }
            return std::pair{lo, hi};
        };
        const auto y = [&](int hundredths) { return int(std::lround(v->coordToPixel(hundredths / 100.0))); };
        const int slack = record ? 3 : 1; // a dashed line may end its stroke in a dash's gap
        QStringList wrong;
        for (int c = 6; c + 6 < columns; ++c) { // clear of the ticks inside the edges
            const auto& w = want[std::size_t(c)];
            if (w[0] > w[1])
                continue; // no sample: before the run or after it
            const int x = volts->left() + c;
            const auto [lo, hi] = extent(x, volts->top(), volts->bottom(), 0x00FF00);
            const auto [laneLo, laneHi] = extent(x, lanes->top(), lanes->bottom(), 0x0000FF);
            // All of the column's own samples, and nothing beyond the samples its lines join.
            if (lo > y(w[1]) + slack || hi < y(w[0]) - slack || lo < y(w[3]) - 1 || hi > y(w[2]) + 1 ||
                std::abs(laneLo - laneTop) > 1 || std::abs(laneHi - laneBottom) > 1)
                wrong << QStringLiteral("x %1: AD1 %2..%3 for %4..%5 (%6..%7 joined), HH %8..%9")
                             .arg(x).arg(lo).arg(hi).arg(y(w[1])).arg(y(w[0])).arg(y(w[3])).arg(y(w[2]))
                             .arg(laneLo).arg(laneHi);
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("HH wanted %1..%2; ").arg(laneTop).arg(laneBottom) +
                                             wrong.mid(0, 6).join(QStringLiteral("; "))));
    }

    void drawsNothingWhileHidden() {
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        QCoreApplication::processEvents(); // what the plot queues for itself when made
        int replots = 0;
        connect(&window.Plot(), &QCustomPlot::afterReplot, this, [&replots] { ++replots; });
        FeedRun(sink);
        QCoreApplication::processEvents();
        QCOMPARE(replots, 0);
    }

    // Gestures on the plot, as seconds in view after each, from a view of 200 s to 400 s of the run.
    void mouse_data() {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<bool>("autoScale");
        QTest::newRow("wheel up at the middle") << "wheel" << 220.0 << 380.0 << true;
        QTest::newRow("ctrl+wheel: volts only") << "ctrl-wheel" << 200.0 << 400.0 << false;
        QTest::newRow("drag a quarter left") << "drag" << 250.0 << 450.0 << true;
        QTest::newRow("right-drag a box") << "box" << 250.0 << 350.0 << false;
        QTest::newRow("shift+drag a box") << "shift-box" << 250.0 << 350.0 << false;
    }
    void mouse() {
        QFETCH(QString, gesture);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(bool, autoScale);
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        FeedRun(sink);
        window.SetTimeRange(StartS() + 200, StartS() + 400);
        QCustomPlot& plot = window.Plot();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        QCPAxis* time = plot.axisRect(0)->axis(QCPAxis::atBottom);
        const int y = plot.axisRect(0)->center().y();
        const auto px = [&](double s) { return int(std::lround(time->coordToPixel(StartS() + s))); };
        if (gesture.endsWith(QLatin1String("wheel"))) {
            QWheelEvent e(QPointF(px(300), y), plot.mapToGlobal(QPointF(px(300), y)), {}, {0, 120},
                          Qt::NoButton,
                          gesture == QLatin1String("wheel") ? Qt::NoModifier : Qt::ControlModifier,
                          Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(&plot, &e);
        } else {
            const Qt::MouseButton button = gesture == QLatin1String("box") ? Qt::RightButton : Qt::LeftButton;
            const Qt::KeyboardModifiers mods =
                gesture == QLatin1String("shift-box") ? Qt::ShiftModifier : Qt::NoModifier;
            const QPoint start(px(gesture == QLatin1String("drag") ? 300 : 250), y - 20);
            const QPoint end(px(gesture == QLatin1String("drag") ? 250 : 350), y + 20);
            Send(&plot, QEvent::MouseButtonPress, start, button, mods);
            QMouseEvent move(QEvent::MouseMove, end, plot.mapToGlobal(end), Qt::NoButton, button, mods);
            QCoreApplication::sendEvent(&plot, &move);
            Send(&plot, QEvent::MouseButtonRelease, end, button, mods);
        }
        const auto [f, t] = window.TimeRange();
        QVERIFY2(std::abs(f - StartS() - from) < 1 && std::abs(t - StartS() - to) < 1,
                 qPrintable(QStringLiteral("%1 .. %2").arg(f - StartS()).arg(t - StartS())));
        QCOMPARE(window.AutoScale(), autoScale);
        QVERIFY(!window.Following());
    }

    void followAndCursors() {
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        FeedRun(sink);
        window.SetFollowSpan(60);
        window.SetFollowing(true);
        window.Plot().replot(QCustomPlot::rpImmediateRefresh);
        const double last = StartS() + 659.9; // 5998 samples of 0.1 s and the outage's 60 s
        QVERIFY(std::abs(window.TimeRange().second - last) < 2 &&
                std::abs(window.TimeRange().first - (last - 60)) < 0.01);
        window.SetTimeRange(StartS(), StartS() + 10); // a pan
        QVERIFY(!window.Following());
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_End);
        QVERIFY(window.Following());
        window.SetCursor(0, StartS() + 1.04);
        window.SetCursor(1, StartS() + 2.51);
        QCOMPARE(window.CursorText(), QStringLiteral("Δt 1.500 s   ΔAD0 0.00 V   ΔAD1 0.00 V"));
        // The same moments in view by either time axis.
        window.SetTimeRange(StartS() + 100, StartS() + 110);
        window.SetElapsedAxis(true);
        QVERIFY(std::abs(window.TimeRange().first - 100) < 1e-6 && std::abs(window.TimeRange().second - 110) < 1e-6);
        window.SetElapsedAxis(false);
        QVERIFY(std::abs(window.TimeRange().first - StartS() - 100) < 1e-6);
        // On a ramp, each cursor takes the row nearest to it (not the next), and ΔV is B less A.
        QVERIFY(sink.RunStarted({kStart, "tavrin", "sim"}));
        for (int i = 0; i < 100; ++i)
            QVERIFY(TakeAt(sink, 100LL * i, 300 - i, i));
        window.SetCursor(0, StartS() + 1.04);
        window.SetCursor(1, StartS() + 2.56);
        QCOMPARE(window.CursorText(), QStringLiteral("Δt 1.600 s   ΔAD0 -0.16 V   ΔAD1 0.16 V"));
    }

    // What is saved: the pictures by their first bytes (and the PDF's texts as a reader takes them
    // out), the visible rows as the record's own rows.
    void saves_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("PNG") << "view.png" << QByteArray("\x89PNG") << QStringList{};
        QTest::newRow("PDF") << "view.pdf" << QByteArray("%PDF")
                             << QStringList{"2026-12-07", "23:50:10.100", "23:50:10.200", "AD0", "AD1", "HH", "LL",
                                            "トレンド — 現在の測定", "2026-12-07 23:50:10.000", "2026-12-07 23:50:10.300", "0.100 s"};
        QTest::newRow("SVG") << "view.svg" << QByteArray("<?xml") << QStringList{};
        QTest::newRow("CSV of 10.0 s to 10.3 s")
            << "slice.csv"
            << QByteArray(record::kHeaderRow.data()) +
                   "2026-12-07T23:50:10.000+09:00,10.000,0,100,2.00,4.00,1,0,0,0,,2.00,V,4.00,V\r\n"
                   "2026-12-07T23:50:10.100+09:00,10.100,0,101,2.00,4.00,1,0,0,0,,2.00,V,4.00,V\r\n"
                   "2026-12-07T23:50:10.200+09:00,10.200,0,102,2.00,4.00,1,0,0,0,,2.00,V,4.00,V\r\n"
                   "2026-12-07T23:50:10.300+09:00,10.300,0,103,2.00,4.00,1,0,0,0,,2.00,V,4.00,V\r\n"
            << QStringList{};
    }
    void saves() {
        QFETCH(QString, name);
        QFETCH(QByteArray, start);
        QFETCH(QStringList, texts);
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        FeedRun(sink);
        window.SetTimeRange(StartS() + 10, StartS() + 10.3);
        window.SetCursor(0, StartS() + 10.1);
        window.SetCursor(1, StartS() + 10.2);
        window.Plot().replot(QCustomPlot::rpImmediateRefresh);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        const auto saved =
            name.endsWith(QLatin1String(".csv")) ? window.SaveSlice(path) : window.SavePicture(path);
        QVERIFY2(saved, qPrintable(saved ? QString() : saved.Reason()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(name.endsWith(QLatin1String(".csv")) ? bytes : bytes.left(start.size()), start);
        if (name.endsWith(QLatin1String(".csv"))) {
            // The numbers over the same rows beside it, and in the window's table.
            QFile stats(dir.filePath(QStringLiteral("slice.stats.csv")));
            QVERIFY(stats.open(QIODevice::ReadOnly));
            QCOMPARE(stats.readAll(),
                     QByteArray("channel,unit,from,to,samples,min,max,mean,rms,stddev\r\n"
                                "AD0,V,2026-12-07T23:50:10.000+09:00,2026-12-07T23:50:10.300+09:00,4,2.00,2.00,"
                                "2.0000,2.0000,0.0000\r\n"
                                "AD1,V,2026-12-07T23:50:10.000+09:00,2026-12-07T23:50:10.300+09:00,4,4.00,4.00,"
                                "4.0000,4.0000,0.0000\r\n"));
            QCOMPARE(window.Statistics(), QStringLiteral("チャンネル\tn\tmin\tmax\tmean\tRMS\tσ\n"
                                                         "AD0\t4\t2.000\t2.000\t2.000\t2.000\t0.000\n"
                                                         "AD1\t4\t4.000\t4.000\t4.000\t4.000\t0.000\n"
                                                         "AD0 A–B\t2\t2.000\t2.000\t2.000\t2.000\t0.000\n"
                                                         "AD1 A–B\t2\t4.000\t4.000\t4.000\t4.000\t0.000"));
        }
        if (texts.isEmpty())
            return;
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
        QVERIFY(pdftotext.waitForFinished(60'000));
        const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
        // The view's texts, as a reader of the PDF takes them out.
        for (const QString& wanted : texts)
            QVERIFY2(text.contains(wanted), qPrintable(wanted + QStringLiteral(" not in:\n") + text));
    }

    // Records are read off this thread and shown once read, saying what is wrong with them; Cancel
    // leaves nothing of the read, and a window that goes while reading stops it.
    void opensRecordsSayingWhatIsWrong_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QStringList>("problems");
        QTest::addColumn<int>("legendItems");
        QTest::addColumn<QString>("title");
        QTest::newRow("read whole")
            << "" << QStringList{"bad.csv の 3 行目: 列が 1 個あります (記録の行は 11 列です) (読めない行は 1 行。飛ばして、残りをすべて表示します)"} << 4
            << "トレンド — good.csv, bad.csv";
        QTest::newRow("cancelled") << "cancel" << QStringList{} << 0 << "トレンド";
        QTest::newRow("the window goes") << "delete" << QStringList{} << 0 << "";
    }
    void opensRecordsSayingWhatIsWrong() {
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, problems);
        QFETCH(int, legendItems);
        QFETCH(QString, title);
        QTemporaryDir dir;
        QFile good(dir.filePath("good.csv")), bad(dir.filePath("bad.csv"));
        QVERIFY(good.open(QIODevice::WriteOnly) && bad.open(QIODevice::WriteOnly));
        const QByteArray row = "2026-12-07T09:30:47.123+09:00,0.100,0,0,3.07,1.23,1,0,0,1,\r\n";
        // Records written before the channels had units.
        good.write(QByteArray(record::kVoltsOnlyHeaderRow.data()) + row + row);
        bad.write(QByteArray(record::kVoltsOnlyHeaderRow.data()) + row + "x\r\n");
        good.close();
        bad.close();
        auto viewer = std::make_unique<trend::TrendWindow>();
        viewer->resize(960, 640);
        viewer->show();
        QSignalSpy read(viewer.get(), &trend::TrendWindow::RecordsRead);
        viewer->OpenRecords({good.fileName(), bad.fileName()});
        QVERIFY(viewer->Reading());
        if (meanwhile == QLatin1String("delete")) {
            viewer.reset(); // the reading thread is stopped and joined, and nothing is handed back
            QCOMPARE(read.count(), 0);
            return;
        }
        if (meanwhile == QLatin1String("cancel"))
            viewer->findChild<QPushButton*>(QStringLiteral("cancelReading"))->click();
        QVERIFY(read.wait(60'000));
        QVERIFY(!viewer->Reading());
        QCOMPARE(read.first().first().toStringList(), problems);
        QCOMPARE(viewer->Messages(), problems.join(QLatin1Char('\n')));
        // The records open, the window showing the whole of them.
        QCOMPARE(viewer->Plot().legend->itemCount(), legendItems);
        QCOMPARE(viewer->windowTitle(), title);
        if (legendItems == 0)
            return;
        QVERIFY(!viewer->Following());
        // Drawn at the size the window settles on: the statistics table that comes with the rows does not
        // leave the plot laid out for the size it had before.
        QCustomPlot& plot = viewer->Plot();
        QTRY_VERIFY(viewer->findChild<QTableWidget*>()->isVisible());
        QCoreApplication::processEvents();
        const QRect laidOut = plot.axisRect(1)->outerRect();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        QCOMPARE(laidOut, plot.axisRect(1)->outerRect());
        const double rowS = double(QDateTime(QDate(2026, 12, 7), QTime(9, 30, 47, 123), QTimeZone(9 * 3600))
                                       .toMSecsSinceEpoch()) /
                            1000.0;
        QVERIFY(viewer->TimeRange().first < rowS && viewer->TimeRange().second > rowS);
    }
    // A record of an oven on AD0 (0 V 0 °C to 5 V 500 °C), 200 °C but for 20 s at 450 °C, above its high
    // limit of 400 °C; AD1 at 3.00 V. Shown in °C, the time outside shaded; or in volts.
    void showsARecordInItsUnits_data() {
        QTest::addColumn<bool>("volts");
        QTest::addColumn<QString>("label");
        QTest::addColumn<double>("lowest");
        QTest::addColumn<double>("highest");
        QTest::addColumn<QString>("cursor");
        QTest::addColumn<QString>("stats");
        QTest::newRow("°C") << false << "AD0 (°C)" << 187.5 << 462.5 << "A: AD0 450 °C  AD1 3.00 V"
                            << "AD0 (°C) — oven.csv\t600\t200.0\t450.0\t283.3";
        QTest::newRow("volts") << true << "電圧 (V)" << 1.875 << 4.625 << "A: AD0 4.50 V  AD1 3.00 V"
                               << "AD0 — oven.csv\t600\t2.000\t4.500\t2.833";
    }
    void showsARecordInItsUnits() {
        QFETCH(bool, volts);
        QFETCH(QString, label);
        QFETCH(double, lowest);
        QFETCH(double, highest);
        QFETCH(QString, cursor);
        QFETCH(QString, stats);
        channels::Channels oven = channels::DefaultChannels();
        oven[0] = {"Oven", "°C", {0, 0, 5, 500}, *channels::ParseLimits("100:400")};
        std::string rows(record::kHeaderRow);
        for (int i = 0; i < 600; ++i) {
            acquisition::DecodedSample s;
            s.ad0 = i >= 200 && i < 400 ? 450 : 200;
            s.ad1 = 300;
            s.elapsedMs = 100LL * i;
            s.time = kStart.addMSecs(s.elapsedMs);
            if (i == 200 || i == 400)
                s.crossings[0] = i == 200 ? channels::Crossing::High : channels::Crossing::Back;
            record::AppendRow(rows, s, oven);
        }
        trend::TrendSink sink;
        trend::TrendWindow window(&sink);
        window.resize(900, 600);
        window.show();
        window.SetChannels(0x0000FF, 0xFF0000, true, true); // AD0 red
        QVERIFY(sink.RunStarted({kStart, "tavrin", "sim", oven}));
        QCOMPARE(window.Plot().graph(0)->name(), QStringLiteral("Oven")); // the run going on: the run's names
        std::vector<trend::RecordRead> reads;
        reads.push_back(trend::ReadRecordBytes(rows, "oven.csv"));
        window.ShowRecords(std::move(reads));
        window.SetShowVolts(volts);
        window.SetCursor(0, StartS() + 30);
        QCustomPlot& plot = window.Plot();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        QCPAxis* axis = plot.axisRect(0)->axis(QCPAxis::atLeft);
        QCOMPARE(axis->label(), label);
        QCOMPARE(axis->range().lower, lowest);
        QCOMPARE(axis->range().upper, highest);
        // AD1 in volts on an axis of its own on the right, unless all are in volts.
        QCPAxis* right = plot.axisRect(0)->axes(QCPAxis::atRight).value(1);
        QCOMPARE(right && right->visible(), !volts);
        QCOMPARE(window.CursorText(), cursor);
        // After the run going on (no samples yet), the record.
        QVERIFY2(window.Statistics().section(QLatin1Char('\n'), 3, 3).startsWith(stats), qPrintable(window.Statistics()));
        // AD0's time above 400 °C shaded, from its crossing out at 20 s to its way back at 40 s, in a tint of red.
        QList<double> shaded;
        for (QCPLayerable* item : plot.layer(QStringLiteral("outside"))->children())
            if (auto* g = qobject_cast<QCPGraph*>(item))
                for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
                    shaded << it->key - StartS() << it->value;
        QCOMPARE(shaded, (QList<double>{20, 1, 40, 0}));
        const auto tinted = [&](double keyS) {
            const QSet<QRgb> colours = ColoursAt(window, keyS);
            return std::any_of(colours.begin(), colours.end(), [](QRgb c) {
                return qRed(c) == 255 && qGreen(c) == qBlue(c) && qGreen(c) > 200 && qGreen(c) < 230;
            });
        };
        QVERIFY(tinted(StartS() + 25));
        QVERIFY(!tinted(StartS() + 50));
    }

    // A record another process is writing opens followed: its new rows are drawn as they come, over the
    // span chosen, and a truncation is said and ends the following.
    void followsARecordBeingWritten() {
        QTemporaryDir dir;
        QFile file(dir.filePath("live.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        std::string rows(record::kHeaderRow);
        const auto write = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                acquisition::DecodedSample s;
                s.ad0 = 200;
                s.elapsedMs = 100LL * i;
                s.time = kStart.addMSecs(s.elapsedMs);
                record::AppendRow(rows, s);
            }
            QVERIFY(file.write(rows.data(), qint64(rows.size())) == qint64(rows.size()));
            rows.clear();
        };
        write(0, 6000);
        QVERIFY(::flock(file.handle(), LOCK_EX) == 0);
        trend::TrendWindow window;
        window.resize(900, 600);
        window.show();
        window.SetFollowSpan(60);
        QSignalSpy read(&window, &trend::TrendWindow::RecordsRead);
        QSignalSpy said(&window, &trend::TrendWindow::Said);
        window.OpenRecords({file.fileName()});
        QVERIFY(read.wait(60'000));
        QVERIFY(window.Growing() && window.Following());
        window.Plot().replot(QCustomPlot::rpImmediateRefresh);
        QVERIFY(std::abs(window.TimeRange().first - (StartS() + 599.9 - 60)) < 0.01);
        write(6000, 6100);
        window.ReadGrowth();
        window.Plot().replot(QCustomPlot::rpImmediateRefresh);
        QVERIFY(std::abs(window.TimeRange().first - (StartS() + 609.9 - 60)) < 0.01);
        QVERIFY(file.resize(qint64(record::kHeaderRow.size())));
        window.ReadGrowth();
        QVERIFY(!window.Growing() && !window.Following());
        QVERIFY2(window.Messages().contains(QStringLiteral("live.csv: 記録ファイルが短くなりました")),
                 qPrintable(window.Messages()));
        // Said for --view's standard error as well.
        QCOMPARE(said.size(), 1);
        QVERIFY(said.first().first().toStringList().join('\n').contains(
            QStringLiteral("記録ファイルが短くなりました")));
    }

    // Export asks before it replaces a file, under the name it really writes (the suffix added, the
    // statistics beside a CSV), and never touches a run's record still being written. Files named in
    // `there` hold "kept" beforehand; `live` is locked as a run locks its record.
    void exportAsksBeforeReplacing_data() {
        QTest::addColumn<int>("kind"); // the Export menu's entry: PNG, PDF, SVG, CSV
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("there");
        QTest::addColumn<QString>("live");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("asked"); // the names the question named; empty: not asked
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("said");
        const QString refused = "%1 は書き込み中の測定の記録です。何も書き出していません";
        QTest::newRow("CSV typed without its suffix over a record: asked, declined")
            << 3 << "keep" << QStringList{"keep.csv"} << "" << false << QStringList{"keep.csv"}
            << QStringList{} << "";
        QTest::newRow("CSV typed without its suffix over a record: asked, replaced")
            << 3 << "keep" << QStringList{"keep.csv"} << "" << true << QStringList{"keep.csv"}
            << QStringList{"keep.csv", "keep.stats.csv"} << "";
        QTest::newRow("CSV typed whole, its statistics there: asked, declined")
            << 3 << "slice.csv" << QStringList{"slice.stats.csv"} << "" << false
            << QStringList{"slice.stats.csv"} << QStringList{} << "";
        QTest::newRow("CSV and statistics both there: asked once about both")
            << 3 << "slice" << QStringList{"slice.csv", "slice.stats.csv"} << "" << false
            << QStringList{"slice.csv", "slice.stats.csv"} << QStringList{} << "";
        QTest::newRow("CSV over nothing: not asked")
            << 3 << "new" << QStringList{} << "" << false << QStringList{}
            << QStringList{"new.csv", "new.stats.csv"} << "";
        QTest::newRow("PNG typed without its suffix: asked, declined")
            << 0 << "view" << QStringList{"view.png"} << "" << false << QStringList{"view.png"}
            << QStringList{} << "";
        QTest::newRow("PDF typed without its suffix: asked, declined")
            << 1 << "view" << QStringList{"view.pdf"} << "" << false << QStringList{"view.pdf"}
            << QStringList{} << "";
        QTest::newRow("SVG typed without its suffix: asked, replaced")
            << 2 << "view" << QStringList{"view.svg"} << "" << true << QStringList{"view.svg"}
            << QStringList{"view.svg"} << "";
        QTest::newRow("CSV typed without its suffix over a run's record: refused, not asked")
            << 3 << "run" << QStringList{"run.csv"} << "run.csv" << true << QStringList{} << QStringList{}
            << refused.arg("run.csv");
        QTest::newRow("CSV whose statistics would replace a run's record: refused, nothing written")
            << 3 << "run" << QStringList{"run.stats.csv"} << "run.stats.csv" << true << QStringList{}
            << QStringList{} << refused.arg("run.stats.csv");
        QTest::newRow("PNG over a run's record: refused")
            << 0 << "run.png" << QStringList{"run.png"} << "run.png" << true << QStringList{} << QStringList{}
            << refused.arg("run.png");
    }
    void exportAsksBeforeReplacing() {
        QFETCH(int, kind);
        QFETCH(QString, typed);
        QFETCH(QStringList, there);
        QFETCH(QString, live);
        QFETCH(bool, answer);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, written);
        QFETCH(QString, said);
        QTemporaryDir dir;
        for (const QString& name : there) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
        }
        QFile held(dir.filePath(live));
        if (!live.isEmpty()) {
            QVERIFY(held.open(QIODevice::ReadWrite | QIODevice::Append));
            QVERIFY(::flock(held.handle(), LOCK_EX) == 0);
        }
        QStringList question;
        trend::TrendDialogs dialogs;
        dialogs.saveAs = [&](QWidget*, const QString&) { return dir.filePath(typed); };
        dialogs.replace = [&](QWidget*, const QStringList& names) {
            question = names;
            return answer;
        };
        trend::TrendSink sink;
        trend::TrendWindow window(&sink, dialogs);
        window.resize(900, 600);
        window.show();
        FeedRun(sink, 700);
        window.SetTimeRange(StartS() + 10, StartS() + 10.3);
        window.Plot().replot(QCustomPlot::rpImmediateRefresh);
        QSignalSpy saidSpy(&window, &trend::TrendWindow::Said);
        window.findChild<QPushButton*>("export")->menu()->actions().at(kind)->trigger();
        QCOMPARE(question, asked);
        QCOMPARE(window.Messages(), said);
        QCOMPARE(saidSpy.size(), said.isEmpty() ? 0 : 1);
        QStringList now;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files)) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            if (file.readAll() != "kept")
                now << name;
        }
        QCOMPARE(now, written);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(),
                 qsizetype((QSet<QString>(there.begin(), there.end()) +
                            QSet<QString>(written.begin(), written.end()))
                               .size()));
    }
};

QTEST_MAIN(TrendWindowTest)
#include "trend_window_test.moc"
