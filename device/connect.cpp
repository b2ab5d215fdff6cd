#include "device/connect.h"

#include "device/unit_protocol.h"

#include <cstring>

namespace device {

ConnectOutcome ConnectUnit(char (&serialNumber)[kSerialNumberSize]) {
    ConnectOutcome outcome;
    std::memset(serialNumber, 0, 10);
    DeviceStatus = FT_ListDevices(0, serialNumber, kListBySerialNumber);
    if (DeviceStatus != FT_OK) {
        outcome.problem = CurrentD2xx().LastProblem();
    } else {
        serialNumber[kSerialNumberSize - 1] = '\0';
        DeviceStatus = FT_OpenEx(serialNumber, FT_OPEN_BY_SERIAL_NUMBER, &DeviceHandle);
        outcome.connection = DeviceStatus == FT_OK ? Connection::Opened : Connection::OpenFailed;
        if (DeviceStatus != FT_OK)
            outcome.problem = CurrentD2xx().LastProblem();
    }
    SetLine(DeviceHandle);
    return outcome;
}

std::string UnitName(FT_HANDLE handle, const char* serialNumber) {
    if (CurrentD2xx().KindOf(handle) == UnitKind::Simulated)
        return "sim";
    const std::string serial = serialNumber ? serialNumber : "";
    return serial.starts_with('/') ? serial.substr(serial.rfind('/') + 1) : serial;
}

} // namespace device
