// The unit through the kernel's serial driver: the FTDI chip appears as a tty
// (/dev/ttyUSB0), which needs no extra library and is what most Linux systems
// offer out of the box.
#pragma once

#include "device/backends/ftdi_tty_list.h"
#include "device/backends/handle_table.h"
#include "device/d2xx.h"

#include <memory>
#include <optional>
#include <string>

namespace device {

class TtyBackend : public D2xxBackend {
public:
    // Every FTDI tty found under sysfsRoot, opened under devRoot (see ListFtdiTtys),
    // then the units registered in registryFolder (empty: UnitRegistryFolder()).
    explicit TtyBackend(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                        std::string registryFolder = {});
    // Exactly one given terminal, of any kind (a pseudo-terminal, say), listed as
    // device 0 under the serial number SerialForPath(path).
    static std::unique_ptr<TtyBackend> ForPort(const std::string& path);
    ~TtyBackend() override;

    // The path itself when it fits the 64-byte serial number buffer, else its last 63 bytes.
    static std::string SerialForPath(const std::string& path);

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
    // The port's descriptor: it becomes readable when reply bytes arrive.
    DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes) override;
    const char* LastProblem() const override { return problem_.c_str(); }
    // Gone once unplugged (hung up), after an I/O error, or when its path no
    // longer leads to the terminal that was opened.
    std::string UnitGone(FT_HANDLE handle) const override;
    void Close(FT_HANDLE handle) override;
    std::vector<UnitListing> Units() override;

private:
    class OpenPort;

    std::vector<FtdiTty> Ports() const;
    // The open, still working port behind `handle`; sets `status` when there is none.
    OpenPort* Live(FT_HANDLE handle, FT_STATUS& status) const;
    FT_STATUS ChangeModemLines(FT_HANDLE handle, unsigned long request);
    FT_STATUS Failed(OpenPort& port, int errorNumber);

    std::string sysfsRoot_;
    std::string devRoot_;
    std::string registryFolder_;
    std::optional<FtdiTty> fixedPort_;
    HandleTable<OpenPort> open_;
    std::string problem_;
};

} // namespace device
