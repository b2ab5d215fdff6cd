// What a way to the unit has to offer behind the checked front end (d2xx.h): a
// Backend lists units and opens one into a Port. Neither sees a handle, and neither
// checks what the front end checks: a port is only called while it says it is
// usable, with buffers that are there and counts it may fill.
#pragma once

#include "device/d2xx.h"

#include <memory>
#include <string>
#include <vector>

namespace device {

// What FT_GetStatus reports.
struct QueueCounts {
    DWORD rx = 0;     // bytes received and waiting to be read
    DWORD tx = 0;     // bytes still to be sent
    DWORD events = 0; // the event status
};

// One open unit.
class Port {
public:
    virtual ~Port() = default;

    // FT_OK while calls may reach the unit; otherwise what every call now fails with.
    virtual FT_STATUS Usable() const = 0;
    // Why the unit can no longer be used, in plain words (kNoUnitOpen once let go);
    // empty while it still answers.
    virtual std::string Gone() const = 0;
    // Lets the unit go, so that it can be opened again.
    virtual void Close() = 0;

    virtual FT_STATUS SetBaudRate(ULONG baud) = 0;
    virtual FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) = 0;
    virtual FT_STATUS SetRts(bool high) = 0;
    virtual FT_STATUS Purge(ULONG mask) = 0;
    // `bytes` is there whenever `count` is not zero.
    virtual FT_STATUS Write(const void* bytes, DWORD count, DWORD& written) = 0;
    virtual FT_STATUS Queued(QueueCounts& counts) = 0;
    // Takes at most `count` bytes; what else is queued stays for the next read.
    virtual FT_STATUS Read(void* bytes, DWORD count, DWORD& got) = 0;
    // How to learn that `awaitedBytes` may be queued. A descriptor must stay unreadable
    // while fewer are queued, so that part of a reply sitting in the queue never wakes
    // the wait again and again.
    virtual DataWakeup Wakeup(DWORD awaitedBytes) = 0;
};

// One way to units: lists them and opens them.
class Backend {
public:
    virtual ~Backend() = default;

    virtual UnitKind Kind() const = 0;
    // The serial number of unit `index` (at most 63 bytes), or why not in the status.
    virtual FT_STATUS List(DWORD index, std::string& serialNumber) = 0;
    // The unit listed as `serialNumber`, opened: set for raw bytes, the caller sets its
    // line. On FT_OK `port` holds it.
    virtual FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<Port>& port) = 0;
    // Every unit this way can see now, for --list-units.
    virtual std::vector<UnitListing> Units() { return {}; }
    // The serial number this way is bound to and waits for, when it is bound to one.
    virtual std::string SoughtSerialNumber() const { return {}; }

    // Why the last List or Open failed, in plain words; empty when there is nothing to add.
    const std::string& Problem() const { return problem_; }

protected:
    std::string problem_;
};

} // namespace device
