// What --list-units prints: every unit every way to a unit can see now.
#pragma once

#include "device/port.h"

#include <string>
#include <vector>

namespace device {

// One line per unit under a heading: way, serial number, description, place and
// whether this user may open it (with the reason when not), then `notes` (why a
// way could not look). With no unit but the simulated one, says so and points at
// the udev rule and the emulator.
std::string UnitListText(const std::vector<UnitListing>& units, const std::vector<std::string>& notes);

// The units of FTDI's library, the kernel's ttys (and registered units), libftdi
// and the simulated unit, as UnitListText puts them.
std::string ListEveryUnit();

} // namespace device
