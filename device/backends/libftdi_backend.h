// The unit straight over USB with libftdi, for systems where the kernel's FTDI
// serial driver is missing or unwanted. libftdi takes the chip from the kernel
// driver while the unit is open.
#pragma once

#include "device/backends/handle_table.h"
#include "device/d2xx.h"

#include <cstdint>
#include <string>
#include <vector>

namespace device {

class LibFtdiBackend : public D2xxBackend {
public:
    LibFtdiBackend();
    ~LibFtdiBackend() override;

    FT_STATUS ListDevices(DWORD index, char* serialNumber, DWORD flags) override;
    FT_STATUS OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) override;
    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override;
    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity) override;
    FT_STATUS SetRts(FT_HANDLE handle) override;
    FT_STATUS ClrRts(FT_HANDLE handle) override;
    FT_STATUS Purge(FT_HANDLE handle, ULONG mask) override;
    FT_STATUS Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) override;
    FT_STATUS GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) override;
    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) override;
    // USB gives no descriptor to wait on: the wait looks again every few ms.
    DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes) override;
    const char* LastProblem() const override { return problem_.c_str(); }
    std::string UnitGone(FT_HANDLE handle) const override;
    void Close(FT_HANDLE handle) override;
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
    class OpenUnit;

    std::vector<FoundUnit> Scan();
    OpenUnit* Live(FT_HANDLE handle, FT_STATUS& status) const;
    FT_STATUS SetRtsLevel(FT_HANDLE handle, int level);
    FT_STATUS Failed(OpenUnit& unit, int result);
    // Moves what the chip has sent into the unit's receive buffer.
    FT_STATUS Fill(OpenUnit& unit);

    HandleTable<OpenUnit> open_;
    std::string problem_;
};

} // namespace device
