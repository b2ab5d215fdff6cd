// The unit through FTDI's own D2XX library (libftd2xx.so), loaded when the
// logger starts if it is installed. Nothing about it is needed to build Tavrin.
#pragma once

#include "device/d2xx.h"

#include <memory>
#include <string>
#include <vector>

namespace device {

class D2xxLibraryBackend : public D2xxBackend {
public:
    static constexpr const char* kDefaultLibrary = "libftd2xx.so";

    // `library` is a name for the dynamic loader's search or a path. When it cannot
    // be loaded, or lacks one of the ten calls, the backend lists no unit and
    // LastProblem() says why.
    explicit D2xxLibraryBackend(std::string library = kDefaultLibrary);
    ~D2xxLibraryBackend() override;

    bool Loaded() const { return api_ != nullptr; }

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
    // The library's own waiting is not offered to us: the wait looks again every few ms.
    DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes) override;
    const char* LastProblem() const override { return problem_.c_str(); }
    std::string UnitGone(FT_HANDLE handle) const override;
    void Close(FT_HANDLE handle) override;
    std::vector<UnitListing> Units() override;

private:
    struct Api;

    // Only handles the library gave us reach it: it is not trusted with others.
    bool Known(FT_HANDLE handle) const;
    // Notes a failure that means the unit went away, for UnitGone.
    FT_STATUS Noted(FT_HANDLE handle, FT_STATUS status);

    std::string library_;
    void* module_ = nullptr;
    std::unique_ptr<Api> api_;
    std::vector<FT_HANDLE> open_;
    std::vector<FT_HANDLE> failed_; // open handles on which the unit stopped answering
    std::string problem_;
};

} // namespace device
