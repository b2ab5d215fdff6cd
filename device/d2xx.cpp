#include "device/d2xx.h"

FT_HANDLE DeviceHandle = nullptr;
FT_STATUS DeviceStatus = FT_OK;

namespace {

// Stands in until a backend is chosen: nothing is listed and every handle is unknown.
class NoBackend : public D2xxBackend {
public:
    FT_STATUS ListDevices(DWORD, char*, DWORD) override { return FT_DEVICE_NOT_FOUND; }
    FT_STATUS OpenEx(const char*, DWORD, FT_HANDLE*) override { return FT_DEVICE_NOT_FOUND; }
    FT_STATUS SetBaudRate(FT_HANDLE, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) override { return FT_INVALID_HANDLE; }
    FT_STATUS SetRts(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS ClrRts(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS Purge(FT_HANDLE, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS Write(FT_HANDLE, const void*, DWORD, DWORD* written) override {
        if (written)
            *written = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS GetStatus(FT_HANDLE, DWORD* rx, DWORD*, DWORD*) override {
        if (rx)
            *rx = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS Read(FT_HANDLE, void*, DWORD, DWORD* bytesRead) override {
        if (bytesRead)
            *bytesRead = 0;
        return FT_INVALID_HANDLE;
    }
    DataWakeup Wakeup(FT_HANDLE, DWORD) override { return {}; }
    std::string UnitGone(FT_HANDLE) const override { return kNoUnitOpen; }
};

std::unique_ptr<D2xxBackend>& Installed() {
    static std::unique_ptr<D2xxBackend> backend = std::make_unique<NoBackend>();
    return backend;
}

} // namespace

D2xxBackend& CurrentD2xx() { return *Installed(); }

std::unique_ptr<D2xxBackend> SetD2xxBackend(std::unique_ptr<D2xxBackend> backend) {
    if (!backend)
        backend = std::make_unique<NoBackend>();
    return std::exchange(Installed(), std::move(backend));
}
