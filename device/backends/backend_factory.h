// Turns the --device choice of the command line into a backend.
#pragma once

#include "report/failure.h"

#include "device/port.h"

#include <QString>
#include <memory>

namespace device {

// The accepted forms, for the command line's help text.
QString DeviceSpecForms();

// "auto" (FTDI's library, then the kernel's FTDI serial ports, then libftdi: the
// first that lists a unit), "sim" (the simulated unit), "tty" (the kernel's FTDI
// serial ports and registered units), "tty:PATH" or a bare PATH beginning with /
// (that one terminal), "ftdi" (libftdi), "d2xx" (FTDI's library), "d2xx:LIBRARY"
// (that library file); "tty:SERIAL", "ftdi:SERIAL", "d2xx:SERIAL" (that unit of
// that way, whenever it is there) or a bare SERIAL (the first way that lists that
// unit now). Anything else gives nullptr and a sentence for the user in *error.
report::Result<std::unique_ptr<Backend>> MakeBackend(const QString& spec);

} // namespace device
