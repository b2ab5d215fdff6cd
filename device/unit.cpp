#include "device/unit.h"

#include <cstring>

namespace device {

ConnectOutcome Unit::Connect() {
    ConnectOutcome outcome;
    std::memset(serialNumber_, 0, 10);
    status_ = CurrentD2xx().ListDevices(0, serialNumber_, kListBySerialNumber);
    if (status_ != FT_OK) {
        outcome.problem = CurrentD2xx().LastProblem();
    } else {
        serialNumber_[kSerialNumberSize - 1] = '\0';
        status_ = CurrentD2xx().OpenEx(serialNumber_, FT_OPEN_BY_SERIAL_NUMBER, &handle_);
        outcome.connection = status_ == FT_OK ? Connection::Opened : Connection::OpenFailed;
        if (status_ != FT_OK)
            outcome.problem = CurrentD2xx().LastProblem();
    }
    SetLine(handle_);
    return outcome;
}

void Unit::PrepareForRun() {
    device::PrepareForRun(handle_);
}

void Unit::SendRequest() {
    device::SendRequest(handle_);
}

ExchangeResult Unit::TakeReply(std::int16_t replyTicks, RxBufferBytes& rx) {
    return device::TakeReply(handle_, replyTicks, rx, status_);
}

DataWakeup Unit::ReplyWakeup() const {
    return device::ReplyWakeup(handle_);
}

std::string Unit::Gone() const {
    return CurrentD2xx().UnitGone(handle_);
}

FT_STATUS Unit::Reopen(const char* serialNumber) {
    CurrentD2xx().Close(handle_);
    handle_ = nullptr;
    FT_HANDLE opened = nullptr;
    const FT_STATUS status = CurrentD2xx().OpenEx(serialNumber, FT_OPEN_BY_SERIAL_NUMBER, &opened);
    if (status != FT_OK)
        return status;
    handle_ = opened;
    SetLine(handle_);
    return FT_OK;
}

UnitCheck Unit::CheckForRun() {
    UnitCheck check;
    check.goneReason = Gone();
    if (check.goneReason.empty())
        return check;
    check.serialNumber = SoughtUnit(serialNumber_);
    if (check.serialNumber.empty()) {
        check.state = UnitState::NeverListed;
        return check;
    }
    check.status = Reopen(check.serialNumber.c_str());
    if (check.status == FT_OK) {
        check.state = UnitState::Reopened;
        status_ = FT_OK;
    } else {
        check.state = UnitState::ReopenFailed;
        check.openProblem = CurrentD2xx().LastProblem();
        status_ = check.status;
    }
    return check;
}

bool Unit::LookFor() {
    // Always the same unit, by its serial number (the one the way was given when none was listed
    // yet); with none known at all, the first unit listed.
    const std::string sought = SoughtUnit(serialNumber_);
    if (!sought.empty()) {
        if (Reopen(sought.c_str()) != FT_OK)
            return false;
        if (serialNumber_[0] == '\0')
            std::strncpy(serialNumber_, sought.c_str(), kSerialNumberSize - 1);
    } else {
        if (CurrentD2xx().ListDevices(0, serialNumber_, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) != FT_OK)
            return false;
        serialNumber_[kSerialNumberSize - 1] = '\0';
        if (Reopen(serialNumber_) != FT_OK) {
            std::memset(serialNumber_, 0, kSerialNumberSize);
            return false;
        }
    }
    status_ = FT_OK;
    return true;
}

std::string Unit::Name() const {
    if (CurrentD2xx().KindOf(handle_) == UnitKind::Simulated)
        return "sim";
    const std::string serial = serialNumber_;
    return serial.starts_with('/') ? serial.substr(serial.rfind('/') + 1) : serial;
}

} // namespace device
