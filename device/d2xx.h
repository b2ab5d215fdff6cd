// The ten calls of FTDI's D2XX library that the logger makes, as one interface.
//
// Every backend (the simulated unit, the kernel tty, libftdi, FTDI's own library
// loaded at run time) implements D2xxBackend. The rest of the system calls the
// FT_* functions below, which go to the backend installed with SetD2xxBackend(),
// so the call sites read like the library's own API.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
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
    int fd = -1;        // becomes readable once the awaited count is queued (-1: none)
    int pollMs = -1;    // otherwise look again after this many ms (-1: nothing expected)
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

class D2xxBackend {
public:
    virtual ~D2xxBackend() = default;

    // FT_ListDevices with FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER: the serial
    // number of unit `index`, zero-terminated, into a 64-byte buffer.
    virtual FT_STATUS ListDevices(DWORD index, char* serialNumber, DWORD flags) = 0;
    virtual FT_STATUS OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) = 0;
    virtual FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) = 0;
    virtual FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                             UCHAR parity) = 0;
    virtual FT_STATUS SetRts(FT_HANDLE handle) = 0;
    virtual FT_STATUS ClrRts(FT_HANDLE handle) = 0;
    virtual FT_STATUS Purge(FT_HANDLE handle, ULONG mask) = 0;
    virtual FT_STATUS Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) = 0;
    virtual FT_STATUS GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) = 0;
    virtual FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) = 0;

    // Not a D2XX call: tells the reply wait how to learn that `awaitedBytes` may be queued. A
    // descriptor must stay unreadable while fewer are queued, so that part of a reply sitting in the
    // queue never wakes the wait again and again.
    virtual DataWakeup Wakeup(FT_HANDLE handle, DWORD awaitedBytes) = 0;
    // Not a D2XX call: a plain-words hint for the log when listing or opening failed
    // (a permission problem, say); empty when there is nothing to add.
    virtual const char* LastProblem() const { return ""; }

    // Not D2XX calls: finding a unit again after it went away.
    //
    // Why the unit behind `handle` can no longer be used (unplugged, an I/O error
    // since it was opened), in plain words; empty while it still answers to its
    // handle. A handle this backend never opened, or closed, is not usable either.
    virtual std::string UnitGone(FT_HANDLE handle) const {
        return handle == nullptr ? std::string(kNoUnitOpen) : std::string();
    }
    // Lets the unit behind `handle` go, so that it can be opened again.
    virtual void Close(FT_HANDLE) {}
    // Every unit this backend can see now, for --list-units.
    virtual std::vector<UnitListing> Units() { return {}; }

    static constexpr const char* kNoUnitOpen = "no unit is open";
};

// The backend in use. Starts as one whose every call fails with FT_DEVICE_NOT_FOUND
// or FT_INVALID_HANDLE, so nothing crashes before a real one is installed.
D2xxBackend& CurrentD2xx();
// Installs `backend` (ownership passes) and returns the previous one.
std::unique_ptr<D2xxBackend> SetD2xxBackend(std::unique_ptr<D2xxBackend> backend);

// The two globals of the device link: the unit's handle (zero until opened) and the
// result of the last checked call (FT_ListDevices, FT_OpenEx, FT_Read).
extern FT_HANDLE DeviceHandle;
extern FT_STATUS DeviceStatus;

inline FT_STATUS FT_ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    return CurrentD2xx().ListDevices(index, serialNumber, flags);
}
inline FT_STATUS FT_OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    return CurrentD2xx().OpenEx(serialNumber, flags, handle);
}
inline FT_STATUS FT_SetBaudRate(FT_HANDLE h, ULONG baud) { return CurrentD2xx().SetBaudRate(h, baud); }
inline FT_STATUS FT_SetDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop, UCHAR parity) {
    return CurrentD2xx().SetDataCharacteristics(h, bits, stop, parity);
}
inline FT_STATUS FT_SetRts(FT_HANDLE h) { return CurrentD2xx().SetRts(h); }
inline FT_STATUS FT_ClrRts(FT_HANDLE h) { return CurrentD2xx().ClrRts(h); }
inline FT_STATUS FT_Purge(FT_HANDLE h, ULONG mask) { return CurrentD2xx().Purge(h, mask); }
inline FT_STATUS FT_Write(FT_HANDLE h, const void* buf, DWORD n, DWORD* written) {
    return CurrentD2xx().Write(h, buf, n, written);
}
inline FT_STATUS FT_GetStatus(FT_HANDLE h, DWORD* rx, DWORD* tx, DWORD* ev) {
    return CurrentD2xx().GetStatus(h, rx, tx, ev);
}
inline FT_STATUS FT_Read(FT_HANDLE h, void* buf, DWORD n, DWORD* bytesRead) {
    return CurrentD2xx().Read(h, buf, n, bytesRead);
}
