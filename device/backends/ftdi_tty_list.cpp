#include "device/backends/ftdi_tty_list.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

namespace device {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSerial = 63;
// From the tty's device link: the usb-serial port, then the USB interface, then
// the USB device. Three steps cover ttyUSB (port → interface → device) and
// drivers that hang the tty on the interface itself.
constexpr int kStepsToUsbDevice = 3;

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

bool IsFtdiVendor(const std::string& idVendor) {
    std::string lower = idVendor;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower == "0403";
}

struct UsbPlace {
    fs::path device;    // the USB device (has idVendor)
    fs::path interface; // the step below it (has bInterfaceNumber), may be empty
};

std::optional<UsbPlace> FindUsbDevice(const fs::path& ttyDevice) {
    std::error_code ec;
    fs::path at = fs::canonical(ttyDevice, ec);
    if (ec)
        return std::nullopt;
    fs::path below;
    for (int step = 0; step < kStepsToUsbDevice && !at.empty(); ++step) {
        if (fs::exists(at / "idVendor", ec))
            return UsbPlace{at, below};
        below = at;
        if (at == at.parent_path())
            break;
        at = at.parent_path();
    }
    return std::nullopt;
}

// ttyUSB2 before ttyUSB10.
bool TtyNameLess(const std::string& a, const std::string& b) {
    return std::forward_as_tuple(a.size(), a) < std::forward_as_tuple(b.size(), b);
}

struct Found {
    FtdiTty tty;
    std::string interfaceNumber;
    bool manyInterfaces = false;
};

} // namespace

std::vector<FtdiTty> ListFtdiTtys(const std::string& sysfsRoot, const std::string& devRoot) {
    std::vector<Found> found;
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysfsRoot) / "class" / "tty", ec);
    if (ec)
        return {};
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const std::string name = it->path().filename().string();
        const auto place = FindUsbDevice(it->path() / "device");
        if (!place || !IsFtdiVendor(ReadAttribute(place->device / "idVendor")))
            continue;
        Found f;
        f.tty.ttyName = name;
        f.tty.devicePath = (fs::path(devRoot) / name).string();
        f.tty.serialNumber = ReadAttribute(place->device / "serial");
        f.tty.description = ReadAttribute(place->device / "product");
        f.tty.usbPlace = place->device.filename().string();
        if (!place->interface.empty())
            f.interfaceNumber = ReadAttribute(place->interface / "bInterfaceNumber");
        const std::string interfaces = ReadAttribute(place->device / "bNumInterfaces");
        f.manyInterfaces = !interfaces.empty() && interfaces != "1";
        found.push_back(std::move(f));
    }

    std::vector<FtdiTty> ttys;
    for (Found& f : found) {
        if (f.tty.serialNumber.empty()) {
            f.tty.serialNumber = f.tty.ttyName;
        } else if (f.manyInterfaces && !f.interfaceNumber.empty()) {
            // "00", "01", ... in sysfs; ports are lettered A, B, ... on the chip.
            const int number = std::clamp(std::atoi(f.interfaceNumber.c_str()), 0, 25);
            f.tty.serialNumber += char('A' + number);
        }
        if (f.tty.serialNumber.size() > kMaxSerial)
            f.tty.serialNumber.resize(kMaxSerial);
        ttys.push_back(std::move(f.tty));
    }
    std::sort(ttys.begin(), ttys.end(), [](const FtdiTty& a, const FtdiTty& b) {
        if (a.serialNumber != b.serialNumber)
            return a.serialNumber < b.serialNumber;
        return TtyNameLess(a.ttyName, b.ttyName);
    });
    return ttys;
}

} // namespace device
