// A way whose ports tell listeners of each write and of what each successful read
// handed over, so a test knows what the log must hold whatever the real port did,
// and can act at a given request. Everything else is the inner way's.
#pragma once

#include "device/port.h"

#include <functional>
#include <memory>
#include <string_view>

namespace soak {

class RecordingBackend : public device::Backend {
public:
    using Listener = std::function<void(std::string_view bytes)>;

    RecordingBackend(std::unique_ptr<device::Backend> inner, Listener onRead,
                     std::function<void()> onWrite = {})
        : inner_(std::move(inner)), onRead_(std::move(onRead)), onWrite_(std::move(onWrite)) {}

    device::UnitKind Kind() const override { return inner_->Kind(); }
    FT_STATUS List(DWORD index, std::string& serialNumber) override {
        const FT_STATUS status = inner_->List(index, serialNumber);
        problem_ = inner_->Problem();
        return status;
    }
    FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<device::Port>& port) override {
        const FT_STATUS status = inner_->Open(serialNumber, port);
        problem_ = inner_->Problem();
        if (status == FT_OK)
            port = std::make_unique<RecordingPort>(std::move(port), *this);
        return status;
    }

private:
    class RecordingPort : public device::Port {
    public:
        RecordingPort(std::unique_ptr<device::Port> inner, RecordingBackend& way)
            : inner_(std::move(inner)), way_(way) {}

        FT_STATUS Usable() const override { return inner_->Usable(); }
        std::string Gone() const override { return inner_->Gone(); }
        void Close() override { inner_->Close(); }
        FT_STATUS SetBaudRate(ULONG baud) override { return inner_->SetBaudRate(baud); }
        FT_STATUS SetDataCharacteristics(UCHAR bits, UCHAR stop, UCHAR parity) override {
            return inner_->SetDataCharacteristics(bits, stop, parity);
        }
        FT_STATUS SetRts(bool high) override { return inner_->SetRts(high); }
        FT_STATUS Purge(ULONG mask) override { return inner_->Purge(mask); }
        FT_STATUS Write(const void* bytes, DWORD count, DWORD& written) override {
            const FT_STATUS status = inner_->Write(bytes, count, written);
            if (way_.onWrite_)
                way_.onWrite_();
            return status;
        }
        FT_STATUS Queued(device::QueueCounts& counts) override { return inner_->Queued(counts); }
        FT_STATUS Read(void* bytes, DWORD count, DWORD& got) override {
            const FT_STATUS status = inner_->Read(bytes, count, got);
            if (status == FT_OK && way_.onRead_)
                way_.onRead_(std::string_view(static_cast<const char*>(bytes), got));
            return status;
        }
        DataWakeup Wakeup(DWORD awaitedBytes) override { return inner_->Wakeup(awaitedBytes); }

    private:
        std::unique_ptr<device::Port> inner_;
        RecordingBackend& way_;
    };

    std::unique_ptr<device::Backend> inner_;
    Listener onRead_;
    std::function<void()> onWrite_;
};

} // namespace soak
