#include "device/unit_reopen.h"

#include "device/unit_protocol.h"

#include <cstring>

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

bool LookForUnit(FT_HANDLE& handle, char* serialNumber, std::size_t serialNumberSize) {
    const std::string sought = SoughtUnit(serialNumber);
    if (!sought.empty()) {
        if (ReopenUnit(handle, sought.c_str()) != FT_OK)
            return false;
        if (serialNumber[0] == '\0')
            std::strncpy(serialNumber, sought.c_str(), serialNumberSize - 1);
        return true;
    }
    if (FT_ListDevices(0, serialNumber, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) != FT_OK)
        return false;
    serialNumber[serialNumberSize - 1] = '\0';
    if (ReopenUnit(handle, serialNumber) == FT_OK)
        return true;
    std::memset(serialNumber, 0, serialNumberSize);
    return false;
}

} // namespace device
