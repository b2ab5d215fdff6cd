#include "device/backends/libftdi_backend.h"

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
        device::CheckedD2xx backend(std::make_unique<LibFtdiBackend>());
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
        device::CheckedD2xx backend(std::make_unique<LibFtdiBackend>());
        FT_HANDLE handle = nullptr;
        QCOMPARE(backend.OpenEx("NO-SUCH-UNIT", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
        QVERIFY(handle == nullptr);
        QVERIFY(QByteArray(backend.LastProblem()).contains("NO-SUCH-UNIT"));
    }
};

QTEST_GUILESS_MAIN(LibFtdiBackendTest)
#include "libftdi_backend_test.moc"
