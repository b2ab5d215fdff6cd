// The run's logic against a recording host: order of steps, the three ends,
// STOP in each state, and errors at a sweep end.
#include "acquisition/acquisition_run.h"

#include <QStringList>
#include <QTest>
#include <functional>

using acquisition::RunEnd;
Q_DECLARE_METATYPE(acquisition::RunEnd)

namespace {

// Plays the form: records every step, and lets a test act at a chosen step.
class RecordingHost : public acquisition::RunHost {
public:
    std::uint8_t acquiring = 0;
    std::int16_t intervalTicks = 0;
    std::uint16_t samplingTime = 3;
    std::uint16_t sweepX = 0;
    std::uint16_t fileIndex = 7;
    acquisition::RunFields Fields() { return {acquiring, intervalTicks, samplingTime, sweepX, fileIndex}; }

    QStringList steps;
    int exchangesLeftBeforeTimeout = 1'000'000;
    int framesPerSweep = 601;
    bool continuous = false, autoSave = false, autoPrint = false;
    std::optional<QString> saveError, printError;
    std::function<void(const QString& step)> onStep;
    int pumps = 0;
    // Replies without a frame and with one, alternately, from the first exchange on; then only frames.
    QList<int> framelessThenFramed;
    int exchanges = 0;
    unsigned framelessLimit = 0;

    void Step(const QString& s) {
        steps << s;
        if (onStep)
            onStep(s);
    }
    void SetStartEnabled(bool enabled) override { Step(enabled ? "start-on" : "start-off"); }
    void ClearChart() override { Step("clear-chart"); }
    void ResetSweep() override {
        sweepX = 0;
        Step("reset-sweep");
    }
    void ClearLog() override { Step("clear-log"); }
    void WriteRunHeader() override { Step(QStringLiteral("header %1").arg(fileIndex)); }
    void ShowStatus(const QString& text) override { Step("status " + text.trimmed()); }
    void MessageBeep() override { Step("beep"); }
    void ProcessMessages() override {
        ++pumps;
        if (intervalTicks != 0)
            --intervalTicks;   // each wait lasts one tick here
    }
    void PrepareDevice() override { Step("prepare-device"); }
    bool ExchangeSample() override {
        ++exchanges;
        Step("exchange");
        return exchangesLeftBeforeTimeout-- > 0;
    }
    void PlotReply() override {
        if (HasFrame(exchanges))
            ++sweepX;
        Step("plot");
    }
    bool HasFrame(int exchange) const {
        bool frame = false;
        for (int run : framelessThenFramed) {
            if (exchange <= run)
                return frame;
            exchange -= run;
            frame = !frame;
        }
        return true;
    }
    bool ContinuousTicked() const override { return continuous; }
    bool AutoSaveTicked() const override { return autoSave; }
    bool AutoPrintTicked() const override { return autoPrint; }
    std::optional<QString> SaveSweep() override {
        Step("save");
        return saveError;
    }
    std::optional<QString> PrintChartNow() override {
        Step("print");
        return printError;
    }
    void ShowError(const QString& message) override { Step("error " + message); }

    RunEnd Run() { return acquisition::Run(*this, Fields(), framelessLimit); }
    void Stop() { acquisition::Stop(*this, Fields()); }
};

QStringList After(const QStringList& steps, const QString& marker) { return steps.mid(steps.lastIndexOf(marker)); }

} // namespace

class TestRunLogic : public QObject {
    Q_OBJECT

private slots:
    void startSteps() {
        RecordingHost h;
        h.exchangesLeftBeforeTimeout = 0;
        h.Run();
        QCOMPARE(h.steps.mid(0, 7), (QStringList{"start-off", "clear-chart", "prepare-device", "clear-log",
                                                 "header 0", "reset-sweep", "status "}));
        QCOMPARE(h.fileIndex, std::uint16_t(0));
    }

    void timeoutEnd() {
        RecordingHost h;
        h.exchangesLeftBeforeTimeout = 2;
        QCOMPARE(h.Run(), RunEnd::TimedOut);
        QCOMPARE(After(h.steps, "exchange"), (QStringList{"exchange", "beep", "status 応答がありません", "start-on"}));
        QCOMPARE(h.acquiring, std::uint8_t(0));
        QVERIFY(!h.steps.contains("status データ取り込み終了"));
    }

    void sweepEndOrder_data() {
        QTest::addColumn<bool>("autoSave");
        QTest::addColumn<bool>("autoPrint");
        QTest::addColumn<QStringList>("tail");
        QTest::newRow("neither") << false << false
                                 << QStringList{"status キャプチャー開始", "status データ取り込み終了", "start-on"};
        QTest::newRow("save then print")
            << true << true
            << QStringList{"status キャプチャー開始", "save", "print", "status データ取り込み終了", "start-on"};
        QTest::newRow("print only") << false << true
                                    << QStringList{"status キャプチャー開始", "print", "status データ取り込み終了",
                                                   "start-on"};
    }
    void sweepEndOrder() {
        QFETCH(bool, autoSave);
        QFETCH(bool, autoPrint);
        QFETCH(QStringList, tail);
        RecordingHost h;
        h.autoSave = autoSave;
        h.autoPrint = autoPrint;
        QCOMPARE(h.Run(), RunEnd::Normal);
        QCOMPARE(h.steps.count("plot"), 601);
        QCOMPARE(After(h.steps, "status データ読み込み中"), QStringList{"status データ読み込み中"} + tail);
    }

    void continuousRestartBeepsResetsAndClears() {
        RecordingHost h;
        h.continuous = true;
        h.onStep = [&](const QString& s) {
            if (s == "plot" && h.steps.count("plot") == 605)
                h.Stop();
        };
        QCOMPARE(h.Run(), RunEnd::Normal);
        const QStringList tail = After(h.steps, "status キャプチャー開始");
        QCOMPARE(tail.mid(0, 4), (QStringList{"status キャプチャー開始", "beep", "reset-sweep", "clear-chart"}));
        QCOMPARE(h.sweepX, std::uint16_t(4));   // the next sweep went on from column 0
    }

    void stopWhileIdleOnlyBeeps() {
        RecordingHost h;
        h.intervalTicks = 5;
        h.Stop();
        QCOMPARE(h.steps, QStringList{"beep"});
        QCOMPARE(h.acquiring, std::uint8_t(0));
        QCOMPARE(h.intervalTicks, std::int16_t(0));
    }

    void stopDuringReplyHandlesTheReplyThenEnds() {
        RecordingHost h;
        h.samplingTime = 50;
        h.onStep = [&](const QString& s) {
            if (s == "exchange" && h.steps.count("exchange") == 3)
                h.Stop();
        };
        QCOMPARE(h.Run(), RunEnd::Normal);
        QCOMPARE(After(h.steps, "exchange"),
                 (QStringList{"exchange", "beep", "plot", "status データ読み込み中", "status データ取り込み終了",
                              "start-on"}));
        // The interval wait ended at once.
        QCOMPARE(h.pumps, 2 * 50);
    }

    void stopDuringSweepEndStillRestartsTheChart() {
        RecordingHost h;
        h.continuous = true;
        h.autoSave = true;
        h.autoPrint = true;
        h.onStep = [&](const QString& s) {
            if (s == "save")
                h.Stop();
        };
        QCOMPARE(h.Run(), RunEnd::Normal);
        QCOMPARE(After(h.steps, "save"), (QStringList{"save", "beep", "print", "beep", "reset-sweep", "clear-chart",
                                                      "status データ取り込み終了", "start-on"}));
    }

    void errorAtASweepEndEndsTheRunCleanly_data() {
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<QStringList>("tail");
        QTest::newRow("sweep file") << true << QStringList{"save", "start-on", "error disk full"};
        QTest::newRow("printer") << false << QStringList{"save", "print", "start-on", "error disk full"};
    }
    void errorAtASweepEndEndsTheRunCleanly() {
        QFETCH(bool, saveFails);
        QFETCH(QStringList, tail);
        RecordingHost h;
        h.continuous = true;
        h.autoSave = true;
        h.autoPrint = true;
        (saveFails ? h.saveError : h.printError) = QStringLiteral("disk full");
        QCOMPARE(h.Run(), RunEnd::Error);
        QCOMPARE(After(h.steps, "save"), tail);
        QCOMPARE(h.acquiring, std::uint8_t(0));
        QVERIFY(!h.steps.contains("status データ取り込み終了"));
    }

    void repliesWithoutAFrameInARow_data() {
        QTest::addColumn<unsigned>("limit");
        QTest::addColumn<QList<int>>("framelessThenFramed");
        QTest::addColumn<RunEnd>("end");
        QTest::addColumn<int>("exchanges");
        QTest::addColumn<QString>("lastStep");
        const QString ended = QStringLiteral("error The unit sent 100 replies in a row without a reply frame "
                                             "(no \"A\" in the first 50 bytes); the run was ended.");
        QTest::newRow("window: no limit") << 0u << QList<int>{300} << RunEnd::Normal << 901 << "start-on";
        QTest::newRow("unattended: the 100th ends the run")
            << 100u << QList<int>{150} << RunEnd::Error << 100 << ended;
        QTest::newRow("unattended: a frame starts the count again")
            << 100u << QList<int>{99, 1, 99} << RunEnd::Normal << 799 << "start-on";
        QTest::newRow("unattended: 100 after a frame")
            << 100u << QList<int>{99, 1, 100} << RunEnd::Error << 200 << ended;
    }
    void repliesWithoutAFrameInARow() {
        QFETCH(unsigned, limit);
        QFETCH(QList<int>, framelessThenFramed);
        QFETCH(RunEnd, end);
        QFETCH(int, exchanges);
        QFETCH(QString, lastStep);
        RecordingHost h;
        h.samplingTime = 1;
        h.framelessLimit = limit;
        h.framelessThenFramed = framelessThenFramed;
        QCOMPARE(h.Run(), end);
        QCOMPARE(h.exchanges, exchanges);
        QCOMPARE(h.steps.last(), lastStep);
        QCOMPARE(h.acquiring, std::uint8_t(0));
    }

    void samplingTimeIsReadAtEveryLoad() {
        RecordingHost h;
        h.samplingTime = 4;
        int exchanges = 0;
        QList<int> pumpsBefore;
        h.onStep = [&](const QString& s) {
            if (s != "exchange")
                return;
            pumpsBefore << h.pumps;
            if (++exchanges == 3)
                h.samplingTime = 9;   // changed during the run
            if (exchanges == 6)
                h.Stop();
        };
        h.Run();
        QCOMPARE(pumpsBefore, (QList<int>{0, 4, 8, 12, 21, 30}));
    }
};

QTEST_GUILESS_MAIN(TestRunLogic)
#include "test_run_logic.moc"
