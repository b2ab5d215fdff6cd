// The checked front end, the same over every way: handles it never opened, or let
// go, fail every call without harm and leave the caller's counts at zero, and
// arguments are refused before any way sees them.
#include "device/backends/auto_backend.h"
#include "device/backends/d2xx_library_backend.h"
#include "device/backends/libftdi_backend.h"
#include "device/backends/serial_choice_backend.h"
#include "device/backends/tty_backend.h"
#include "device/simulated_unit.h"
#include "pty_pair.h"
#include "unopened_handle.h"

#include <QTest>

using device::CheckedD2xx;

namespace {

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;

// A way by name: "none", "sim", "tty" (on `pty`), "ftdi", "d2xx" (the stand-in library),
// "auto" (the stand-in library, then the terminal), "chosen" (the simulated unit by its serial number).
std::unique_ptr<device::Backend> MakeWay(const QString& name, const PtyPair& pty) {
    if (name == "sim")
        return std::make_unique<device::SimulatedUnit>();
    if (name == "tty")
        return device::TtyBackend::ForPort(pty.Path());
    if (name == "ftdi")
        return std::make_unique<device::LibFtdiBackend>();
    if (name == "d2xx")
        return std::make_unique<device::D2xxLibraryBackend>(FAKE_FTD2XX_PATH);
    if (name == "auto") {
        std::vector<device::AutoBackend::Candidate> candidates;
        candidates.push_back({"d2xx", MakeWay("d2xx", pty)});
        candidates.push_back({"tty", MakeWay("tty", pty)});
        return std::make_unique<device::AutoBackend>(std::move(candidates));
    }
    if (name == "chosen")
        return std::make_unique<device::SerialChoiceBackend>(MakeWay("sim", pty), "SIM00001");
    return nullptr;
}

FT_HANDLE OpenUnitZero(CheckedD2xx& link) {
    char serial[64] = {};
    FT_HANDLE handle = nullptr;
    if (link.ListDevices(0, serial, kListFlags) == FT_OK)
        link.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle);
    return handle;
}

} // namespace

class FrontEndTest : public QObject {
    Q_OBJECT

private slots:
    void UnusableHandlesFailEveryCall_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("handle");
        for (const char* way : {"none", "sim", "tty", "ftdi", "d2xx", "auto", "chosen"})
            for (const char* handle : {"zero", "never handed out"})
                QTest::addRow("%s, %s", way, handle) << way << handle;
        for (const char* way : {"sim", "tty", "d2xx", "auto", "chosen"})
            QTest::addRow("%s, let go", way) << way << "let go";
    }
    void UnusableHandlesFailEveryCall() {
        QFETCH(QString, way);
        QFETCH(QString, handle);
        PtyPair pty;
        QVERIFY(pty.Valid());
        CheckedD2xx link(MakeWay(way, pty));
        FT_HANDLE h = handle == "never handed out" ? reinterpret_cast<FT_HANDLE>(0x1234) : nullptr;
        if (handle == "let go") {
            h = OpenUnitZero(link);
            QVERIFY2(h != nullptr, link.LastProblem());
            link.Close(h);
        }
        const QString faults = UnopenedHandleFaults(link, h);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
        QCOMPARE(link.UnitGone(h), std::string("no unit is open"));
    }

    void ArgumentsAreCheckedFirst_data() {
        QTest::addColumn<QString>("way");
        for (const char* way : {"sim", "tty", "d2xx"})
            QTest::newRow(way) << way;
    }
    void ArgumentsAreCheckedFirst() {
        QFETCH(QString, way);
        PtyPair pty;
        QVERIFY(pty.Valid());
        CheckedD2xx link(MakeWay(way, pty));
        const FT_HANDLE h = OpenUnitZero(link);
        QVERIFY2(h != nullptr, link.LastProblem());
        char serial[64] = {};
        QCOMPARE(link.ListDevices(0, nullptr, kListFlags), FT_INVALID_PARAMETER);
        QCOMPARE(link.ListDevices(0, serial, FT_LIST_BY_INDEX), FT_INVALID_PARAMETER);
        FT_HANDLE other = reinterpret_cast<FT_HANDLE>(0x1234);
        QCOMPARE(link.OpenEx(nullptr, FT_OPEN_BY_SERIAL_NUMBER, &other), FT_INVALID_PARAMETER);
        QCOMPARE(link.OpenEx("SIM00001", FT_OPEN_BY_SERIAL_NUMBER, nullptr), FT_INVALID_PARAMETER);
        QCOMPARE(link.OpenEx("SIM00001", 2, &other), FT_INVALID_PARAMETER);
        // A failed open leaves the handle the caller holds as it was.
        other = h;
        QCOMPARE(link.OpenEx("NOSUCHUNIT", FT_OPEN_BY_SERIAL_NUMBER, &other), FT_DEVICE_NOT_FOUND);
        QVERIFY(other == h);

        DWORD count = 99;
        QCOMPARE(link.Write(h, nullptr, 3, &count), FT_INVALID_PARAMETER);
        QCOMPARE(count, DWORD(0));
        count = 99;
        QCOMPARE(link.Read(h, nullptr, 3, &count), FT_INVALID_PARAMETER);
        QCOMPARE(count, DWORD(0));
        // Counts nobody asked for are not written.
        QCOMPARE(link.Write(h, "AL\r", 3, nullptr), FT_OK);
        QCOMPARE(link.GetStatus(h, nullptr, nullptr, nullptr), FT_OK);
        char buffer[4] = {};
        QCOMPARE(link.Read(h, buffer, sizeof buffer, nullptr), FT_OK);
        QCOMPARE(link.UnitGone(h), std::string());
    }
};

QTEST_GUILESS_MAIN(FrontEndTest)
#include "front_end_test.moc"
