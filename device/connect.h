// Connecting to the unit when the window is first shown: unit 0 of the list is
// listed, opened by its serial number and set to the unit's line. Which unit it
// is, as the sample sinks name it.
#pragma once

#include "device/d2xx.h"

#include <string>

namespace device {

enum class Connection {
    NotListed,  // no unit 0 in the list: nothing was opened
    OpenFailed, // listed, but it would not open
    Opened,
};

struct ConnectOutcome {
    Connection connection = Connection::NotListed;
    // When not listed or not opened, the way's plain-words reason ("" when it has none).
    std::string problem;
};

// The connection sequence: the first 10 bytes of `serialNumber` zeroed,
// FT_ListDevices for unit 0 into it with its result in DeviceStatus; only when
// that succeeded FT_OpenEx by that serial number into DeviceHandle, its result in
// DeviceStatus; whatever happened, the line set on DeviceHandle (SetLine), whose
// results leave DeviceStatus alone. The caller tells the user.
ConnectOutcome ConnectUnit(char (&serialNumber)[kSerialNumberSize]);

// The unit behind `handle` as the sample sinks name it: "sim" for the simulated
// unit, the last part of a serial number that is a path (a terminal given by its
// path), else the serial number.
std::string UnitName(FT_HANDLE handle, const char* serialNumber);

} // namespace device
