// Turns the --device choice of the command line into a backend.
#pragma once

#include "device/d2xx.h"

#include <QString>
#include <memory>

namespace device {

// The accepted forms, for the command line's help text.
QString DeviceSpecForms();

// "auto" (FTDI's library, then the kernel's FTDI serial ports, then libftdi: the
// first that lists a unit), "sim" (the simulated unit), "tty" (the kernel's FTDI
// serial ports), "tty:PATH" (that one terminal), "ftdi" (libftdi), "d2xx" (FTDI's
// library) or "d2xx:LIBRARY" (that library file). Anything else gives nullptr and
// a sentence for the user in *error.
std::unique_ptr<D2xxBackend> MakeBackend(const QString& spec, QString* error);

} // namespace device
