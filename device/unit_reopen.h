// Finding the unit again after it went away (unplugged, its terminal closed):
// always the same unit, by its serial number, whatever port it now has; for a
// path given on the command line, the same path. A different unit is never
// taken in its place.
#pragma once

#include "device/d2xx.h"
#include "device/message_pump.h"

#include <cstdint>
#include <string>

namespace device {

// What START finds of the unit before a run.
enum class UnitState {
    Open,         // it still answers to its handle
    NeverListed,  // no unit was listed at start-up: there is nothing to find again
    Reopened,     // it had gone and is open again
    ReopenFailed, // it had gone (or its open had failed) and cannot be opened now
};

struct UnitCheck {
    UnitState state = UnitState::Open;
    std::string goneReason;   // why the handle was no longer usable
    std::string openProblem;  // why it could not be opened again, when it could not
    FT_STATUS status = FT_OK; // the open's result, when one was tried
};

// Lets the unit behind `handle` go and opens the unit with `serialNumber` again,
// set to 38400 baud 8N1 as the connection sets it. `handle` is zero unless the
// open succeeded.
FT_STATUS ReopenUnit(FT_HANDLE& handle, const char* serialNumber);

// Checks that the unit behind `handle` still answers to it; when it does not and
// a unit was listed at start-up (`serialNumber` not empty), opens that unit again.
UnitCheck CheckUnitForRun(FT_HANDLE& handle, const char* serialNumber);

// For a run whose unit went away: waits for the same unit to come back, pumping
// messages, and tries to open it again each time `countdown` (brought down by the
// tick) has run `checkTicks` ticks. True once it is open again; false as soon as
// `acquiring` is 0 (STOP).
bool AwaitUnitBack(FT_HANDLE& handle, const char* serialNumber, std::int16_t& countdown,
                   const std::uint8_t& acquiring, std::int16_t checkTicks, MessagePump& pump);

} // namespace device
