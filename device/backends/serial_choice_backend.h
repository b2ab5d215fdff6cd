// One unit chosen by its serial number among those a backend lists: it becomes
// the unit at index 0, so the connection opens it and no other.
#pragma once

#include "device/forwarding_backend.h"

#include <memory>
#include <string>

namespace device {

class SerialChoiceBackend : public ForwardingBackend {
public:
    SerialChoiceBackend(std::unique_ptr<D2xxBackend> inner, std::string serialNumber);

    // Whether `inner` lists a unit with this serial number now.
    static bool Lists(D2xxBackend& inner, const std::string& serialNumber);

    FT_STATUS ListDevices(DWORD index, char* serialNumber, DWORD flags) override;
    FT_STATUS OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) override;
    const char* LastProblem() const override;

private:
    std::string serialNumber_;
    std::string problem_;
};

} // namespace device
