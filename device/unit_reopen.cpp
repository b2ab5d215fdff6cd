#include "device/unit_reopen.h"

#include "device/unit_protocol.h"

namespace device {

std::string SoughtUnit(const char* serialNumber) {
    if (serialNumber != nullptr && serialNumber[0] != '\0')
        return serialNumber;
    return CurrentD2xx().SoughtSerialNumber();
}

FT_STATUS ReopenUnit(FT_HANDLE& handle, const char* serialNumber) {
    CurrentD2xx().Close(handle);
    handle = nullptr;
    FT_HANDLE opened = nullptr;
    const FT_STATUS status = FT_OpenEx(serialNumber, FT_OPEN_BY_SERIAL_NUMBER, &opened);
    if (status != FT_OK)
        return status;
    handle = opened;
    SetLine(handle);
    return FT_OK;
}

UnitCheck CheckUnitForRun(FT_HANDLE& handle, const char* serialNumber) {
    UnitCheck check;
    check.goneReason = CurrentD2xx().UnitGone(handle);
    if (check.goneReason.empty())
        return check;
    check.serialNumber = SoughtUnit(serialNumber);
    if (check.serialNumber.empty()) {
        check.state = UnitState::NeverListed;
        return check;
    }
    check.status = ReopenUnit(handle, check.serialNumber.c_str());
    if (check.status == FT_OK) {
        check.state = UnitState::Reopened;
    } else {
        check.state = UnitState::ReopenFailed;
        check.openProblem = CurrentD2xx().LastProblem();
    }
    return check;
}

bool AwaitUnitBack(FT_HANDLE& handle, const char* serialNumber, std::int16_t& countdown,
                   const std::uint8_t& acquiring, std::int16_t checkTicks, MessagePump& pump) {
    const std::string sought = SoughtUnit(serialNumber);
    while (acquiring != 0) {
        countdown = checkTicks;
        while (countdown != 0 && acquiring != 0)
            pump.ProcessMessages();
        if (acquiring == 0)
            break;
        if (ReopenUnit(handle, sought.c_str()) == FT_OK)
            return true;
    }
    return false;
}

} // namespace device
