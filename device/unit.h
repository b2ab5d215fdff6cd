// The unit a session talks to: its handle on the checked front end, the result
// of the last checked call (listing, opening, reading) and its serial number.
// One object, given to the session; nothing about the unit is global.
#pragma once

#include "device/connect.h"
#include "device/d2xx.h"
#include "device/exchange.h"
#include "device/unit_protocol.h"
#include "device/unit_reopen.h"

#include <string>

namespace device {

class Unit {
public:
    Unit() = default;
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    FT_HANDLE Handle() const { return handle_; }
    // The result of the last listing, opening or read.
    FT_STATUS Status() const { return status_; }
    // The serial number listed at start-up (or found since), zero-terminated; empty when none was.
    char (&SerialNumber())[kSerialNumberSize] { return serialNumber_; }
    const char* SerialNumber() const { return serialNumber_; }

    // The connection sequence: the first 10 bytes of the serial number zeroed, unit 0 listed into it;
    // only when that succeeded, opened by that serial number; whatever happened, the line set (its
    // results leave the status alone). The caller tells the user.
    ConnectOutcome Connect();

    // Before a run: the RTS pulse and both queues purged.
    void PrepareForRun();
    // The exchange, in steps that never wait.
    void SendRequest();
    ExchangeResult TakeReply(std::int16_t replyTicks, RxBufferBytes& rx);
    DataWakeup ReplyWakeup() const;

    // Why the unit can no longer be used, in plain words; empty while it answers to its handle.
    std::string Gone() const;
    // What START finds of the unit: when it has gone, it is opened again (the same unit, always).
    UnitCheck CheckForRun();
    // One look for the unit a run waits for; true once it is open. The caller looks again later.
    bool LookFor();
    // A unit that was opened again answers from now on.
    void MarkAnswering() { status_ = FT_OK; }
    void SetStatus(FT_STATUS status) { status_ = status; }

    // The unit as the sample sinks name it.
    std::string Name() const;

private:
    // Lets the unit go and opens the one with `serialNumber` again, its line set.
    FT_STATUS Reopen(const char* serialNumber);

    FT_HANDLE handle_ = nullptr;
    FT_STATUS status_ = FT_OK;
    char serialNumber_[kSerialNumberSize] = {};
};

} // namespace device
