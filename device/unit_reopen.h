// Finding the unit again after it went away (unplugged, its terminal closed):
// always the same unit, by its serial number, whatever port it now has; for a
// path given on the command line, the same path. A different unit is never
// taken in its place. A unit that was not there at start-up is looked for by
// the serial number the way was given ("tty:SERIAL"), when it was given one.
// device::Unit does it (CheckForRun, LookFor); here is what it finds.
#pragma once

#include "device/d2xx.h"

#include <cstdint>
#include <string>

namespace device {

// What START finds of the unit before a run.
enum class UnitState {
    Open,         // it still answers to its handle
    NeverListed,  // no unit was listed at start-up, and the way names none: there is nothing to find
    Reopened,     // it had gone (or was not there at start-up) and is open now
    ReopenFailed, // it had gone (or its open had failed, or it was not there) and cannot be opened now
};

struct UnitCheck {
    UnitState state = UnitState::Open;
    std::string goneReason;   // why the handle was no longer usable
    std::string openProblem;  // why it could not be opened again, when it could not
    FT_STATUS status = FT_OK; // the open's result, when one was tried
    std::string serialNumber; // the unit looked for, when one was
};

// The serial number of the unit to find again: the one listed at start-up, else
// the one the installed way was given; empty when there is none.
std::string SoughtUnit(const char* serialNumber);

} // namespace device
