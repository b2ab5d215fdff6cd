#include "device/backends/backend_factory.h"

#include "device/backends/auto_backend.h"
#include "device/backends/d2xx_library_backend.h"
#include "device/backends/libftdi_backend.h"
#include "device/backends/serial_choice_backend.h"
#include "device/backends/tty_backend.h"
#include "device/simulated_unit.h"

namespace device {

namespace {

constexpr qsizetype kMaxSerial = 63;

bool IsPath(const QString& text) {
    return text.startsWith(QLatin1Char('/'));
}

// A D2XX library is named by its path or its file name ("libftd2xx.so.1.4.27");
// anything else after "d2xx:" is a serial number.
bool IsLibrary(const QString& text) {
    return IsPath(text) || text.contains(QLatin1String(".so"));
}

std::unique_ptr<Backend> Chosen(std::unique_ptr<Backend> backend, const QString& serial) {
    return std::make_unique<SerialChoiceBackend>(std::move(backend), serial.toStdString());
}

// Every way to a unit, in the order a bare serial number is looked for.
std::vector<std::unique_ptr<Backend>> EveryBackend() {
    std::vector<std::unique_ptr<Backend>> backends;
    backends.push_back(std::make_unique<D2xxLibraryBackend>());
    backends.push_back(std::make_unique<TtyBackend>());
    backends.push_back(std::make_unique<LibFtdiBackend>());
    backends.push_back(std::make_unique<SimulatedUnit>());
    return backends;
}

} // namespace

QString DeviceSpecForms() {
    return QStringLiteral("auto (the default), sim, tty, tty:PATH, tty:SERIAL, ftdi, ftdi:SERIAL, d2xx, "
                          "d2xx:SERIAL, d2xx:LIBRARY, a unit's SERIAL number, or a PATH beginning with /");
}

// A way to the unit, as the factory gives it.
report::Result<std::unique_ptr<Backend>> Way(std::unique_ptr<Backend> way) {
    return way;
}

report::Result<std::unique_ptr<Backend>> MakeBackend(const QString& spec) {
    auto fail = [](const QString& why) {
        return report::Fail(why + QStringLiteral(" Use one of: ") + DeviceSpecForms() + QLatin1Char('.'));
    };
    if (IsPath(spec))
        return Way(TtyBackend::ForPort(spec.toStdString()));
    const qsizetype colon = spec.indexOf(QLatin1Char(':'));
    const QString kind = colon < 0 ? spec : spec.left(colon);
    const QString argument = colon < 0 ? QString() : spec.mid(colon + 1);
    const bool serialTooLong = argument.toUtf8().size() > kMaxSerial && !IsPath(argument);

    if (colon < 0) {
        if (spec == QLatin1String("auto"))
            return Way(AutoBackend::WithRealBackends());
        if (spec == QLatin1String("sim"))
            return Way(std::make_unique<SimulatedUnit>());
        if (spec == QLatin1String("tty"))
            return Way(std::make_unique<TtyBackend>());
        if (spec == QLatin1String("ftdi"))
            return Way(std::make_unique<LibFtdiBackend>());
        if (spec == QLatin1String("d2xx"))
            return Way(std::make_unique<D2xxLibraryBackend>());
        if (spec.isEmpty())
            return fail(QStringLiteral("No device given."));
        // A serial number on its own: the first way that lists such a unit now.
        // Which way it is must be known at once, so a unit that is not there is
        // refused here; naming the way ("tty:SERIAL") waits for it instead.
        if (spec.toUtf8().size() <= kMaxSerial)
            for (auto& backend : EveryBackend())
                if (SerialChoiceBackend::Lists(*backend, spec.toStdString()))
                    return Way(Chosen(std::move(backend), spec));
        return fail(QStringLiteral("Unknown device \"%1\". No unit with that serial number is plugged in now "
                                   "(tavrin --list-units shows the units there are); to wait for it, name its "
                                   "way, as in tty:%1.")
                        .arg(spec));
    }
    if (serialTooLong && kind != QLatin1String("d2xx"))
        return fail(
            QStringLiteral("\"%1\" is too long for a serial number (63 bytes at most).").arg(argument));
    if (kind == QLatin1String("tty")) {
        if (argument.isEmpty())
            return fail(QStringLiteral("\"tty:\" needs the path of a terminal, as in tty:/dev/ttyUSB0, or a "
                                       "unit's serial number."));
        if (IsPath(argument))
            return Way(TtyBackend::ForPort(argument.toStdString()));
        return Way(Chosen(std::make_unique<TtyBackend>(), argument));
    }
    if (kind == QLatin1String("ftdi")) {
        if (argument.isEmpty())
            return fail(QStringLiteral("\"ftdi:\" needs a unit's serial number, as in ftdi:FT1234AB."));
        return Way(Chosen(std::make_unique<LibFtdiBackend>(), argument));
    }
    if (kind == QLatin1String("d2xx")) {
        if (argument.isEmpty())
            return fail(QStringLiteral("\"d2xx:\" needs the name or path of the library, as in "
                                       "d2xx:/usr/local/lib/libftd2xx.so, or a unit's serial number."));
        if (IsLibrary(argument))
            return Way(std::make_unique<D2xxLibraryBackend>(argument.toStdString()));
        if (serialTooLong)
            return fail(
                QStringLiteral("\"%1\" is too long for a serial number (63 bytes at most).").arg(argument));
        return Way(Chosen(std::make_unique<D2xxLibraryBackend>(), argument));
    }
    if (kind == QLatin1String("auto") || kind == QLatin1String("sim"))
        return fail(
            QStringLiteral("\"%1\" takes nothing after it, so \"%2\" is not understood.").arg(kind, spec));
    return fail(QStringLiteral("Unknown device \"%1\".").arg(spec));
}

} // namespace device
