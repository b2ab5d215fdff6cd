// START's look at the unit on the simulated unit: the same unit opened again, on
// the unit's line as the connection sets it and watched for loss like a first
// open, never another in its place; a unit the way was given by serial number is
// looked for even when it was not there at start-up.
#include "device/backends/serial_choice_backend.h"
#include "device/unit.h"
#include "device/simulated_unit.h"
#include "device/unit_reopen.h"

#include <QTest>

using device::UnitState;
Q_DECLARE_METATYPE(device::UnitState)

class TestUnitReopen : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        SetD2xxBackend(nullptr);
    }

    void checkBeforeARun_data() {
        QTest::addColumn<bool>("chosen"); // the way was given "SIM00001", as tty:SERIAL gives it
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<UnitState>("state");
        QTest::addColumn<QString>("sought");
        QTest::addColumn<long>("plugInAtTick"); // while START waits for it (0: no wait)
        QTest::newRow("still open") << false << "" << UnitState::Open << "" << 0L;
        QTest::newRow("unplugged, plugged in again")
            << false << "unplug, plug in" << UnitState::Reopened << "SIM00001" << 0L;
        QTest::newRow("another unit in its place")
            << false << "unplug, plug in SIM00002" << UnitState::ReopenFailed << "SIM00001" << 0L;
        QTest::newRow("not there at start-up") << false << "away" << UnitState::NeverListed << "" << 0L;
        QTest::newRow("chosen, not there yet")
            << true << "away" << UnitState::ReopenFailed << "SIM00001" << 0L;
        QTest::newRow("chosen, plugged in after start-up")
            << true << "away, plug in" << UnitState::Reopened << "SIM00001" << 0L;
        QTest::newRow("chosen, plugged in while waited for")
            << true << "away" << UnitState::ReopenFailed << "SIM00001" << 25L;
    }
    void checkBeforeARun() {
        QFETCH(bool, chosen);
        QFETCH(QString, meanwhile);
        QFETCH(UnitState, state);
        QFETCH(QString, sought);
        QFETCH(long, plugInAtTick);
        auto owned = std::make_unique<device::SimulatedUnit>();
        device::SimulatedUnit& sim = *owned;
        if (chosen)
            SetD2xxBackend(std::make_unique<device::SerialChoiceBackend>(std::move(owned), "SIM00001"));
        else
            SetD2xxBackend(std::move(owned));
        if (meanwhile.startsWith("away"))
            sim.Unplug();
        device::Unit unit;
        unit.Connect();
        if (meanwhile.startsWith("unplug"))
            sim.Unplug();
        if (meanwhile.contains("plug in"))
            sim.PlugIn(meanwhile.endsWith("SIM00002") ? "SIM00002" : "");

        const device::UnitCheck check = unit.CheckForRun();
        QCOMPARE(check.state, state);
        QCOMPARE(QString::fromStdString(check.serialNumber), sought);
        if (plugInAtTick > 0) {
            // Looked for once a second (every 10 ticks), as a run waiting for it looks.
            long tick = 0;
            bool found = false;
            while (!found && tick < 100) {
                ++tick;
                if (tick == plugInAtTick)
                    sim.PlugIn();
                if (tick % 10 == 0)
                    found = unit.LookFor();
            }
            QVERIFY(found);
            QCOMPARE(tick, 30L);
        }
        if (unit.Handle() == nullptr)
            return;
        // On the unit's line again (a chip plugged in afresh has forgotten it)...
        QCOMPARE(sim.Line().baud, ULONG(38400));
        QCOMPARE(int(sim.Line().wordLength), 8);
        QCOMPARE(int(sim.Line().stopBits), 0);
        QCOMPARE(int(sim.Line().parity), 0);
        // ...and watched for loss like a first open.
        QCOMPARE(CurrentD2xx().UnitGone(unit.Handle()), std::string());
        sim.Unplug();
        QCOMPARE(CurrentD2xx().UnitGone(unit.Handle()), std::string("the simulated unit was unplugged"));
    }
};

QTEST_GUILESS_MAIN(TestUnitReopen)
#include "test_unit_reopen.moc"
