// The ten calls of FTDI's D2XX library that the logger makes, over whichever way to
// the unit is installed.
//
// Every way (the simulated unit, the kernel tty, libftdi, FTDI's own library loaded
// at run time, the automatic choice among them, one unit chosen by its serial number)
// is a device::Backend that lists units and opens them into device::Ports (port.h).
// device::CheckedD2xx puts the D2XX calls in front of one: it hands out the handles,
// looks every handle up, checks the arguments and zeroes what a failed call reports,
// once for every way. The rest of the system calls the FT_* functions below, which go
// to the front end installed with SetD2xxBackend(), so the call sites read like the
// library's own API.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = std::uint8_t;

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr FT_STATUS FT_OTHER_ERROR = 18;

constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr UCHAR FT_BITS_8 = 8;
constexpr UCHAR FT_STOP_BITS_1 = 0;
constexpr UCHAR FT_PARITY_NONE = 0;
constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;

// How a wait for reply bytes can sleep instead of spinning.
struct DataWakeup {
    int fd = -1;     // becomes readable once the awaited count is queued (-1: none)
    int pollMs = -1; // otherwise look again after this many ms (-1: nothing expected)
};

// One unit as --list-units shows it.
struct UnitListing {
    std::string backend;      // the --device name of the way to it: "d2xx", "tty", "ftdi", "sim"
    std::string serialNumber; // what it is listed and opened by
    std::string description;  // the chip's product string, or what stands in for the unit
    std::string place;        // its port, or where it sits on USB
    bool mayOpen = true;      // whether this user may open it
    std::string whyNot;       // when not, why, in plain words
};

namespace device {

class Backend;
class Port;

// What kind of unit a way opens.
enum class UnitKind { None, Simulated, Tty, LibFtdi, D2xxLibrary };

// Why a handle that was never opened, or was let go, cannot be used.
constexpr const char* kNoUnitOpen = "no unit is open";

// The flags of the one listing the logger makes: unit by index, its serial number.
constexpr DWORD kListBySerialNumber = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
// Room for a serial number with its zero, as FT_ListDevices fills it.
constexpr std::size_t kSerialNumberSize = 64;

// The D2XX calls over one way. A handle is the address of an open port, but it is only
// followed after it has been found among the ports this front end opened: the logger
// goes on calling with whatever handle the connection left (zero when nothing was
// opened), and such calls must fail harmlessly.
//
// Every call on a handle fails with FT_INVALID_HANDLE when the handle is unknown, and
// with what the port says (FT_IO_ERROR for a port that went away, say) when it can no
// longer be used; counts it reports are zero unless it succeeds. Null buffers with a
// count, null out-parameters that are needed and flags other than the logger's are
// FT_INVALID_PARAMETER. Out-parameters that may be null are simply not written.
class CheckedD2xx {
public:
    explicit CheckedD2xx(std::unique_ptr<Backend> way);
    CheckedD2xx(const CheckedD2xx&) = delete;
    CheckedD2xx& operator=(const CheckedD2xx&) = delete;
    ~CheckedD2xx();

    // With FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER: the serial number of unit
    // `index`, zero-terminated, into a 64-byte buffer.
    FT_STATUS ListDevices(DWORD index, char* serialNumber, DWORD flags);
    // By serial number. *handle is written only when the unit opened: a failed open
    // leaves the handle the caller holds as it was.
    FT_STATUS OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle);
    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud);
    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
    FT_STATUS SetRts(FT_HANDLE handle);
    FT_STATUS ClrRts(FT_HANDLE handle);
    FT_STATUS Purge(FT_HANDLE handle, ULONG mask);
    FT_STATUS Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written);
    FT_STATUS GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus);
    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead);

    // Not D2XX calls.
    //
    // Tells the reply wait how to learn that `awaitedBytes` may be queued; nothing to
    // wait for on a handle that cannot be used.
    DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes);
    // A plain-words hint for the log after listing or opening failed (a permission
    // problem, say), or after the open unit went away; empty when there is nothing to add.
    const char* LastProblem() const { return problem_.c_str(); }
    // Why the unit behind `handle` can no longer be used (unplugged, an I/O error since
    // it was opened), in plain words; empty while it still answers to its handle.
    // kNoUnitOpen for a handle never opened, or let go.
    std::string UnitGone(FT_HANDLE handle) const;
    // Lets the unit behind `handle` go, so that it can be opened again. The handle
    // stays known: calls on it fail as on a unit that can no longer be used.
    void Close(FT_HANDLE handle);
    // Every unit the way can see now, for --list-units.
    std::vector<UnitListing> Units();
    // The kind of unit behind `handle`; for a handle not opened here, the kind the way
    // opens (None for the automatic choice before it has chosen).
    UnitKind KindOf(FT_HANDLE handle) const;
    // The serial number the way was given, when it is bound to one unit and waits for
    // it ("tty:SERIAL"); empty otherwise.
    std::string SoughtSerialNumber() const;

private:
    struct Opened {
        std::unique_ptr<Port> port;
        UnitKind kind;
    };
    // The port behind `handle` that calls may reach now, or nullptr with `status` set.
    Port* Usable(FT_HANDLE handle, FT_STATUS& status) const;
    Port* Find(FT_HANDLE handle) const;
    // Keeps why a call left its port unusable, for LastProblem().
    FT_STATUS Noted(Port& port, FT_STATUS status);
    // Makes `call` on the port behind `handle` when calls may reach it; otherwise fails as they should.
    template <typename Call> FT_STATUS OnPort(FT_HANDLE handle, Call call);
    // A write or a read: a buffer must be there for any count, and the count of bytes
    // moved, written to `moved` when given, is zero unless the call succeeded.
    template <typename Move>
    FT_STATUS Moving(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* moved, Move move);

    std::unique_ptr<Backend> way_;
    // Declared after the way: ports go before the way that opened them.
    std::vector<Opened> opened_;
    std::string problem_;
};

} // namespace device

// The front end in use. Starts over a way that lists nothing, so every call fails
// with FT_DEVICE_NOT_FOUND or FT_INVALID_HANDLE before a real one is installed.
device::CheckedD2xx& CurrentD2xx();
// Installs a front end over `way` (nullptr: the way that lists nothing). The ports the
// previous one opened are let go, and their handles are unknown from now on.
void SetD2xxBackend(std::unique_ptr<device::Backend> way);

