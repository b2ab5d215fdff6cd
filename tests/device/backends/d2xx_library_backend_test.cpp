#include "device/backends/d2xx_library_backend.h"
#include "unopened_handle.h"

#include <QTest>

#include <dlfcn.h>

using device::D2xxLibraryBackend;

namespace {

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;

// Reads one of the stand-in's test counters (the library is already loaded by the backend).
unsigned FakeCounter(const char* name) {
    void* module = ::dlopen(FAKE_FTD2XX_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr)
        return 9999;
    const auto counter = reinterpret_cast<unsigned (*)()>(::dlsym(module, name));
    const unsigned value = counter ? counter() : 9999;
    ::dlclose(module);
    return value;
}

} // namespace

class D2xxLibraryBackendTest : public QObject {
    Q_OBJECT

private slots:
    void ExchangesThroughTheLibrary() {
        auto library = std::make_unique<D2xxLibraryBackend>(FAKE_FTD2XX_PATH);
        QVERIFY2(library->Loaded(), library->Problem().c_str());
        device::CheckedD2xx backend(std::move(library));
        char serial[64] = {};
        QCOMPARE(backend.ListDevices(0, serial, kListFlags), FT_OK);
        QCOMPARE(QByteArray(serial), QByteArray("FAKE0001"));
        QCOMPARE(backend.ListDevices(1, serial, kListFlags), FT_DEVICE_NOT_FOUND);

        FT_HANDLE handle = nullptr;
        QCOMPARE(backend.OpenEx("NOSUCHUNIT", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
        QVERIFY(handle == nullptr);
        QCOMPARE(backend.OpenEx("FAKE0001", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        QVERIFY(handle != nullptr);
        QCOMPARE(FakeCounter("FakeLatency"), 2u);
        QCOMPARE(backend.SetBaudRate(handle, 38400), FT_OK);
        QCOMPARE(FakeCounter("FakeBaud"), 38400u);
        QCOMPARE(backend.SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
        QCOMPARE(backend.SetRts(handle), FT_OK);
        QCOMPARE(backend.ClrRts(handle), FT_OK);
        QCOMPARE(backend.Purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);

        const char request[3] = {0x41, 0x4C, 0x0D};
        DWORD written = 0;
        QCOMPARE(backend.Write(handle, request, 3, &written), FT_OK);
        QCOMPARE(written, DWORD(3));
        // The library is not asked to cope with a missing count.
        QCOMPARE(backend.Write(handle, request, 3, nullptr), FT_OK);
        DWORD rx = 0;
        QCOMPARE(backend.GetStatus(handle, &rx, nullptr, nullptr), FT_OK);
        QCOMPARE(rx, DWORD(42));
        char buffer[256] = {};
        DWORD got = 0;
        QCOMPARE(backend.Read(handle, buffer, 21, &got), FT_OK);
        QCOMPARE(QByteArray(buffer, int(got)), QByteArray("AD0=123 V, AD1=456\x35\r\n"));

        const DataWakeup wakeup = backend.Wakeup(handle, 21);
        QCOMPARE(wakeup.fd, -1);
        QVERIFY(wakeup.pollMs > 0 && wakeup.pollMs <= 10);
    }

    void ForeignHandlesNeverReachTheLibrary_data() {
        QTest::addColumn<quintptr>("handle");
        QTest::newRow("zero, as left by a failed connection") << quintptr(0);
        QTest::newRow("never handed out") << quintptr(0x1234);
    }
    void ForeignHandlesNeverReachTheLibrary() {
        QFETCH(quintptr, handle);
        auto library = std::make_unique<D2xxLibraryBackend>(FAKE_FTD2XX_PATH);
        QVERIFY(library->Loaded());
        device::CheckedD2xx backend(std::move(library));
        const unsigned before = FakeCounter("FakeForeignHandleCalls");
        const QString faults = UnopenedHandleFaults(backend, reinterpret_cast<FT_HANDLE>(handle));
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
        QCOMPARE(FakeCounter("FakeForeignHandleCalls"), before);
    }

    void UnusableLibrariesListNothing_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QStringList>("mentions");
        QTest::newRow("missing") << "/nonexistent/libftd2xx.so"
                                 << QStringList{"could not be loaded", "/nonexistent/libftd2xx.so"};
        QTest::newRow("lacking FT_Read")
            << FAKE_FTD2XX_WITHOUT_READ_PATH << QStringList{"not a usable D2XX library", "lacks FT_Read"};
    }
    void UnusableLibrariesListNothing() {
        QFETCH(QString, library);
        QFETCH(QStringList, mentions);
        auto way = std::make_unique<D2xxLibraryBackend>(library.toStdString());
        QVERIFY(!way->Loaded());
        device::CheckedD2xx backend(std::move(way));
        char serial[64] = {};
        QCOMPARE(backend.ListDevices(0, serial, kListFlags), FT_DEVICE_NOT_FOUND);
        FT_HANDLE handle = nullptr;
        QCOMPARE(backend.OpenEx("FAKE0001", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
        QVERIFY(handle == nullptr);
        const QString problem = QString::fromUtf8(backend.LastProblem());
        for (const QString& mention : mentions)
            QVERIFY2(problem.contains(mention), qPrintable(problem));
        const QString faults = UnopenedHandleFaults(backend, nullptr);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }
};

QTEST_GUILESS_MAIN(D2xxLibraryBackendTest)
#include "d2xx_library_backend_test.moc"
