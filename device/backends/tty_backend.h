// The unit through the kernel's serial driver: the FTDI chip appears as a tty
// (/dev/ttyUSB0), which needs no extra library and is what most Linux systems
// offer out of the box.
#pragma once

#include "device/backends/ftdi_tty_list.h"
#include "device/port.h"

#include <memory>
#include <optional>
#include <string>

namespace device {

class TtyBackend : public Backend {
public:
    // Every FTDI tty found under sysfsRoot, opened under devRoot (see ListFtdiTtys),
    // then the units registered in registryFolder (empty: UnitRegistryFolder()).
    explicit TtyBackend(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                        std::string registryFolder = {});
    // Exactly one given terminal, of any kind (a pseudo-terminal, say), listed as
    // device 0 under the serial number SerialForPath(path).
    static std::unique_ptr<TtyBackend> ForPort(const std::string& path);

    // The path itself when it fits the 64-byte serial number buffer, else its last 63 bytes.
    static std::string SerialForPath(const std::string& path);

    UnitKind Kind() const override { return UnitKind::Tty; }
    FT_STATUS List(DWORD index, std::string& serialNumber) override;
    // Raw bytes at 38400 8N1, locked against a second opener. The port's descriptor
    // is its wakeup: it becomes readable when reply bytes arrive. It is gone once
    // unplugged (hung up), after an I/O error, or when its path no longer leads to
    // the terminal that was opened.
    FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<Port>& port) override;
    std::vector<UnitListing> Units() override;

private:
    std::vector<FtdiTty> Ports() const;

    std::string sysfsRoot_;
    std::string devRoot_;
    std::string registryFolder_;
    std::optional<FtdiTty> fixedPort_;
};

} // namespace device
