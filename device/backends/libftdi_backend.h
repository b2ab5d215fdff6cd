// The unit straight over USB with libftdi, for systems where the kernel's FTDI
// serial driver is missing or unwanted. libftdi takes the chip from the kernel
// driver while the unit is open.
#pragma once

#include "device/port.h"

#include <cstdint>
#include <string>
#include <vector>

namespace device {

class LibFtdiBackend : public Backend {
public:
    UnitKind Kind() const override { return UnitKind::LibFtdi; }
    FT_STATUS List(DWORD index, std::string& serialNumber) override;
    // USB gives no descriptor to wait on: the port's wait looks again every few ms.
    FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<Port>& port) override;
    std::vector<UnitListing> Units() override;

private:
    struct FoundUnit {
        std::string serialNumber;
        std::string description;
        int productId = 0;
        std::uint8_t bus = 0;
        std::uint8_t address = 0;
        bool serialRead = false;
    };

    std::vector<FoundUnit> Scan();

};

} // namespace device
