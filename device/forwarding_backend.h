// A backend that passes every call to another, for backends that change only a
// few of them (choosing one unit among those listed, watching what is read).
#pragma once

#include "device/d2xx.h"

#include <memory>

class ForwardingBackend : public D2xxBackend {
public:
    explicit ForwardingBackend(std::unique_ptr<D2xxBackend> inner) : inner_(std::move(inner)) {}

    FT_STATUS ListDevices(DWORD index, char* serialNumber, DWORD flags) override {
        return inner_->ListDevices(index, serialNumber, flags);
    }
    FT_STATUS OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) override {
        return inner_->OpenEx(serialNumber, flags, handle);
    }
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
    DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes) override { return inner_->Wakeup(handle, awaitedBytes); }
    const char* LastProblem() const override { return inner_->LastProblem(); }
    std::string UnitGone(FT_HANDLE handle) const override { return inner_->UnitGone(handle); }
    void Close(FT_HANDLE handle) override { inner_->Close(handle); }
    std::vector<UnitListing> Units() override { return inner_->Units(); }

protected:
    D2xxBackend& Inner() const { return *inner_; }

private:
    std::unique_ptr<D2xxBackend> inner_;
};
