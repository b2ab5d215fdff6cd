// The unit at START and during a run: the same unit reopened after it went away
// (never another in its place), the reason in the log pane, and the unattended
// wait for it to come back, with the run record's notes.
#include "acquisition/session.h"
#include "app/log_pane/log_view.h"
#include "device/backends/tty_backend.h"
#include "pty_pair.h"
#include "tests/support/form_fixture.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using acquisition::SampleNote;
using testing::FormFixture;

namespace {

const QString kFinished = QStringLiteral("データ取り込み終了");
const QString kNoResponse = QStringLiteral("応答がありません");

// What the run record would be given, with the tick it came at.
struct RecordingSink : acquisition::SampleSink {
    const char* Module() const override { return "test"; }
    report::Done RunStarted(const acquisition::RunInfo&) override { return {}; }
    // Only the rows with a note: the samples themselves are the run record's tests' business.
    report::Done Take(const acquisition::DecodedSample& sample) override {
        if (sample.note == SampleNote::None)
            return {};
        samples.push_back(sample);
        ticks.push_back(pump ? pump->Ticks() : 0);
        return {};
    }
    const testing::DrivenLoop* pump = nullptr;
    std::vector<acquisition::DecodedSample> samples;
    std::vector<long> ticks;
};

// Plays the unit on a pseudo-terminal: a frame for every request asked since the last call.
void Answer(PtyPair& pty, int& requests) {
    while (pty.ReadMaster(3, 0).size() == 3 && pty.WriteMaster("AD0=123 V, AD1=456\x35\r\n"))
        ++requests;
}

} // namespace

class TestUnitLink : public QObject {
    Q_OBJECT

private slots:
    // START checks the unit first and reopens it, by serial number, when it went away. When it cannot,
    // the run starts all the same, says why after its header, and ends by the time-out.
    void startFindsTheSameUnitAgain_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("logAfterHeader");
        QTest::addColumn<bool>("ran");
        const QStringList gone{"unit unplugged: the simulated unit was unplugged",
                               "Unit SIM00001 could not be opened again"};
        QTest::newRow("still there") << "" << kFinished << QStringList() << true;
        QTest::newRow("unplugged") << "unplug" << kNoResponse << gone << false;
        QTest::newRow("plugged in again") << "unplug, plug in" << kFinished << QStringList() << true;
        QTest::newRow("another unit in its place") << "unplug, plug in SIM00002" << kNoResponse << gone << false;
    }
    void startFindsTheSameUnitAgain() {
        QFETCH(QString, meanwhile);
        QFETCH(QString, status);
        QFETCH(QStringList, logAfterHeader);
        QFETCH(bool, ran);
        FormFixture fx;
        fx.Show();
        if (meanwhile.startsWith("unplug"))
            fx.sim->Unplug();
        if (meanwhile.contains("plug in"))
            fx.sim->PlugIn(meanwhile.endsWith("SIM00002") ? "SIM00002" : "");
        fx.pump.afterTick = [&](long) {
            if (fx.sim->Requests() == 2)
                fx.form->Button4Click();
        };
        fx.Run();
        QCOMPARE(fx.form->Label3->text(), status);
        QCOMPARE(fx.beeps, 1); // STOP's, or the time-out's
        QCOMPARE(fx.sim->Requests(), ran ? 2u : 0u);
        QCOMPARE(fx.form->LastRunEnd(), ran ? TForm1::LastRun::Normal : TForm1::LastRun::TimedOut);
        const QStringList log = testing::LogLines(*fx.form);
        QCOMPARE(log.value(2), QStringLiteral("FileName = tavrin0"));
        if (!ran)
            QCOMPARE(log.mid(3), logAfterHeader);
    }

    // The terminal closed and a new one put at the same path: START polls the new one.
    void startPollsANewTerminalAtTheSamePath() {
        QTemporaryDir dir;
        const QString link = dir.filePath("unit");
        PtyPair first;
        QVERIFY(QFile::link(QString::fromStdString(first.Path()), link));
        FormFixture fx;
        SetD2xxBackend(device::TtyBackend::ForPort(link.toStdString()));
        fx.Show();
        QVERIFY(fx.form->Unit().Handle() != nullptr);

        first.CloseMaster();
        PtyPair second;
        QVERIFY(QFile::remove(link) && QFile::link(QString::fromStdString(second.Path()), link));
        int requests = 0;
        fx.pump.tick = [&] {
            fx.form->Timer1Timer();
            Answer(second, requests);
            if (requests >= 3)
                fx.form->Button4Click();
        };
        fx.Run();
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
        QCOMPARE(fx.form->Label3->text(), kFinished);
        QVERIFY(requests >= 3);
        QVERIFY2(testing::LogLines(*fx.form).contains(QStringLiteral("AD0=123 V, AD1=4565\r\n")),
                 qPrintable(testing::LogLines(*fx.form).join('|')));
    }

    // The unit is unplugged at the first tick after its 5th reply was drawn (`reopened`: it was also
    // unplugged and plugged in again before START, which opened it again).
    void runWhoseUnitVanishes_data() {
        QTest::addColumn<bool>("reopened");
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<QString>("pluggedIn"); // 45 ticks after the unplug
        QTest::addColumn<QString>("status");
        QTest::addColumn<QList<int>>("notes");
        // From "unit lost" to "unit back": the unit is looked for once a second (10 ticks).
        QTest::addColumn<long>("waitedTicks");
        QTest::newRow("without reconnect the time-out ends the run")
            << false << false << "SIM00001" << kNoResponse
            << QList<int>{int(SampleNote::UnitLost), int(SampleNote::NoReply)} << 0L;
        QTest::newRow("opened again at START, then lost: unit lost, not a time-out alone")
            << true << false << "SIM00001" << kNoResponse
            << QList<int>{int(SampleNote::UnitLost), int(SampleNote::NoReply)} << 0L;
        QTest::newRow("reconnect: the same unit comes back")
            << false << true << "SIM00001" << kFinished
            << QList<int>{int(SampleNote::UnitLost), int(SampleNote::UnitBack)} << 30L;
        QTest::newRow("reconnect: another unit is not taken, STOP ends the wait")
            << false << true << "SIM00002" << kFinished << QList<int>{int(SampleNote::UnitLost)} << 0L;
    }
    void runWhoseUnitVanishes() {
        QFETCH(bool, reopened);
        QFETCH(bool, reconnect);
        QFETCH(QString, pluggedIn);
        QFETCH(QString, status);
        QFETCH(QList<int>, notes);
        QFETCH(long, waitedTicks);
        RecordingSink sink;
        FormFixture fx({}, 100, [&](FormSeams& seams) {
            seams.reconnect = reconnect;
            seams.sampleSinks = {&sink};
        });
        sink.pump = &fx.pump;
        fx.Show();
        if (reopened) {
            fx.sim->Unplug();
            fx.sim->PlugIn();
        }
        fx.form->CheckBox5->setChecked(false);
        long unpluggedAt = 0;
        fx.pump.afterTick = [&](long tick) {
            if (fx.sim->Requests() == 5 && unpluggedAt == 0) {
                fx.sim->Unplug();
                unpluggedAt = tick;
            }
            if (unpluggedAt != 0 && tick == unpluggedAt + 45)
                fx.sim->PlugIn(pluggedIn.toStdString());
            if (fx.sim->Requests() == 8 || (unpluggedAt != 0 && tick == unpluggedAt + 100))
                fx.form->Button4Click();
        };
        fx.Run();
        QCOMPARE(fx.form->Label3->text(), status);
        QList<int> fed;
        for (const auto& sample : sink.samples) {
            fed << int(sample.note);
            QCOMPARE(sample.sweep, 0);
            QCOMPARE(sample.x, 5);
            QCOMPARE(sample.time, QDateTime(QDate(2026, 12, 7), QTime(10, 20, 30)));
        }
        QCOMPARE(fed, notes);
        QCOMPARE(reconnect && sink.ticks.size() == 2 ? sink.ticks[1] - sink.ticks[0] : 0L, waitedTicks);
        const QStringList log = testing::LogLines(*fx.form);
        QVERIFY(log.contains(QStringLiteral("unit unplugged: the simulated unit was unplugged")));
        const bool back = notes.contains(int(SampleNote::UnitBack));
        QCOMPARE(log.contains(QStringLiteral("unit back: SIM00001")), back);
        // Once back, the run went on to its 8th request; else nothing reached the unit after the 5th.
        QCOMPARE(fx.sim->Requests(), back ? 8u : 5u);
    }
};

QTEST_MAIN(TestUnitLink)
#include "test_unit_link.moc"
