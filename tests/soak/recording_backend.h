// A backend that passes every call to another and tells listeners of each write
// and of what each successful read handed over, so a test knows what the log
// must hold whatever the real port did, and can act at a given request.
#pragma once

#include "device/forwarding_backend.h"

#include <functional>
#include <memory>
#include <string_view>

namespace soak {

class RecordingBackend : public ForwardingBackend {
public:
    using Listener = std::function<void(std::string_view bytes)>;

    RecordingBackend(std::unique_ptr<D2xxBackend> inner, Listener onRead, std::function<void()> onWrite = {})
        : ForwardingBackend(std::move(inner)), onRead_(std::move(onRead)), onWrite_(std::move(onWrite)) {}

    FT_STATUS Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) override {
        const FT_STATUS status = Inner().Write(handle, buffer, count, written);
        if (onWrite_)
            onWrite_();
        return status;
    }
    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) override {
        DWORD got = 0;
        const FT_STATUS status = Inner().Read(handle, buffer, count, &got);
        if (bytesRead)
            *bytesRead = got;
        if (status == FT_OK && onRead_)
            onRead_(std::string_view(static_cast<const char*>(buffer), got));
        return status;
    }

private:
    Listener onRead_;
    std::function<void()> onWrite_;
};

} // namespace soak
