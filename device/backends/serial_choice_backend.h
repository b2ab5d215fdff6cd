// One unit chosen by its serial number among those a backend lists: it becomes
// the unit at index 0, so the connection opens it and no other.
#pragma once

#include "device/d2xx.h"

#include <memory>
#include <string>

namespace device {

class SerialChoiceBackend : public D2xxBackend {
public:
    SerialChoiceBackend(std::unique_ptr<D2xxBackend> inner, std::string serialNumber);

    // Whether `inner` lists a unit with this serial number now.
    static bool Lists(D2xxBackend& inner, const std::string& serialNumber);

    FT_STATUS ListDevices(DWORD index, char* serialNumber, DWORD flags) override;
    FT_STATUS OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) override;
    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override { return inner_->SetBaudRate(handle, baud); }
    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity) override {
        return inner_->SetDataCharacteristics(handle, wordLength, stopBits, parity);
    }
    FT_STATUS SetRts(FT_HANDLE handle) override { return inner_->SetRts(handle); }
    FT_STATUS ClrRts(FT_HANDLE handle) override { return inner_->ClrRts(handle); }
    FT_STATUS Purge(FT_HANDLE handle, ULONG mask) override { return inner_->Purge(handle, mask); }
    FT_STATUS Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) override {
        return inner_->Write(handle, buffer, count, written);
    }
    FT_STATUS GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) override {
        return inner_->GetStatus(handle, rxQueue, txQueue, eventStatus);
    }
    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) override {
        return inner_->Read(handle, buffer, count, bytesRead);
    }
    DataWakeup Wakeup(FT_HANDLE handle) override { return inner_->Wakeup(handle); }
    const char* LastProblem() const override;
    std::string UnitGone(FT_HANDLE handle) const override { return inner_->UnitGone(handle); }
    void Close(FT_HANDLE handle) override { inner_->Close(handle); }
    std::vector<UnitListing> Units() override { return inner_->Units(); }

private:
    std::unique_ptr<D2xxBackend> inner_;
    std::string serialNumber_;
    std::string problem_;
};

} // namespace device
