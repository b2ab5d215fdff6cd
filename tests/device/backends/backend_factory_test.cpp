#include "device/backends/auto_backend.h"
#include "device/backends/backend_factory.h"
#include "device/backends/d2xx_library_backend.h"
#include "device/backends/libftdi_backend.h"
#include "device/backends/serial_choice_backend.h"
#include "device/backends/unit_list.h"
#include "device/backends/tty_backend.h"
#include "device/simulated_unit.h"
#include "unopened_handle.h"

#include <QTest>

using device::AutoBackend;
using device::MakeBackend;
using device::SimulatedUnit;
using device::SimulatedUnitOptions;

namespace {

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;

enum class Kind { Auto, Sim, Tty, LibFtdi, D2xx, ChosenBySerial };

bool IsKind(device::Backend* backend, Kind kind) {
    switch (kind) {
    case Kind::Auto:
        return dynamic_cast<AutoBackend*>(backend) != nullptr;
    case Kind::Sim:
        return dynamic_cast<SimulatedUnit*>(backend) != nullptr;
    case Kind::Tty:
        return dynamic_cast<device::TtyBackend*>(backend) != nullptr;
    case Kind::LibFtdi:
        return dynamic_cast<device::LibFtdiBackend*>(backend) != nullptr;
    case Kind::D2xx:
        return dynamic_cast<device::D2xxLibraryBackend*>(backend) != nullptr;
    case Kind::ChosenBySerial:
        return dynamic_cast<device::SerialChoiceBackend*>(backend) != nullptr;
    }
    return false;
}

// A simulated unit that lists, or does not, under `serial`; `out` keeps a view of it.
AutoBackend::Candidate Simulated(const std::string& name, bool listed, SimulatedUnit** out = nullptr) {
    SimulatedUnitOptions options;
    options.serialNumber = name + "-SERIAL";
    options.listed = listed;
    auto unit = std::make_unique<SimulatedUnit>(options);
    if (out)
        *out = unit.get();
    return {name, std::move(unit)};
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class BackendFactoryTest : public QObject {
    Q_OBJECT

private slots:
    void ValidSpecs_data() {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<Kind>("kind");
        QTest::newRow("auto") << "auto" << Kind::Auto;
        QTest::newRow("sim") << "sim" << Kind::Sim;
        QTest::newRow("tty") << "tty" << Kind::Tty;
        QTest::newRow("tty:PATH") << "tty:/dev/ttyUSB3" << Kind::Tty;
        QTest::newRow("tty: path with a colon") << "tty:/tmp/a:b" << Kind::Tty;
        QTest::newRow("ftdi") << "ftdi" << Kind::LibFtdi;
        QTest::newRow("d2xx") << "d2xx" << Kind::D2xx;
        QTest::newRow("d2xx:LIBRARY") << "d2xx:/opt/ftdi/libftd2xx.so.1.4.27" << Kind::D2xx;
        QTest::newRow("d2xx:LIBRARY by file name") << "d2xx:libftd2xx.so.1.4.27" << Kind::D2xx;
        QTest::newRow("a path on its own") << "/dev/serial/by-id/usb-FTDI_FT232R_A5XK3RJT-if00-port0" << Kind::Tty;
        QTest::newRow("tty:SERIAL") << "tty:A5XK3RJT" << Kind::ChosenBySerial;
        QTest::newRow("ftdi:SERIAL") << "ftdi:A5XK3RJT" << Kind::ChosenBySerial;
        QTest::newRow("d2xx:SERIAL") << "d2xx:A5XK3RJT" << Kind::ChosenBySerial;
        QTest::newRow("the simulated unit's SERIAL") << "SIM00001" << Kind::ChosenBySerial;
    }
    void ValidSpecs() {
        QFETCH(QString, spec);
        QFETCH(Kind, kind);
        const auto backend = MakeBackend(spec);
        QVERIFY(backend && *backend != nullptr);
        QVERIFY(IsKind(backend->get(), kind));
    }

    void TtyPathBecomesDeviceZero() {
        auto way = MakeBackend(QStringLiteral("tty:/tmp/a:b"));
        QVERIFY(way && *way != nullptr);
        device::CheckedD2xx backend(std::move(*way));
        char serial[64] = {};
        // The path does not exist, so it is not listed, and the reason names it.
        QCOMPARE(backend.ListDevices(0, serial, kListFlags), FT_DEVICE_NOT_FOUND);
        QVERIFY(QByteArray(backend.LastProblem()).contains("/tmp/a:b"));
    }

    void BadSpecs_data() {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("mention");
        QTest::newRow("empty") << ""
                               << "No device given.";
        QTest::newRow("tty without a path") << "tty:"
                                            << "\"tty:\" needs the path of a terminal";
        QTest::newRow("d2xx without a library") << "d2xx:"
                                                << "\"d2xx:\" needs the name or path of the library";
        QTest::newRow("unknown") << "usb"
                                 << "Unknown device \"usb\".";
        QTest::newRow("sim takes nothing") << "sim:x"
                                           << "\"sim\" takes nothing after it";
        QTest::newRow("names are lower case") << "Auto"
                                              << "Unknown device \"Auto\".";
        QTest::newRow("unknown with argument") << "serial:/dev/ttyS0"
                                               << "Unknown device \"serial:/dev/ttyS0\".";
        QTest::newRow("ftdi without a serial number") << "ftdi:"
                                                      << "\"ftdi:\" needs a unit's serial number";
        QTest::newRow("serial number not plugged in")
            << "NOSUCH42" << "No unit with that serial number is plugged in now";
        QTest::newRow("serial number too long") << "tty:" + QString(64, QLatin1Char('S'))
                                                << "is too long for a serial number";
    }
    void BadSpecs() {
        QFETCH(QString, spec);
        QFETCH(QString, mention);
        const auto made = MakeBackend(spec);
        QVERIFY(!made);
        QVERIFY2(made.Reason().contains(mention), qPrintable(made.Reason()));
        QVERIFY2(made.Reason().contains(device::DeviceSpecForms()), qPrintable(made.Reason()));
    }

    void AutoTakesTheFirstThatListsAUnit_data() {
        QTest::addColumn<QList<bool>>("listed");
        QTest::addColumn<int>("chosen"); // -1: none
        QTest::newRow("first lists") << QList<bool>{true, true, true} << 0;
        QTest::newRow("only the last lists") << QList<bool>{false, false, true} << 2;
        QTest::newRow("second and third list") << QList<bool>{false, true, true} << 1;
        QTest::newRow("none lists") << QList<bool>{false, false, false} << -1;
    }
    void AutoTakesTheFirstThatListsAUnit() {
        QFETCH(QList<bool>, listed);
        QFETCH(int, chosen);
        std::vector<AutoBackend::Candidate> candidates;
        std::vector<SimulatedUnit*> units(listed.size());
        for (int i = 0; i < listed.size(); ++i)
            candidates.push_back(Simulated("way" + std::to_string(i), listed[i], &units[i]));
        auto way = std::make_unique<AutoBackend>(std::move(candidates));
        const AutoBackend& chooser = *way;
        device::CheckedD2xx backend(std::move(way));

        char serial[64] = {};
        FT_HANDLE handle = nullptr;
        if (chosen < 0) {
            QCOMPARE(backend.ListDevices(0, serial, kListFlags), FT_DEVICE_NOT_FOUND);
            QVERIFY(chooser.ChosenName().empty());
            QVERIFY(QByteArray(backend.LastProblem()).size() > 0);
            QCOMPARE(backend.OpenEx("way0-SERIAL", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
            const QString faults = UnopenedHandleFaults(backend, nullptr);
            QVERIFY2(faults.isEmpty(), qPrintable(faults));
            return;
        }
        const std::string name = "way" + std::to_string(chosen);
        QCOMPARE(backend.ListDevices(0, serial, kListFlags), FT_OK);
        QCOMPARE(std::string(serial), name + "-SERIAL");
        QCOMPARE(chooser.ChosenName(), name);
        QCOMPARE(backend.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        QCOMPARE(backend.SetBaudRate(handle, 38400), FT_OK);
        const char request[3] = {0x41, 0x4C, 0x0D};
        DWORD written = 0;
        QCOMPARE(backend.Write(handle, request, 3, &written), FT_OK);
        for (int i = 0; i < int(units.size()); ++i) {
            QCOMPARE(units[std::size_t(i)]->Requests(), i == chosen ? 1u : 0u);
            QCOMPARE(units[std::size_t(i)]->BaudRate(), i == chosen ? ULONG(38400) : ULONG(0));
        }
    }

    void UnitListText_data() {
        QTest::addColumn<QList<QStringList>>("units"); // way, serial, description, place, why not ("" may open)
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("none but the simulated unit")
            << QList<QStringList>{{"sim", "SIM00001", "simulated unit", "built in", ""}}
            << QStringList{"WAY  SERIAL    DESCRIPTION     PLACE     MAY OPEN",
                           "sim  SIM00001  simulated unit  built in  yes",
                           "",
                           "No measurement unit found. If one is plugged in, this user may not be allowed to see "
                           "it: install the udev rule that comes with Tavrin (tavrin-ftdi.rules, installed as "
                           "70-tavrin-ftdi.rules), then plug the unit in again. Without a unit, start the emulator "
                           "(unit-emulator --serial EMU00001) and choose it with tavrin --device EMU00001, or use "
                           "tavrin --device sim.",
                           "",
                           "Notes:",
                           "  d2xx: not loaded",
                           ""};
    }
    void UnitListText() {
        QFETCH(QList<QStringList>, units);
        QFETCH(QStringList, lines);
        std::vector<UnitListing> listing;
        for (const QStringList& u : units)
            listing.push_back({u[0].toStdString(), u[1].toStdString(), u[2].toStdString(), u[3].toStdString(),
                               u[4].isEmpty(), u[4].toStdString()});
        QCOMPARE(QString::fromStdString(device::UnitListText(listing, {"d2xx: not loaded"})).split('\n'), lines);
    }

    // With none of the real ways finding a unit, the connection sees "not found"
    // and the log learns why from each way.
    void AutoWithoutAnyUnit() {
        device::CheckedD2xx backend(AutoBackend::WithRealBackends());
        char serial[64] = {};
        const FT_STATUS status = backend.ListDevices(0, serial, kListFlags);
        if (status == FT_OK)
            QSKIP("an FTDI unit is attached to this machine");
        QCOMPARE(status, FT_DEVICE_NOT_FOUND);
        QVERIFY2(QByteArray(backend.LastProblem()).contains("FTDI's D2XX library"), backend.LastProblem());
    }
};

QTEST_GUILESS_MAIN(BackendFactoryTest)
#include "backend_factory_test.moc"
