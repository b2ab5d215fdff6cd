// The simulated unit behind the D2XX calls behaves like a unit. (Calls on handles
// never opened: the front end's test, for every way.)
#include "device/d2xx.h"
#include "device/simulated_unit.h"

#include <QTest>

class TestD2xxLayer : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetD2xxBackend(nullptr); }

    void simulatedUnitListsOpensAndAnswers() {
        device::SimulatedUnitOptions options;
        options.faults.replyDelayUs = 0;
        SetD2xxBackend(std::make_unique<device::SimulatedUnit>(options));
        char serial[64] = {};
        QCOMPARE(CurrentD2xx().ListDevices(0, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
        QCOMPARE(QByteArray(serial), QByteArray("SIM00001"));
        QVERIFY(CurrentD2xx().ListDevices(1, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) != FT_OK);
        FT_HANDLE h = nullptr;
        QCOMPARE(CurrentD2xx().OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
        QVERIFY(h != nullptr);
        DWORD n = 0, tx = 0, ev = 0;
        // A request split over two writes still counts once.
        CurrentD2xx().Write(h, "A", 1, &n);
        CurrentD2xx().Write(h, "L\r", 2, &n);
        QCOMPARE(CurrentD2xx().GetStatus(h, &n, &tx, &ev), FT_OK);
        QCOMPARE(n, DWORD(21));
        char reply[32] = {};
        QCOMPARE(CurrentD2xx().Read(h, reply, 10, &n), FT_OK);
        QCOMPARE(n, DWORD(10));
        CurrentD2xx().GetStatus(h, &n, &tx, &ev);
        QCOMPARE(n, DWORD(11));
        // Purging the receive queue drops what is queued.
        CurrentD2xx().Purge(h, FT_PURGE_RX | FT_PURGE_TX);
        CurrentD2xx().GetStatus(h, &n, &tx, &ev);
        QCOMPARE(n, DWORD(0));
    }

    void simulatedUnitKnobs_data() {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("openRefused");
        QTest::addColumn<FT_STATUS>("listStatus");
        QTest::addColumn<FT_STATUS>("openStatus");
        QTest::newRow("no device") << false << false << FT_DEVICE_NOT_FOUND << FT_DEVICE_NOT_FOUND;
        QTest::newRow("open refused") << true << true << FT_OK << FT_DEVICE_NOT_OPENED;
        QTest::newRow("normal") << true << false << FT_OK << FT_OK;
    }
    void simulatedUnitKnobs() {
        QFETCH(bool, listed);
        QFETCH(bool, openRefused);
        QFETCH(FT_STATUS, listStatus);
        QFETCH(FT_STATUS, openStatus);
        device::SimulatedUnitOptions options;
        options.listed = listed;
        options.openRefused = openRefused;
        SetD2xxBackend(std::make_unique<device::SimulatedUnit>(options));
        char serial[64] = {};
        QCOMPARE(CurrentD2xx().ListDevices(0, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), listStatus);
        FT_HANDLE h = nullptr;
        QCOMPARE(CurrentD2xx().OpenEx("SIM00001", FT_OPEN_BY_SERIAL_NUMBER, &h), openStatus);
    }
};

QTEST_GUILESS_MAIN(TestD2xxLayer)
#include "test_d2xx_layer.moc"
