// The session's run against a recording view, on the simulated unit and a driven tick: the order of
// its steps, the three ends, STOP in each state, errors at a sweep end and replies without a frame.
#include "acquisition/session.h"
#include "chart/chart_picture.h"
#include "device/simulated_unit.h"
#include "device/unit.h"
#include "tests/support/driven_loop.h"

#include <QColor>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using acquisition::RunEnd;
using acquisition::SampleNote;
Q_DECLARE_METATYPE(acquisition::RunEnd)

namespace {

// Plays the window: records what the run shows, and lets a test act at a chosen step.
class RecordingView : public acquisition::SessionView, public acquisition::RunLog, public acquisition::RunChart {
public:
    acquisition::RunSettings settings;
    QStringList steps;
    std::optional<QString> printError;
    std::function<void(const QString& step)> onStep;
    QImage picture;

    void Step(const QString& s) {
        steps << s;
        if (onStep)
            onStep(s);
    }
    acquisition::RunSettings Settings() const override { return settings; }
    void ShowStatus(const QString& text) override { Step(("status " + text).trimmed()); }
    void Beep() override { Step("beep"); }
    QImage* Chart() override { return &picture; }
    // A cleared chart is white where a drawn frame has its corner.
    void ChartChanged(const QRegion& changed) override {
        const bool cleared = changed == QRegion(picture.rect()) && picture.pixel(0, 0) == qRgb(255, 255, 255);
        Step(cleared ? "clear-chart" : "plot");
    }
    report::Done PrintChart() override {
        Step("print");
        if (printError)
            return report::Fail(*printError);
        return {};
    }
    void RunStateChanged(bool running) override { Step(running ? "start-off" : "start-on"); }

    void Clear() override { Step("clear-log"); }
    void SetSingleLine(const QByteArray&) override {}
    void AppendReply(const QByteArray&) override {}
    void AppendText(const QString& line) override {
        if (line.startsWith("FileName = "))
            Step("header " + line.section('=', 1).trimmed());
    }
    QByteArray FileBytes() const override { return "log\r\n"; }
};

// The notes of the rows a run feeds its sinks, in order (None for a sample).
struct Notes : acquisition::SampleSink {
    QList<SampleNote> notes;
    const char* Module() const override { return "test"; }
    report::Done RunStarted(const acquisition::RunInfo&) override { return {}; }
    report::Done Take(const acquisition::DecodedSample& sample) override {
        notes << sample.note;
        return {};
    }
};

// A session on the simulated unit, its sweep files in a folder of its own.
struct Rig {
    explicit Rig(unsigned framelessLimit = 0) : pump(100) {
        QDir::setCurrent(folder.path());
        auto simulated = std::make_unique<device::SimulatedUnit>(device::SimulatedUnitOptions{}, [this] { return pump.Now(); });
        sim = simulated.get();
        SetD2xxBackend(std::move(simulated));
        acquisition::SessionSeams seams;
        seams.framelessReplyLimit = framelessLimit;
        seams.sinks = {&notes};
        seams.now = [] { return QDateTime(QDate(2026, 12, 7), QTime(10, 20, 30)); };
        session = std::make_unique<acquisition::Session>(view, view, view, unit, pump, seams);
        pump.tick = [this] { session->Tick(); };
        view.settings.continuous = false;
        view.settings.baseName = "tavrin";
        view.settings.samplingText = "3";
        session->State().SamplingTime = 3;
        session->ConnectDevice();
        view.steps.clear();
    }
    ~Rig() {
        session.reset();
        SetD2xxBackend(nullptr);
    }
    // START, and the run driven to its end.
    RunEnd Run() {
        session->Start();
        pump.RunWhile([this] { return session->Running(); });
        return session->LastOutcome().end;
    }

    QTemporaryDir folder;
    testing::DrivenLoop pump;
    device::SimulatedUnit* sim = nullptr;
    device::Unit unit;
    RecordingView view;
    Notes notes;
    std::unique_ptr<acquisition::Session> session;
};

// The requests' send times by the unit's clock, in ms from START.
QList<long> RequestMs(const device::SimulatedUnit& sim) {
    QList<long> ms;
    for (const auto t : sim.RequestTimes())
        ms << long(t.count() / 1000);
    return ms;
}

QStringList After(const QStringList& steps, const QString& marker) { return steps.mid(steps.lastIndexOf(marker)); }

} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    void startSteps() {
        Rig r;
        r.sim->Faults().silentAfter = 0;
        QCOMPARE(r.Run(), RunEnd::TimedOut);
        QCOMPARE(r.view.steps.mid(0, 4), (QStringList{"start-off", "clear-chart", "clear-log", "header tavrin0"}));
        QCOMPARE(r.sim->RtsPulses(), 1);
        QCOMPARE(r.sim->LastPurgeMask(), ULONG(FT_PURGE_RX | FT_PURGE_TX));
        QCOMPARE(r.session->State().FileIndex, std::uint16_t(0));
    }

    void timeoutEnd() {
        Rig r;
        r.sim->Faults().silentAfter = 2;
        QCOMPARE(r.Run(), RunEnd::TimedOut);
        QCOMPARE(After(r.view.steps, "status"), (QStringList{"status", "beep", "status 応答がありません", "start-on"}));
        QCOMPARE(r.session->State().Acquiring, std::uint8_t(0));
        QVERIFY(!r.view.steps.contains("status データ取り込み終了"));
        QCOMPARE(r.session->LastOutcome().reason, QStringLiteral("the unit did not answer within 10 ticks; the run ended"));
    }

    void sweepEndOrder_data() {
        QTest::addColumn<bool>("autoSave");
        QTest::addColumn<bool>("autoPrint");
        QTest::addColumn<QStringList>("tail");
        QTest::newRow("neither") << false << false
                                 << QStringList{"status キャプチャー開始", "status データ取り込み終了", "start-on"};
        QTest::newRow("save then print")
            << true << true
            << QStringList{"status キャプチャー開始", "clear-log", "header tavrin1", "print", "status データ取り込み終了",
                           "start-on"};
        QTest::newRow("print only") << false << true
                                    << QStringList{"status キャプチャー開始", "print", "status データ取り込み終了",
                                                   "start-on"};
    }
    void sweepEndOrder() {
        QFETCH(bool, autoSave);
        QFETCH(bool, autoPrint);
        QFETCH(QStringList, tail);
        Rig r;
        r.view.settings.autoSave = autoSave;
        r.view.settings.autoPrint = autoPrint;
        QCOMPARE(r.Run(), RunEnd::Normal);
        QCOMPARE(r.view.steps.count("plot"), 601);
        QCOMPARE(After(r.view.steps, "status データ読み込み中"), QStringList{"status データ読み込み中"} + tail);
        QCOMPARE(QFile::exists("tavrin0.bmp") && QFile::exists("tavrin0.txt"), autoSave);
    }

    void continuousRestartBeepsResetsAndClears() {
        Rig r;
        r.view.settings.continuous = true;
        r.view.onStep = [&](const QString& s) {
            if (s == "plot" && r.view.steps.count("plot") == 605)
                r.session->Stop();
        };
        QCOMPARE(r.Run(), RunEnd::Normal);
        const QStringList tail = After(r.view.steps, "status キャプチャー開始");
        QCOMPARE(tail.mid(0, 3), (QStringList{"status キャプチャー開始", "beep", "clear-chart"}));
        QCOMPARE(r.session->State().SweepX, std::uint16_t(4)); // the next sweep went on from column 0
    }

    void stopWhileIdleOnlyBeeps() {
        Rig r;
        r.session->State().IntervalTicks = 5;
        r.session->Stop();
        QCOMPARE(r.view.steps, QStringList{"beep"});
        QCOMPARE(r.session->State().Acquiring, std::uint8_t(0));
        QCOMPARE(r.session->State().IntervalTicks, std::int16_t(0));
    }

    void stopDuringTheReplyWaitHandlesTheReplyThenEnds() {
        Rig r;
        r.session->State().SamplingTime = 50;
        // The third reply takes 2.5 ticks to come; STOP is pressed at the first tick of its wait.
        r.view.onStep = [&](const QString& s) {
            if (s == "status" && r.sim->Requests() == 2) {
                r.sim->Faults().replyDelayUs = 250'000;
                r.pump.afterTick = [&](long) {
                    r.session->Stop();
                    r.pump.afterTick = {};
                };
            }
        };
        QCOMPARE(r.Run(), RunEnd::Normal);
        QCOMPARE(After(r.view.steps, "status"),
                 (QStringList{"status", "beep", "plot", "status データ読み込み中", "status データ取り込み終了", "start-on"}));
        QCOMPARE(r.sim->Requests(), 3u);
    }

    // A stop signal does not wait: a reply wait or the pause before a sweep's log file ends at the
    // tick it came in, and a request still unanswered is noted as cut short, the run's end normal.
    void stopSignalEndsAWaitAtOnce_data() {
        QTest::addColumn<QString>("during");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QStringList>("tail");
        QTest::addColumn<int>("lastNote");
        const QString request = "status";
        const QStringList afterRequest{"status", "beep", "status データ取り込み終了", "start-on"};
        const QString sweepEnd = "status キャプチャー開始";
        const QStringList afterSweepEnd{sweepEnd,  "beep", "clear-log",   "header tavrin1",
                                        "print",   "beep", "clear-chart", "status データ取り込み終了",
                                        "start-on"};
        QTest::newRow("the reply wait of a unit that stopped answering")
            << QString("silent") << request << afterRequest << int(SampleNote::CutShort);
        QTest::newRow("a reply wait of 2.5 s")
            << QString("slow") << request << afterRequest << int(SampleNote::CutShort);
        QTest::newRow("the pause before the sweep's log file")
            << QString("save") << sweepEnd << afterSweepEnd << int(SampleNote::None);
    }
    void stopSignalEndsAWaitAtOnce() {
        QFETCH(QString, during);
        QFETCH(QString, marker);
        QFETCH(QStringList, tail);
        QFETCH(int, lastNote);
        Rig r;
        r.view.settings.continuous = during == "save";
        r.view.settings.autoSave = during == "save";
        r.view.settings.autoPrint = during == "save";
        long stoppedAt = -1;
        const auto stopAtTheNextTick = [&] {
            r.pump.afterTick = [&](long tick) {
                r.session->StopNow();
                stoppedAt = tick;
                r.pump.afterTick = {};
            };
        };
        r.view.onStep = [&](const QString& s) {
            if (during == "save" ? s == marker : s == "status" && r.sim->Requests() == 2) {
                if (during == "silent")
                    r.sim->Faults().silentAfter = 2;
                if (during == "slow")
                    r.sim->Faults().replyDelayUs = 2'500'000;
                stopAtTheNextTick();
            }
        };
        QCOMPARE(r.Run(), RunEnd::Normal);
        QCOMPARE(r.pump.Ticks(), stoppedAt);
        QCOMPARE(After(r.view.steps, marker), tail);
        QCOMPARE(int(r.notes.notes.last()), lastNote);
        QVERIFY(!r.notes.notes.contains(SampleNote::NoReply));
    }

    // The next request waits its full sampling time from the last one and goes out on a tick, so that
    // its reply wait is 10 whole ticks: after a slow reply, after a wait for the unit at START, and
    // after the unit came back. Ticks are 100 ms; replies that are not slow take their wire time.
    void requestsGoOutOnTheTick_data() {
        QTest::addColumn<int>("samplingTime");
        QTest::addColumn<QString>("unit"); // "slow", "plugged in at tick 5", "unplugged after 2 replies"
        QTest::addColumn<QList<long>>("requestMs");
        QTest::newRow("0.98 s replies at sampling time 1 never time out")
            << 1 << "slow" << QList<long>{0, 1000, 2000, 3000};
        QTest::newRow("no unit at START, then one")
            << 3 << "plugged in at tick 5" << QList<long>{1000, 1300, 1600, 1900};
        // Unplugged after the second reply: the third request times out at 1.6 s, the unit is looked
        // for once a second from then on and is back at the second look.
        QTest::newRow("unit back") << 3 << "unplugged after 2 replies" << QList<long>{0, 300, 2600, 2900};
    }
    void requestsGoOutOnTheTick() {
        QFETCH(int, samplingTime);
        QFETCH(QString, unit);
        QFETCH(QList<long>, requestMs);
        Rig r;
        r.view.settings.continuous = true;
        r.session->State().SamplingTime = std::uint16_t(samplingTime);
        r.session->SetReconnect(true);
        if (unit == "slow")
            r.sim->Faults().replyDelayUs = 980'000;
        if (unit == "plugged in at tick 5") {
            r.sim->Unplug();
            r.pump.afterTick = [&](long tick) {
                if (tick == 5)
                    r.sim->PlugIn();
            };
        }
        r.view.onStep = [&](const QString& s) {
            if (s != "status データ読み込み中")
                return;
            if (unit == "unplugged after 2 replies" && r.sim->Requests() == 2 && !r.sim->Unplugged()) {
                r.sim->Unplug();
                r.pump.afterTick = [&](long tick) {
                    if (tick == 20)
                        r.sim->PlugIn();
                };
            }
            if (r.view.steps.count(s) == 4)
                r.session->Stop();
        };
        QCOMPARE(r.Run(), RunEnd::Normal);
        QCOMPARE(RequestMs(*r.sim), requestMs);
        QVERIFY(!r.notes.notes.contains(SampleNote::NoReply));
    }

    // A channel switched off while outside its limits leaves them: the status line has the run's own
    // text again from the next sample on.
    void aChannelSwitchedOffLeavesItsLimits() {
        Rig r;
        r.view.settings.channels[0].limits.low = 10; // the simulated AD0 stays between 0.50 and 5.50 V
        r.view.onStep = [&](const QString& s) {
            if (s == "status" && r.sim->Requests() == 3)
                r.view.settings.ad0On = false;
            if (s == "status データ読み込み中" && r.view.steps.count(s) == 2)
                r.session->Stop();
        };
        QCOMPARE(r.Run(), RunEnd::Normal);
        QStringList said;
        for (const QString& step : r.view.steps)
            if (step.startsWith("status "))
                said << (step.startsWith("status AD0 が下限を下回っています (") ? "AD0 below" : step.mid(7));
        QCOMPARE(said, (QStringList{"AD0 below", "AD0 below", "AD0 below", "データ読み込み中",
                                    "データ読み込み中", "データ取り込み終了"}));
    }

    void stopDuringTheSavePauseStillRestartsTheChart() {
        Rig r;
        r.view.settings.continuous = true;
        r.view.settings.autoSave = true;
        r.view.settings.autoPrint = true;
        r.view.onStep = [&](const QString& s) {
            if (s == "status キャプチャー開始")
                r.pump.afterTick = [&](long) {
                    r.session->Stop();
                    r.pump.afterTick = {};
                };
        };
        QCOMPARE(r.Run(), RunEnd::Normal);
        QCOMPARE(After(r.view.steps, "status キャプチャー開始"),
                 (QStringList{"status キャプチャー開始", "beep", "clear-log", "header tavrin1", "print", "beep",
                              "clear-chart", "status データ取り込み終了", "start-on"}));
    }

    void errorAtASweepEndEndsTheRunCleanly_data() {
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<QStringList>("tail");
        QTest::addColumn<QString>("reason");
        QTest::newRow("sweep file") << true << QStringList{"status キャプチャー開始", "start-on"}
                                    << "Cannot write the chart file nowhere/tavrin0.bmp: No such file or directory";
        QTest::newRow("printer") << false
                                 << QStringList{"status キャプチャー開始", "clear-log", "header tavrin1", "print",
                                                "start-on"}
                                 << "printer on fire";
    }
    void errorAtASweepEndEndsTheRunCleanly() {
        QFETCH(bool, saveFails);
        QFETCH(QStringList, tail);
        QFETCH(QString, reason);
        Rig r;
        r.view.settings.continuous = true;
        r.view.settings.autoSave = true;
        r.view.settings.autoPrint = true;
        if (saveFails)
            r.view.settings.baseName = "nowhere/tavrin";
        else
            r.view.printError = "printer on fire";
        QCOMPARE(r.Run(), RunEnd::Error);
        QCOMPARE(After(r.view.steps, "status キャプチャー開始"), tail);
        QCOMPARE(r.session->LastOutcome().reason, reason);
        QCOMPARE(r.session->State().Acquiring, std::uint8_t(0));
        QVERIFY(!r.view.steps.contains("status データ取り込み終了"));
    }

    void repliesWithoutAFrameInARow_data() {
        QTest::addColumn<unsigned>("limit");
        QTest::addColumn<QList<int>>("framelessThenFramed");
        QTest::addColumn<RunEnd>("end");
        QTest::addColumn<unsigned>("requests");
        QTest::newRow("window: no limit") << 0u << QList<int>{300} << RunEnd::Normal << 901u;
        QTest::newRow("unattended: the 100th ends the run") << 100u << QList<int>{150} << RunEnd::Error << 100u;
        QTest::newRow("unattended: a frame starts the count again")
            << 100u << QList<int>{99, 1, 99} << RunEnd::Normal << 799u;
        QTest::newRow("unattended: 100 after a frame") << 100u << QList<int>{99, 1, 100} << RunEnd::Error << 200u;
    }
    void repliesWithoutAFrameInARow() {
        QFETCH(unsigned, limit);
        QFETCH(QList<int>, framelessThenFramed);
        QFETCH(RunEnd, end);
        QFETCH(unsigned, requests);
        Rig r(limit);
        r.session->State().SamplingTime = 1;
        // Before each request: whether its reply comes without a frame.
        r.view.onStep = [&](const QString& s) {
            if (s != "status")
                return;
            // Runs of replies without a frame and with one, alternately; then only frames.
            int n = int(r.sim->Requests()) + 1;
            bool frame = true;
            bool framed = false;
            for (int run : framelessThenFramed) {
                if (n <= run) {
                    frame = framed;
                    break;
                }
                n -= run;
                framed = !framed;
            }
            r.sim->Faults().garbage = !frame;
        };
        QCOMPARE(r.Run(), end);
        QCOMPARE(r.sim->Requests(), requests);
        QCOMPARE(r.session->State().Acquiring, std::uint8_t(0));
        if (end == RunEnd::Error)
            QCOMPARE(r.session->LastOutcome().reason,
                     QStringLiteral("The unit sent 100 replies in a row without a reply frame (no \"A\" in the first "
                                    "50 bytes); the run was ended."));
    }

    void samplingTimeIsReadAtEveryLoad() {
        Rig r;
        r.session->State().SamplingTime = 4;
        r.view.settings.continuous = true;
        QList<long> ticksAtRequest;
        r.view.onStep = [&](const QString& s) {
            if (s != "status")
                return;
            ticksAtRequest << r.pump.Ticks();
            if (ticksAtRequest.size() == 3)
                r.session->State().SamplingTime = 9; // changed during the run
            if (ticksAtRequest.size() == 6)
                r.session->Stop();
        };
        r.Run();
        QCOMPARE(ticksAtRequest, (QList<long>{0, 4, 8, 12, 21, 30}));
    }

    // The run's log and chart are fed like every sink: the log takes each reply read (an empty one
    // too, as an empty line), the chart draws each sample with a frame, at its column.
    void logAndChartAreSinks_data() {
        QTest::addColumn<int>("note");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("framed") << int(SampleNote::None) << true << QByteArray("AD0=420--------130?")
                                << QStringList{"AD0=420--------130?", "plot"};
        QTest::newRow("empty reply") << int(SampleNote::NoFrame) << true << QByteArray() << QStringList{""};
        QTest::newRow("read failed") << int(SampleNote::None) << false << QByteArray("AD0=420--------130?")
                                     << QStringList{"plot"};
        QTest::newRow("no reply") << int(SampleNote::NoReply) << false << QByteArray() << QStringList{};
    }
    void logAndChartAreSinks() {
        QFETCH(int, note);
        QFETCH(bool, read);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, steps);
        struct Recorder : RecordingView {
            void AppendReply(const QByteArray& bytes) override { Step(QString::fromLatin1(bytes)); }
        } view;
        view.picture = chart::NewChartPicture();
        acquisition::LogSink log(view);
        acquisition::ChartPainter chart(view, [&view] { return view.settings; }, [] { return std::uint16_t(0); });
        acquisition::DecodedSample sample;
        sample.note = SampleNote(note);
        if (read)
            sample.reply = reply;
        device::RxBufferBytes rx{};
        std::copy(reply.begin(), reply.end(), rx.begin());
        sample.frame = acquisition::DecodeReply(rx);
        sample.x = 31;
        QVERIFY(log.Take(sample));
        QVERIFY(chart.Take(sample));
        QCOMPARE(view.steps, steps);
        // AD0 4.20 V at row 90 of column 31, in the chart's default green.
        QCOMPARE(QColor(view.picture.pixel(31, 90)) == QColor(0, 128, 0), steps.contains("plot"));
    }
};

QTEST_MAIN(TestSession)
#include "test_session.moc"
