#include "device/backends/backend_factory.h"

#include "device/backends/auto_backend.h"
#include "device/backends/d2xx_library_backend.h"
#include "device/backends/libftdi_backend.h"
#include "device/backends/tty_backend.h"
#include "device/simulated_unit.h"

namespace device {

QString DeviceSpecForms() {
    return QStringLiteral("auto (the default), sim, tty, tty:PATH, ftdi, d2xx or d2xx:LIBRARY");
}

std::unique_ptr<D2xxBackend> MakeBackend(const QString& spec, QString* error) {
    auto fail = [&](const QString& why) -> std::unique_ptr<D2xxBackend> {
        if (error)
            *error = why + QStringLiteral(" Use one of: ") + DeviceSpecForms() + QLatin1Char('.');
        return nullptr;
    };
    if (error)
        error->clear();
    const qsizetype colon = spec.indexOf(QLatin1Char(':'));
    const QString kind = colon < 0 ? spec : spec.left(colon);
    const QString argument = colon < 0 ? QString() : spec.mid(colon + 1);

    if (colon < 0) {
        if (spec == QLatin1String("auto"))
            return AutoBackend::WithRealBackends();
        if (spec == QLatin1String("sim"))
            return std::make_unique<SimulatedUnit>();
        if (spec == QLatin1String("tty"))
            return std::make_unique<TtyBackend>();
        if (spec == QLatin1String("ftdi"))
            return std::make_unique<LibFtdiBackend>();
        if (spec == QLatin1String("d2xx"))
            return std::make_unique<D2xxLibraryBackend>();
        if (spec.isEmpty())
            return fail(QStringLiteral("No device given."));
        return fail(QStringLiteral("Unknown device \"%1\".").arg(spec));
    }
    if (kind == QLatin1String("tty")) {
        if (argument.isEmpty())
            return fail(QStringLiteral("\"tty:\" needs the path of a terminal, as in tty:/dev/ttyUSB0."));
        return TtyBackend::ForPort(argument.toStdString());
    }
    if (kind == QLatin1String("d2xx")) {
        if (argument.isEmpty())
            return fail(QStringLiteral("\"d2xx:\" needs the name or path of the library, as in "
                                       "d2xx:/usr/local/lib/libftd2xx.so."));
        return std::make_unique<D2xxLibraryBackend>(argument.toStdString());
    }
    if (kind == QLatin1String("auto") || kind == QLatin1String("sim") || kind == QLatin1String("ftdi"))
        return fail(
            QStringLiteral("\"%1\" takes nothing after it, so \"%2\" is not understood.").arg(kind, spec));
    return fail(QStringLiteral("Unknown device \"%1\".").arg(spec));
}

} // namespace device
