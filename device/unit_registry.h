// Where units that are no USB device make themselves known: the unit emulator,
// started with a serial number, keeps a link named after it that leads to its
// current terminal. The kernel tty backend lists these beside the FTDI ports, so
// --list-units shows them and they can be chosen, and found again after being
// unplugged, by serial number.
#pragma once

#include <string>
#include <vector>

namespace device {

struct RegisteredUnit {
    std::string serialNumber;
    std::string devicePath; // the terminal the link leads to
};

// $XDG_RUNTIME_DIR/tavrin-units, or /tmp/tavrin-units-UID without one.
std::string UnitRegistryFolder();

// The units whose links lead to a terminal that is there, by serial number.
// A folder that is not this user's own is not trusted and gives none.
std::vector<RegisteredUnit> RegisteredUnits(const std::string& folder = UnitRegistryFolder());

// Makes `serialNumber`'s link lead to `devicePath`, replacing its earlier link in
// one step. Empty, or why it could not.
std::string RegisterUnit(const std::string& serialNumber, const std::string& devicePath,
                         const std::string& folder = UnitRegistryFolder());

// Removes `serialNumber`'s link when it still leads to `devicePath`.
void UnregisterUnit(const std::string& serialNumber, const std::string& devicePath,
                    const std::string& folder = UnitRegistryFolder());

// Makes the symbolic link `link` lead to `target` in one step. Only a link, or
// nothing, may stand at `link`: anything else is left alone. Empty, or why not.
std::string PointLink(const std::string& link, const std::string& target);

} // namespace device
