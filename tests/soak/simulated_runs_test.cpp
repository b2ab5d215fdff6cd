// Long runs of the window against a simulated unit that misbehaves at random:
// replies in pieces, garbage, bursts longer than one read, short silences, and
// the run's three ends (STOP, a silent unit, the unit pulled out). Continuous
// measurement and auto-save are on at sampling time 1, so thousands of samples
// pass; every saved log file is checked against what was read, and memory must
// stay flat from sweep to sweep. Driven tick by tick on a virtual clock.
#include "acquisition/session.h"
#include "app/log_pane/log_view.h"
#include "output/run_header.h"
#include "tests/soak/resident_memory.h"
#include "tests/soak/sweep_log_oracle.h"
#include "tests/support/form_fixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <map>

using std::chrono::milliseconds;

namespace {

const QDateTime kFixtureNow(QDate(2026, 12, 7), QTime(10, 20, 30)); // the FormFixture's clock
const QString kBaseName = QStringLiteral("tavrin");
constexpr long kTicksPerRunLimit = 400'000; // far beyond any run here: past it the run is taken as hung

// How a run is brought to its end.
enum class Ending {
    Stop,              // STOP once the unit has had `at` requests
    StopInSavePause,   // STOP in the pause between the two sweep files, from request `at` on
    Silence,           // the unit answers nothing from request `at` on
    SilenceAfterSave,  // the unit answers nothing once the first sweep has been saved
    Unplug,            // the unit is pulled out once it has had `at` requests
    UnplugInReplyWait, // pulled out while a reply is awaited, from request `at` on
    UnplugInSavePause, // pulled out in the pause between the two sweep files, from request `at` on
};

bool EndsByTimeout(Ending ending) {
    return ending != Ending::Stop && ending != Ending::StopInSavePause;
}

// A fault mix by name, so that the data rows read as what they try.
device::UnitFaults Mix(const QString& name, std::uint32_t seed) {
    device::UnitFaults f;
    f.randomSeed = seed;
    if (name == QLatin1String("pieces and short silences")) {
        f.piecesChance = 0.3;
        f.shortSilenceChance = 0.05;
    } else if (name == QLatin1String("garbage")) {
        f.garbageChance = 0.05;
        f.piecesChance = 0.1;
    } else if (name == QLatin1String("bursts over 255 bytes")) {
        f.burstChance = 0.05;
        f.piecesChance = 0.1;
    } else { // everything
        f.piecesChance = 0.2;
        f.garbageChance = 0.03;
        f.burstChance = 0.03;
        f.shortSilenceChance = 0.03;
    }
    return f;
}

device::SimulatedUnitOptions UnitWith(const device::UnitFaults& faults) {
    device::SimulatedUnitOptions options;
    options.faults = faults;
    return options;
}

// One window on one simulated unit, set for long unattended runs: sampling time 1,
// continuous measurement and auto-save, sweep files in a temporary current folder.
// It follows every read, checks each sweep's files once the run has moved past
// them, and keeps the log store's size during each sweep and the resident set
// just after each save.
class SoakRig {
public:
    explicit SoakRig(const device::UnitFaults& faults)
        : fx(UnitWith(faults)), oracle([this](quint16 index) {
              return output::RunHeaderLines(kFixtureNow, QLocale(), fx.form->Edit2->text(), kBaseName, index);
          }) {
        QDir::setCurrent(fx.folder.path());
        fx.Show();
        TForm1& form = *fx.form;
        form.SamplingTime = 1;
        form.Edit2->setText(QStringLiteral("1"));
        form.CheckBox5->setChecked(true);
        form.CheckBox6->setChecked(true);
        fx.sim->SetReadObserver([this](std::string_view bytes) { oracle.Read(fx.form->FileIndex, bytes); });
        fx.pump.afterTick = [this](long tick) { AfterTick(tick); };
    }

    // One START; `action` runs after every tick and brings the run to its end.
    void Run(std::function<void(long tick)> action) {
        action_ = std::move(action);
        oracle.Restart();
        lastIndex_ = 0;
        ticksThisRun_ = 0;
        requestsAtStart = fx.sim->Requests();
        beepsAtStart = fx.beeps;
        frameErrorsAtStart = oracle.FrameErrors();
        readsAtStart = oracle.Reads();
        fx.Run();
        problems += oracle.CheckSavedBelow(fx.form->FileIndex, QDir::current(), kBaseName);
        action_ = {};
    }

    // Beeps the run should have given: one per frame error, one per continuous
    // restart (each saved sweep), one for STOP and one for a time-out.
    int ExpectedBeeps(bool stopped, bool timedOut) const {
        return int(oracle.FrameErrors() - frameErrorsAtStart) + fx.form->FileIndex + int(stopped) +
               int(timedOut);
    }
    bool InSavePause() const { return fx.form->Label3->text() == acquisition::kStatusSweepEnd; }
    // Each exchange makes one request and, unless it times out, one read.
    bool AwaitingReply() const { return long(RunRequests()) > oracle.Reads() - readsAtStart; }
    unsigned RunRequests() const { return fx.sim->Requests() - requestsAtStart; }

    testing::FormFixture fx;
    soak::SweepLogOracle oracle;
    QStringList problems;
    std::map<quint16, std::size_t> logPeak;       // the log store's largest size during each sweep
    std::map<quint16, std::size_t> residentAfter; // the resident set just after each sweep's save
    unsigned requestsAtStart = 0;
    int beepsAtStart = 0;
    long frameErrorsAtStart = 0;
    long readsAtStart = 0;

private:
    void AfterTick(long tick) {
        TForm1& form = *fx.form;
        std::size_t& peak = logPeak[form.FileIndex];
        peak = std::max(peak, form.Memo1->Store().MemoryBytes());
        if (form.FileIndex != lastIndex_) {
            problems += oracle.CheckSavedBelow(form.FileIndex, QDir::current(), kBaseName);
            residentAfter[form.FileIndex] = soak::ResidentBytes();
            lastIndex_ = form.FileIndex;
        }
        if (action_)
            action_(tick);
        if (++ticksThisRun_ == kTicksPerRunLimit) {
            problems << QStringLiteral("the run was still going after %1 ticks").arg(kTicksPerRunLimit);
            form.Button4Click();
        }
    }

    std::function<void(long)> action_;
    quint16 lastIndex_ = 0;
    long ticksThisRun_ = 0;
};

// Runs once to the given end and checks that the run ended as it should: the
// right status and result, the right beeps, every saved file and the log as it
// stands holding exactly what was read.
void RunToEnding(SoakRig& rig, Ending ending, unsigned at) {
    TForm1& form = *rig.fx.form;
    bool acted = false;
    long actedAtTick = 0;
    long readsWhenActed = 0;
    rig.Run([&](long tick) {
        if (acted || rig.RunRequests() < at)
            return;
        switch (ending) {
        case Ending::Stop:
            form.Button4Click();
            break;
        case Ending::StopInSavePause:
            if (!rig.InSavePause())
                return;
            form.Button4Click();
            break;
        case Ending::Silence:
            rig.fx.sim->Faults().longSilenceChance = 1.0;
            break;
        case Ending::SilenceAfterSave:
            if (form.FileIndex == 0 || rig.InSavePause())
                return;
            rig.fx.sim->Faults().longSilenceChance = 1.0;
            break;
        case Ending::Unplug:
            rig.fx.sim->Unplug();
            break;
        case Ending::UnplugInReplyWait:
            if (!rig.AwaitingReply())
                return;
            rig.fx.sim->Unplug();
            break;
        case Ending::UnplugInSavePause:
            if (!rig.InSavePause())
                return;
            rig.fx.sim->Unplug();
            break;
        }
        acted = true;
        actedAtTick = tick;
        readsWhenActed = rig.oracle.Reads();
    });
    const long endTick = rig.fx.pump.Ticks();
    const bool timedOut = EndsByTimeout(ending);

    QVERIFY2(acted, "the run ended before the test could end it");
    QVERIFY2(rig.problems.isEmpty(), qPrintable(rig.problems.join(QLatin1Char('\n'))));
    QCOMPARE(form.LastRunEnd(), timedOut ? TForm1::LastRun::TimedOut : TForm1::LastRun::Normal);
    QCOMPARE(form.Label3->text(), timedOut ? acquisition::kStatusNoResponse : acquisition::kStatusFinished);
    QCOMPARE(form.Acquiring, std::uint8_t(0));
    QVERIFY(form.Button3->isEnabled());
    QCOMPARE(rig.fx.beeps - rig.beepsAtStart, rig.ExpectedBeeps(!timedOut, timedOut));
    const bool unplugged =
        ending == Ending::Unplug || ending == Ending::UnplugInReplyWait || ending == Ending::UnplugInSavePause;
    // A unit that went away is named after what was read.
    const QByteArray expectedLog = rig.oracle.Expected(form.FileIndex) +
                                   (unplugged ? QByteArray("unit unplugged: the simulated unit was unplugged\r\n")
                                              : QByteArray());
    const QString logDifference = soak::FirstDifference(expectedLog, form.Memo1->Store().FileBytes());
    QVERIFY2(logDifference.isEmpty(), qPrintable(QStringLiteral("the log: ") + logDifference));

    const auto sinceLastRequest = rig.fx.pump.Now() - rig.fx.sim->RequestTimes().back();
    switch (ending) {
    case Ending::Stop:
        break;
    case Ending::StopInSavePause:
    case Ending::UnplugInSavePause:
        // The save went through, the continuous restart too, and nothing was read after it.
        QVERIFY(form.FileIndex >= 1);
        QCOMPARE(form.SweepX, std::uint16_t(0));
        QCOMPARE(form.Memo1->Store().LineCount(), qsizetype(ending == Ending::UnplugInSavePause ? 4 : 3));
        if (ending == Ending::UnplugInSavePause)
            QVERIFY(endTick - actedAtTick > 10 && endTick - actedAtTick <= 20);
        break;
    case Ending::Silence:
    case Ending::SilenceAfterSave:
        // The reply wait gave up on the 10th tick after the last request, with too little queued.
        QVERIFY(sinceLastRequest >= milliseconds(900) && sinceLastRequest <= milliseconds(1000));
        QVERIFY(rig.fx.sim->ReceiveQueueSize() <= 20);
        break;
    case Ending::Unplug:
        QCOMPARE(rig.oracle.Reads(), readsWhenActed);
        QVERIFY(endTick - actedAtTick >= 1 && endTick - actedAtTick <= 20);
        break;
    case Ending::UnplugInReplyWait:
        // The request in flight was the last; its wait ran its full ten ticks.
        QCOMPARE(rig.oracle.Reads(), readsWhenActed);
        QVERIFY(sinceLastRequest >= milliseconds(900) && sinceLastRequest <= milliseconds(1000));
        QVERIFY(endTick - actedAtTick < 10);
        break;
    }
}

} // namespace

class SimulatedRunsTest : public QObject {
    Q_OBJECT

private slots:
    // Ten sweeps in one continuous run, each saved, against a unit with one mix of faults.
    void twelveSweepsSavedByteForByteWithFlatMemory_data() {
        QTest::addColumn<QString>("mix");
        QTest::addColumn<uint>("seed");
        QTest::newRow("pieces and short silences") << QStringLiteral("pieces and short silences") << 11u;
        QTest::newRow("garbage") << QStringLiteral("garbage") << 12u;
        QTest::newRow("bursts over 255 bytes") << QStringLiteral("bursts over 255 bytes") << 13u;
        QTest::newRow("everything") << QStringLiteral("everything") << 14u;
    }
    void twelveSweepsSavedByteForByteWithFlatMemory() {
        QFETCH(QString, mix);
        QFETCH(uint, seed);
        SoakRig rig(Mix(mix, seed));
        TForm1& form = *rig.fx.form;
        bool stopped = false;
        rig.Run([&](long) {
            if (!stopped && form.FileIndex >= 12) {
                stopped = true;
                form.Button4Click();
            }
        });

        QVERIFY2(rig.problems.isEmpty(), qPrintable(rig.problems.join(QLatin1Char('\n'))));
        QCOMPARE(form.LastRunEnd(), TForm1::LastRun::Normal);
        QCOMPARE(form.Label3->text(), acquisition::kStatusFinished);
        QCOMPARE(form.FileIndex, std::uint16_t(12));
        QCOMPARE(rig.oracle.FilesChecked(), 12);
        QCOMPARE(rig.fx.beeps - rig.beepsAtStart, rig.ExpectedBeeps(true, false));
        const QString logDifference =
            soak::FirstDifference(rig.oracle.Expected(form.FileIndex), form.Memo1->Store().FileBytes());
        QVERIFY2(logDifference.isEmpty(), qPrintable(QStringLiteral("the log: ") + logDifference));

        // The log is emptied at every save, so the tenth sweep needs no more room than the second.
        const std::size_t second = rig.logPeak[1];
        const std::size_t tenth = rig.logPeak[9];
        QVERIFY(second > 0);
        QVERIFY2(
            tenth <= second + 64 * 1024 && tenth < 1024 * 1024,
            qPrintable(
                QStringLiteral("log store: %1 bytes in sweep 2, %2 in sweep 10").arg(second).arg(tenth)));
        // The resident set from the fourth sweep on: the first sweeps fill Qt's and fontconfig's caches
        // (a garbled reply brings glyphs of its own to the log pane), which then change little.
        const std::size_t residentAfterSecond = rig.residentAfter[4];
        const std::size_t residentAfterTenth = rig.residentAfter[12];
        if (soak::kResidentSetMeaningful && residentAfterSecond > 0)
            QVERIFY2(residentAfterTenth <= residentAfterSecond + 2 * 1024 * 1024,
                     qPrintable(QStringLiteral(
                                    "resident set grew from %1 KiB after sweep 4 to %2 KiB after sweep 12")
                                    .arg(residentAfterSecond / 1024)
                                    .arg(residentAfterTenth / 1024)));

        qInfo(
            "%s: %u requests, %ld reads (%ld frame errors), %d sweeps saved and their files checked; "
            "log store %zu bytes in sweep 2, %zu in sweep 10; resident %zu KiB after sweep 4, %zu KiB after "
            "sweep 12",
            qPrintable(mix), rig.RunRequests(), rig.oracle.Reads(), rig.oracle.FrameErrors(),
            rig.oracle.FilesChecked(), second, tenth, residentAfterSecond / 1024, residentAfterTenth / 1024);
    }

    // Each way a run can end, at different points and under every fault at once.
    void runEndsAsItShould_data() {
        QTest::addColumn<int>("ending");
        QTest::addColumn<uint>("at");
        QTest::addColumn<uint>("seed");
        QTest::newRow("STOP mid-sweep") << int(Ending::Stop) << 1500u << 21u;
        QTest::newRow("STOP in the save pause") << int(Ending::StopInSavePause) << 1000u << 22u;
        QTest::newRow("silent unit mid-sweep") << int(Ending::Silence) << 1700u << 23u;
        QTest::newRow("silent unit right after a save") << int(Ending::SilenceAfterSave) << 0u << 24u;
        QTest::newRow("unplugged mid-sweep") << int(Ending::Unplug) << 1300u << 25u;
        QTest::newRow("unplugged during a reply wait") << int(Ending::UnplugInReplyWait) << 900u << 26u;
        QTest::newRow("unplugged in the save pause") << int(Ending::UnplugInSavePause) << 1000u << 27u;
    }
    void runEndsAsItShould() {
        QFETCH(int, ending);
        QFETCH(uint, at);
        QFETCH(uint, seed);
        SoakRig rig(Mix(QStringLiteral("everything"), seed));
        RunToEnding(rig, Ending(ending), at);
        if (QTest::currentTestFailed())
            return;
        qInfo("%u requests, %ld reads (%ld frame errors), %d sweep files checked, ended with \"%s\"",
              rig.RunRequests(), rig.oracle.Reads(), rig.oracle.FrameErrors(), rig.oracle.FilesChecked(),
              qPrintable(rig.fx.form->Label3->text()));
    }

    // A unit that now and then does not answer at all, among every other fault. A
    // silence ends the run only when nothing is left to come from earlier requests
    // (a late reply is read in its place); then the time-out comes 10 whole ticks
    // after that request (a request sent between two ticks, at START, has the rest
    // of its tick on top), and never after one that was answered. Run after run,
    // until one lasts long enough to be stopped.
    void randomLongSilencesEndRunsOnTime() {
        device::UnitFaults faults = Mix(QStringLiteral("everything"), 51);
        faults.longSilenceChance = 0.01;
        SoakRig rig(faults);
        TForm1& form = *rig.fx.form;
        const device::UnitModel unit(faults);
        int runs = 0;
        int timeouts = 0;
        while (rig.fx.sim->Requests() < 8000 && runs < 100) {
            bool stopped = false;
            rig.Run([&](long) {
                if (!stopped && rig.RunRequests() >= 2500) {
                    stopped = true;
                    form.Button4Click();
                }
            });
            ++runs;
            QVERIFY2(rig.problems.isEmpty(), qPrintable(rig.problems.join(QLatin1Char('\n'))));
            QCOMPARE(rig.fx.beeps - rig.beepsAtStart, rig.ExpectedBeeps(stopped, !stopped));
            const QString logDifference =
                soak::FirstDifference(rig.oracle.Expected(form.FileIndex), form.Memo1->Store().FileBytes());
            QVERIFY2(logDifference.isEmpty(), qPrintable(QStringLiteral("the log: ") + logDifference));
            if (stopped) {
                QCOMPARE(form.LastRunEnd(), TForm1::LastRun::Normal);
                QCOMPARE(form.Label3->text(), acquisition::kStatusFinished);
                continue;
            }
            ++timeouts;
            QCOMPARE(form.LastRunEnd(), TForm1::LastRun::TimedOut);
            QCOMPARE(form.Label3->text(), acquisition::kStatusNoResponse);
            QVERIFY(unit.DrawFor(rig.fx.sim->Requests() - 1).longSilence);
            const auto sinceLastRequest = rig.fx.pump.Now() - rig.fx.sim->RequestTimes().back();
            QVERIFY(sinceLastRequest >= milliseconds(1000) && sinceLastRequest <= milliseconds(1100));
        }
        QVERIFY(timeouts >= 3);
        qInfo(
            "%d runs (%d ended by a silent unit), %u requests, %ld reads (%ld frame errors), %d sweep files "
            "checked",
            runs, timeouts, rig.fx.sim->Requests(), rig.oracle.Reads(), rig.oracle.FrameErrors(),
            rig.oracle.FilesChecked());
    }

    // Runs one after another on the same unit: each START begins the log and the
    // file numbers afresh, and the first sweep of each run overwrites file 0.
    void everyStartBeginsAfresh() {
        SoakRig rig(Mix(QStringLiteral("everything"), 31));
        const struct {
            Ending ending;
            unsigned at;
        } runs[] = {
            {Ending::Stop, 1400}, {Ending::Silence, 900}, {Ending::StopInSavePause, 0}, {Ending::Stop, 900}};
        int filesChecked = 0;
        for (const auto& run : runs) {
            rig.fx.sim->Faults().longSilenceChance = 0.0;
            RunToEnding(rig, run.ending, run.at);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(rig.fx.form->Memo1->Store().LineText(2),
                     QStringLiteral("FileName = tavrin%1").arg(rig.fx.form->FileIndex));
            QVERIFY(rig.oracle.FilesChecked() > filesChecked);
            filesChecked = rig.oracle.FilesChecked();
        }
        qInfo("4 runs, %u requests, %ld reads, %d sweep files checked, file 0 overwritten by each run",
              rig.fx.sim->Requests(), rig.oracle.Reads(), rig.oracle.FilesChecked());
    }
};

QTEST_MAIN(SimulatedRunsTest)
#include "simulated_runs_test.moc"
