// How connecting to the unit when the window is first shown went (device::Unit::Connect): unit 0 of
// the list is listed, opened by its serial number and set to the unit's line.
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

} // namespace device
