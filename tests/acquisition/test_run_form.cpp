// Whole runs of the window on the simulated unit, driven tick by tick.
#include "app/log_pane/log_view.h"
#include "tests/support/form_fixture.h"
#include "trend/trend_window.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using testing::FormFixture;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

// A started fixture with the given sampling time and continuous box.
void Prepare(FormFixture& fx, std::uint16_t samplingTime, bool continuous) {
    fx.Show();
    fx.form->SamplingTime = samplingTime;
    fx.form->Edit2->setText(QString::number(samplingTime));
    fx.form->CheckBox5->setChecked(continuous);
}

} // namespace

class TestRunForm : public QObject {
    Q_OBJECT

private slots:
    void requestsAreSamplingTimeTicksApart_data() {
        QTest::addColumn<int>("samplingTime");
        QTest::newRow("1") << 1;
        QTest::newRow("3") << 3;
        QTest::newRow("10") << 10;
    }
    void requestsAreSamplingTimeTicksApart() {
        QFETCH(int, samplingTime);
        FormFixture fx;
        Prepare(fx, std::uint16_t(samplingTime), true);
        fx.pump.afterTick = [&](long) {
            if (fx.sim->Requests() >= 6)
                fx.form->Button4Click();
        };
        fx.Run();
        const auto& times = fx.sim->RequestTimes();
        QVERIFY(times.size() >= 6);
        for (std::size_t i = 1; i < times.size(); ++i)
            QCOMPARE((times[i] - times[i - 1]).count(), microseconds(milliseconds(100 * samplingTime)).count());
        QCOMPARE(fx.form->Label3->text(), QStringLiteral("データ取り込み終了"));
    }

    void aSweepHolds601FramesAndEndsAfterColumn600() {
        FormFixture fx;
        Prepare(fx, 1, false);
        fx.Run();
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
        QCOMPARE(fx.sim->Requests(), 601u);
        QCOMPARE(fx.form->Trend().LiveTrace()->Size(), std::size_t(601)); // each sample in the trend window too
        QCOMPARE(fx.form->SweepX, std::uint16_t(601));
        QCOMPARE(fx.form->Label3->text(), QStringLiteral("データ取り込み終了"));
        QVERIFY(fx.form->Button3->isEnabled());
        QCOMPARE(fx.form->Acquiring, std::uint8_t(0));
        // START pulsed RTS once and purged both queues (receive 0x01, transmit 0x02).
        QCOMPARE(fx.sim->RtsPulses(), 1);
        QCOMPARE(fx.sim->LastPurgeMask(), ULONG(0x03));
        const QStringList log = testing::LogLines(*fx.form);
        QCOMPARE(log.size(), 3 + 601);
        QCOMPARE(log[1], QStringLiteral("SamplingTime = 1* 0.1S"));
        QCOMPARE(log[2], QStringLiteral("FileName = tavrin0"));
        QCOMPARE(log[3], QString::fromStdString(device::UnitModel().ReplyFor(0)));
        // The chart keeps the full sweep: column 600 holds the last analog marks under the edge,
        // and the sweep's last digital marks stand in column 601.
        const QImage& chart = fx.form->Image1->Picture();
        QCOMPARE(chart.size(), QSize(609, 403));
        int marked = 0;
        for (int y = 310; y < 400; ++y)
            marked += chart.pixel(601, y) != qRgb(255, 255, 255);
        QVERIFY(marked > 0);
    }

    void frameErrorsDoNotCount() {
        FormFixture fx;
        Prepare(fx, 1, false);
        fx.sim->Faults().garbage = true;
        fx.pump.afterTick = [&](long tick) {
            if (tick == 5)
                fx.sim->Faults().garbage = false;
        };
        const int beepsBefore = fx.beeps;
        fx.Run();
        const int errors = int(fx.sim->Requests()) - 601;
        QVERIFY(errors >= 4);
        QCOMPARE(fx.form->SweepX, std::uint16_t(601));
        QCOMPARE(fx.beeps - beepsBefore, errors);   // one beep per frame error
        QCOMPARE(testing::LogLines(*fx.form).size(), 3 + 601 + errors);   // every reply read is logged
    }

    void continuousRestartBeepsClearsAndGoesOnIntoColumnZero() {
        FormFixture fx;
        Prepare(fx, 1, true);
        fx.pump.afterTick = [&](long) {
            if (fx.sim->Requests() == 604)
                fx.form->Button4Click();
        };
        const int beepsBefore = fx.beeps;
        fx.Run();
        QCOMPARE(fx.beeps - beepsBefore, 2);   // the restart and STOP
        QCOMPARE(fx.form->SweepX, std::uint16_t(3));
        // The cleared chart holds only the new sweep's first columns.
        const QImage& chart = fx.form->Image1->Picture();
        const QRgb ad0 = ToQColor(clGreen).rgb();
        int oldTrace = 0;
        for (int x = 10; x < 600; ++x)
            for (int y = 1; y < 300; ++y)
                oldTrace += chart.pixel(x, y) == ad0;
        QCOMPARE(oldTrace, 0);
    }

    void timeoutEndsTheRunWithABeep() {
        device::SimulatedUnitOptions unit;
        unit.faults.silentAfter = 3;
        FormFixture fx(unit);
        Prepare(fx, 1, true);
        const int beepsBefore = fx.beeps;
        fx.Run();
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::TimedOut);
        QCOMPARE(fx.form->Label3->text(), QStringLiteral("応答がありません"));
        QCOMPARE(fx.beeps - beepsBefore, 1);
        QVERIFY(fx.form->Button3->isEnabled());
        QCOMPARE(fx.form->SweepX, std::uint16_t(3));
    }

    void noUnitTimesOutOnTheFirstExchangeLeavingTheChartBlank() {
        device::SimulatedUnitOptions unit;
        unit.listed = false;
        FormFixture fx(unit);
        Prepare(fx, 10, true);
        fx.Run();
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::TimedOut);
        // START's request goes out between two ticks: its wait is the rest of that tick and 10 whole ones.
        QCOMPARE(fx.pump.Ticks(), 11L);
        const QImage& chart = fx.form->Image1->Picture();
        for (int x = 0; x < 600; x += 7)
            for (int y = 0; y < 400; y += 7)
                QCOMPARE(chart.pixel(x, y), qRgb(255, 255, 255));
    }

    void stopDuringTheReplyWaitStillHandlesTheReply() {
        device::SimulatedUnitOptions unit;
        unit.faults.replyDelayUs = 250'000;   // 2.5 ticks
        FormFixture fx(unit);
        Prepare(fx, 10, true);
        fx.pump.afterTick = [&](long tick) {
            if (tick == 1)
                fx.form->Button4Click();
        };
        fx.Run();
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
        QCOMPARE(fx.form->SweepX, std::uint16_t(1));
        QCOMPARE(testing::LogLines(*fx.form).size(), 4);
        QCOMPARE(fx.form->Label3->text(), QStringLiteral("データ取り込み終了"));
    }

    void autoSaveWritesTheSweepFilesAndANewHeader() {
        FormFixture fx;
        Prepare(fx, 1, false);
        QDir::setCurrent(fx.folder.path());
        fx.form->CheckBox6->setChecked(true);
        fx.Run();
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
        QVERIFY(QFile::exists(fx.folder.filePath("tavrin0.bmp")));
        QFile text(fx.folder.filePath("tavrin0.txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray bytes = text.readAll();
        QVERIFY(bytes.contains("FileName = tavrin0\r\n"));
        QCOMPARE(bytes.count("AD0="), qsizetype(601));
        QCOMPARE(fx.form->FileIndex, std::uint16_t(1));
        QCOMPARE(testing::LogLines(*fx.form).size(), 3);
        QCOMPARE(testing::LogLines(*fx.form).at(2), QStringLiteral("FileName = tavrin1"));
    }

    void unwritableSweepFileEndsTheRunCleanly() {
        FormFixture fx;
        Prepare(fx, 1, true);
        QDir::setCurrent(fx.folder.path());
        fx.form->CheckBox6->setChecked(true);
        fx.form->Edit3->setText(QStringLiteral("no-such-folder/tavrin"));
        fx.Run();
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Error);
        QCOMPARE(fx.form->Acquiring, std::uint8_t(0));
        QVERIFY(fx.form->Button3->isEnabled());
        QVERIFY(fx.form->Label3->text() != QStringLiteral("データ取り込み終了"));
        // Nothing is lost: the log still holds the whole sweep, the index is unchanged.
        QCOMPARE(testing::LogLines(*fx.form).size(), 3 + 601);
        QCOMPARE(fx.form->FileIndex, std::uint16_t(0));
    }

    // A modal dialog runs its own loop; the tick and the unit's readiness go on under it, and so does
    // the run: samples at their pace, a sweep end with its files, STOP.
    void theRunGoesOnUnderADialog_data() {
        QTest::addColumn<int>("openAtTick");
        QTest::addColumn<int>("heldTicks");
        QTest::addColumn<bool>("autoSave");
        QTest::addColumn<int>("stopAtTick"); // 0: STOP only after the dialog
        QTest::addColumn<unsigned>("requestsWhileOpen");
        QTest::newRow("colour dialog held 5 s") << 10 << 50 << false << 0 << 51u;
        QTest::newRow("across a sweep end, with auto-save") << 580 << 50 << true << 0 << 42u;
        QTest::newRow("STOP while it is open") << 10 << 50 << false << 30 << 20u;
    }
    void theRunGoesOnUnderADialog() {
        QFETCH(int, openAtTick);
        QFETCH(int, heldTicks);
        QFETCH(bool, autoSave);
        QFETCH(int, stopAtTick);
        QFETCH(unsigned, requestsWhileOpen);
        FormFixture fx;
        Prepare(fx, 1, true);
        QDir::setCurrent(fx.folder.path());
        fx.form->CheckBox6->setChecked(autoSave);
        fx.colorDialog.answer = clRed;
        unsigned requestsAtOpen = 0;
        unsigned requestsAtClose = 0;
        bool runningAtClose = false;
        fx.colorDialog.whileOpen = [&] {
            requestsAtOpen = fx.sim->Requests();
            const long until = fx.pump.Ticks() + heldTicks;
            fx.pump.RunWhile([&] { return fx.pump.Ticks() < until; });
            requestsAtClose = fx.sim->Requests();
            runningAtClose = fx.form->RunInProgress();
        };
        fx.pump.afterTick = [&](long tick) {
            if (tick == openAtTick)
                fx.form->Button5Click();
            if (tick == stopAtTick || tick == 700)
                fx.form->Button4Click();
        };
        fx.Run();
        QCOMPARE(requestsAtClose - requestsAtOpen, requestsWhileOpen);
        QCOMPARE(runningAtClose, stopAtTick == 0);
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
        QCOMPARE(QFile::exists(fx.folder.filePath("tavrin0.txt")), autoSave);
        QCOMPARE(fx.form->Ad0Color, clRed); // the choice applies once the dialog closes
    }

    // A close during a run only marks the window as closing: the run goes on until STOP, and the
    // window closes as soon as it has ended.
    void closeDuringARunLeavesItGoingUntilItEnds() {
        FormFixture fx;
        Prepare(fx, 1, true);
        fx.form->show();
        bool closedDuringRun = true;
        fx.pump.afterTick = [&](long tick) {
            if (tick == 3) {
                closedDuringRun = fx.form->close();
                QVERIFY(fx.form->isVisible());
            }
            if (tick == 200) {
                QVERIFY(fx.form->isVisible());
                QCOMPARE(fx.form->Acquiring, std::uint8_t(1));
                fx.form->Button4Click();
            }
        };
        const int beepsBefore = fx.beeps;
        fx.Run();
        QVERIFY(!closedDuringRun);
        QCOMPARE(fx.pump.Ticks(), 200L);
        QCOMPARE(fx.beeps - beepsBefore, 1);   // STOP's beep
        QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
        QCOMPARE(fx.form->Label3->text(), QStringLiteral("データ取り込み終了"));
        QVERIFY(!fx.form->isVisible());   // closed as soon as the run ended
    }
};

QTEST_MAIN(TestRunForm)
#include "test_run_form.moc"
