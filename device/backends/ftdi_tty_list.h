// The serial ports that the kernel's FTDI driver has made for plugged-in chips,
// found in sysfs the way udev sees them.
#pragma once

#include <string>
#include <vector>

namespace device {

struct FtdiTty {
    std::string serialNumber; // the chip's USB serial number (what the unit is listed and opened by)
    std::string ttyName;      // "ttyUSB0"
    std::string devicePath;   // "/dev/ttyUSB0"
    std::string description;  // the chip's product string ("FT232R USB UART"), may be empty
    std::string usbPlace;     // the USB device's name in sysfs ("1-1.4"), may be empty
};

// Every tty under <sysfsRoot>/class/tty whose USB device has FTDI's vendor id 0403,
// sorted by serial number, then by tty name (ttyUSB2 before ttyUSB10), so that
// "unit 0" stays the same unit from one start to the next.
//
// A chip with several ports (FT2232, FT4232) gives each port its interface letter
// after the serial number ("FT1234A", "FT1234B") so every port can be opened by
// its own name. A chip without a serial number is listed by its tty name. Serial
// numbers are cut to 63 bytes so they fit the 64-byte buffer with their zero.
std::vector<FtdiTty> ListFtdiTtys(const std::string& sysfsRoot = "/sys", const std::string& devRoot = "/dev");

} // namespace device
