// A backend that passes every call to another and tells listeners of each write
// and of what each successful read handed over, so a test knows what the log
// must hold whatever the real port did, and can act at a given request.
#pragma once

#include "device/d2xx.h"

#include <functional>
#include <memory>
#include <string_view>

namespace soak {

class RecordingBackend : public D2xxBackend {
public:
    using Listener = std::function<void(std::string_view bytes)>;

    RecordingBackend(std::unique_ptr<D2xxBackend> inner, Listener onRead, std::function<void()> onWrite = {})
        : inner_(std::move(inner)), onRead_(std::move(onRead)), onWrite_(std::move(onWrite)) {}

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
        const FT_STATUS status = inner_->Write(handle, buffer, count, written);
        if (onWrite_)
            onWrite_();
        return status;
    }
    FT_STATUS GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) override {
        return inner_->GetStatus(handle, rxQueue, txQueue, eventStatus);
    }
    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) override {
        DWORD got = 0;
        const FT_STATUS status = inner_->Read(handle, buffer, count, &got);
        if (bytesRead)
            *bytesRead = got;
        if (status == FT_OK && onRead_)
            onRead_(std::string_view(static_cast<const char*>(buffer), got));
        return status;
    }
    DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes) override {
        return inner_->Wakeup(handle, awaitedBytes);
    }
    const char* LastProblem() const override { return inner_->LastProblem(); }

private:
    std::unique_ptr<D2xxBackend> inner_;
    Listener onRead_;
    std::function<void()> onWrite_;
};

} // namespace soak
