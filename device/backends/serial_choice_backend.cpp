#include "device/backends/serial_choice_backend.h"

#include <cstring>

namespace device {

namespace {
constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
// More than any desk has: bounds the search should a backend never say "no more".
constexpr DWORD kMaxListed = 64;
} // namespace

SerialChoiceBackend::SerialChoiceBackend(std::unique_ptr<D2xxBackend> inner, std::string serialNumber)
    : ForwardingBackend(std::move(inner)), serialNumber_(std::move(serialNumber)) {}

bool SerialChoiceBackend::Lists(D2xxBackend& inner, const std::string& serialNumber) {
    for (DWORD index = 0; index < kMaxListed; ++index) {
        char serial[64] = {};
        if (inner.ListDevices(index, serial, kListFlags) != FT_OK)
            return false;
        serial[sizeof serial - 1] = '\0';
        if (serialNumber == serial)
            return true;
    }
    return false;
}

FT_STATUS SerialChoiceBackend::ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    if (flags != kListFlags || serialNumber == nullptr)
        return FT_INVALID_PARAMETER;
    if (index != 0 || !Lists(Inner(), serialNumber_)) {
        problem_ = "No unit with serial number " + serialNumber_ +
                   " is plugged in (tavrin --list-units shows the units there are)";
        const std::string why = Inner().LastProblem();
        if (!why.empty())
            problem_ += "; " + why;
        return FT_DEVICE_NOT_FOUND;
    }
    problem_.clear();
    std::memcpy(serialNumber, serialNumber_.c_str(), serialNumber_.size() + 1);
    return FT_OK;
}

FT_STATUS SerialChoiceBackend::OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    problem_.clear();
    // Only the chosen unit: never another one in its place.
    if (serialNumber != nullptr && serialNumber_ != serialNumber) {
        problem_ = std::string("Unit ") + serialNumber + " is not the chosen unit " + serialNumber_;
        return FT_DEVICE_NOT_FOUND;
    }
    return Inner().OpenEx(serialNumber, flags, handle);
}

const char* SerialChoiceBackend::LastProblem() const {
    return problem_.empty() ? Inner().LastProblem() : problem_.c_str();
}

} // namespace device
