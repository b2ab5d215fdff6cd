#include "device/backends/libftdi_backend.h"
#include "unopened_handle.h"

#include <QTest>

using device::LibFtdiBackend;

namespace {
constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
}

// There is no unit on the machines that build Tavrin, nor perhaps any USB access:
// what can be checked is that nothing then goes wrong.
class LibFtdiBackendTest : public QObject {
    Q_OBJECT

private slots:
    void ListsNothingWithoutAUnit() {
        LibFtdiBackend backend;
        char serial[64] = {};
        const FT_STATUS status = backend.ListDevices(0, serial, kListFlags);
        if (status == FT_OK)
            QSKIP("an FTDI unit is attached to this machine");
        QCOMPARE(status, FT_DEVICE_NOT_FOUND);
        QVERIFY(QByteArray(backend.LastProblem()).size() > 0);
        // Asking twice must work the same (each look starts USB afresh).
        QCOMPARE(backend.ListDevices(0, serial, kListFlags), FT_DEVICE_NOT_FOUND);
    }

    void OpeningAnUnknownSerialNumberFails() {
        LibFtdiBackend backend;
        FT_HANDLE handle = nullptr;
        QCOMPARE(backend.OpenEx("NO-SUCH-UNIT", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
        QVERIFY(handle == nullptr);
        QVERIFY(QByteArray(backend.LastProblem()).contains("NO-SUCH-UNIT"));
    }

    void UnopenedHandlesFailHarmlessly_data() {
        QTest::addColumn<quintptr>("handle");
        QTest::newRow("zero, as left by a failed connection") << quintptr(0);
        QTest::newRow("never handed out") << quintptr(0x1234);
    }
    void UnopenedHandlesFailHarmlessly() {
        QFETCH(quintptr, handle);
        LibFtdiBackend backend;
        const QString faults = UnopenedHandleFaults(backend, reinterpret_cast<FT_HANDLE>(handle));
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }
};

QTEST_GUILESS_MAIN(LibFtdiBackendTest)
#include "libftdi_backend_test.moc"
