#include "device/backends/serial_choice_backend.h"

namespace device {

namespace {
// More than any desk has: bounds the search should a way never say "no more".
constexpr DWORD kMaxListed = 64;
} // namespace

SerialChoiceBackend::SerialChoiceBackend(std::unique_ptr<Backend> inner, std::string serialNumber)
    : inner_(std::move(inner)), serialNumber_(std::move(serialNumber)) {}

bool SerialChoiceBackend::Lists(Backend& inner, const std::string& serialNumber) {
    for (DWORD index = 0; index < kMaxListed; ++index) {
        std::string serial;
        if (inner.List(index, serial) != FT_OK)
            return false;
        if (serial == serialNumber)
            return true;
    }
    return false;
}

std::string SerialChoiceBackend::NotThere() const {
    return "No unit with serial number " + serialNumber_ +
           " is plugged in (tavrin --list-units shows the units there are)";
}

FT_STATUS SerialChoiceBackend::List(DWORD index, std::string& serialNumber) {
    if (index != 0 || !Lists(*inner_, serialNumber_)) {
        problem_ = NotThere();
        const std::string why = inner_->Problem();
        if (!why.empty())
            problem_ += "; " + why;
        return FT_DEVICE_NOT_FOUND;
    }
    problem_ = inner_->Problem();
    serialNumber = serialNumber_;
    return FT_OK;
}

FT_STATUS SerialChoiceBackend::Open(const std::string& serialNumber, std::unique_ptr<Port>& port) {
    // Only the chosen unit: never another one in its place.
    if (serialNumber != serialNumber_) {
        problem_ = "Unit " + serialNumber + " is not the chosen unit " + serialNumber_;
        return FT_DEVICE_NOT_FOUND;
    }
    const FT_STATUS status = inner_->Open(serialNumber, port);
    // Waited for and not there yet: said as the listing says it.
    problem_ = status == FT_DEVICE_NOT_FOUND ? NotThere() : inner_->Problem();
    return status;
}

} // namespace device
