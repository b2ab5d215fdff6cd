// The measurement exchange on the simulated unit, driven tick by tick and by the unit's readiness, as
// the run drives it.
#include "device/exchange.h"
#include "device/simulated_unit.h"
#include "tests/support/driven_exchange.h"

#include <QTest>

using device::ExchangeResult;
using device::SimulatedUnit;
Q_DECLARE_METATYPE(device::ExchangeResult)

namespace {

struct Rig {
    explicit Rig(device::UnitFaults faults = {}) {
        device::SimulatedUnitOptions options;
        options.faults = faults;
        auto sim = std::make_unique<SimulatedUnit>(options, [this] { return pump.Now(); });
        unit = sim.get();
        SetD2xxBackend(std::move(sim));
        CurrentD2xx().OpenEx("SIM00001", FT_OPEN_BY_SERIAL_NUMBER, &handle);
    }
    ~Rig() { SetD2xxBackend(nullptr); }
    ExchangeResult Exchange() { return exchange.Run(); }
    QByteArray Text() const { return QByteArray(reinterpret_cast<const char*>(rx.data())); }

    testing::DrivenLoop pump;
    SimulatedUnit* unit = nullptr;
    FT_HANDLE handle = nullptr;
    device::RxBufferBytes rx{};
    testing::DrivenExchange exchange{pump, handle, rx};
    std::int16_t& replyTicks = exchange.replyTicks;
};

} // namespace

class TestExchange : public QObject {
    Q_OBJECT

private slots:
    void quickReplyIsReadWithinOneTick() {
        Rig rig;
        QCOMPARE(rig.Exchange(), ExchangeResult::Replied);
        QCOMPARE(rig.exchange.readStatus, FT_OK);
        QCOMPARE(rig.Text(), QByteArray::fromStdString(device::UnitModel().ReplyFor(0)));
        QCOMPARE(rig.pump.Ticks(), 0L);   // woken by the unit's data, not by a tick
        QCOMPARE(rig.replyTicks, std::int16_t(10));
    }

    void shortReplyTimesOutAfterTenTicks_data() {
        QTest::addColumn<int>("frameBytes");
        QTest::newRow("silent") << 0;
        QTest::newRow("20 bytes") << 20;
    }
    void shortReplyTimesOutAfterTenTicks() {
        QFETCH(int, frameBytes);
        device::UnitFaults faults;
        faults.silentAfter = 0;
        Rig rig(faults);
        rig.unit->Inject(std::string(std::size_t(frameBytes), 'A'));
        QCOMPARE(rig.Exchange(), ExchangeResult::TimedOut);
        QCOMPARE(rig.pump.Ticks(), 10L);
        QCOMPARE(device::QueuedBytes(rig.handle), DWORD(frameBytes));
    }

    void replyQueuedWhenTheCountdownRunsOutIsTaken_data() {
        QTest::addColumn<int>("delayUs"); // -1: the unit stays silent
        QTest::addColumn<bool>("dialog"); // a modal dialog's own loop runs from tick 1 until the exchange ends
        QTest::addColumn<ExchangeResult>("result");
        QTest::addColumn<long>("ticks");
        // Under a dialog the unit's readiness is still seen: the reply is read when it comes.
        QTest::newRow("reply while a dialog is open") << 250'000 << true << ExchangeResult::Replied << 2L;
        QTest::newRow("silent while a dialog is open") << -1 << true << ExchangeResult::TimedOut << 10L;
        QTest::newRow("reply at the 10th tick") << 1'000'000 << false << ExchangeResult::Replied << 10L;
        QTest::newRow("reply after the 10th tick") << 1'050'000 << false << ExchangeResult::TimedOut << 10L;
    }
    void replyQueuedWhenTheCountdownRunsOutIsTaken() {
        QFETCH(int, delayUs);
        QFETCH(bool, dialog);
        QFETCH(ExchangeResult, result);
        QFETCH(long, ticks);
        device::UnitFaults faults;
        faults.replyDelayUs = std::max(delayUs, 0);
        faults.silentAfter = delayUs < 0 ? 0 : -1;
        Rig rig(faults);
        if (dialog)
            rig.pump.afterTick = [&](long tick) {
                if (tick == 1)
                    rig.pump.RunWhile([&] { return rig.exchange.result == ExchangeResult::Pending; });
            };
        QCOMPARE(rig.Exchange(), result);
        QCOMPARE(rig.pump.Ticks(), ticks);
        if (result == ExchangeResult::Replied)
            QCOMPARE(rig.Text(), QByteArray::fromStdString(device::UnitModel().ReplyFor(0)));
    }

    void replyInPiecesIsReadAtTheFirstCountAboveTwenty() {
        // 24 bytes in three pieces of 8: the read happens once 24 are queued.
        device::UnitFaults faults;
        faults.pieces = 3;
        faults.trailingBytes = 3;
        faults.replyDelayUs = 150'000;   // the pieces straddle a tick
        Rig rig(faults);
        QCOMPARE(rig.Exchange(), ExchangeResult::Replied);
        QCOMPARE(rig.Text().size(), 24);
        QCOMPARE(rig.pump.Ticks(), 1L);
    }

    void bytesBeyondTheReadStayQueuedForTheNextExchange() {
        device::UnitFaults faults;
        faults.trailingBytes = 300;   // a burst of 321 bytes
        Rig rig(faults);
        QCOMPARE(rig.Exchange(), ExchangeResult::Replied);
        QCOMPARE(rig.Text().size(), 255);
        QCOMPARE(rig.rx[255], std::uint8_t(0));
        QCOMPARE(device::QueuedBytes(rig.handle), DWORD(321 - 255));
        // What stayed queued is read by the next exchange, ahead of that exchange's reply.
        const QByteArray first = QByteArray::fromStdString(device::UnitModel(faults).ReplyFor(0));
        rig.unit->Faults().trailingBytes = 0;
        QCOMPARE(rig.Exchange(), ExchangeResult::Replied);
        QCOMPARE(rig.Text(), first.mid(255));
        QCOMPARE(rig.Exchange(), ExchangeResult::Replied);
        QCOMPARE(rig.Text(), QByteArray::fromStdString(device::UnitModel().ReplyFor(1)));
    }

    void failedStatusQueryCountsAsNothingQueued() {
        Rig rig;
        rig.unit->Unplug();
        QCOMPARE(device::QueuedBytes(rig.handle), DWORD(0));
        QCOMPARE(rig.Exchange(), ExchangeResult::TimedOut);
    }

    void unopenedHandleTimesOutHarmlessly() {
        Rig rig;
        rig.handle = nullptr;
        QCOMPARE(rig.Exchange(), ExchangeResult::TimedOut);
        QCOMPARE(rig.pump.Ticks(), 10L);
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "test_exchange.moc"
