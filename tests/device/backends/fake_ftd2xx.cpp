// A stand-in for FTDI's D2XX library, built as a shared library and loaded by
// its path: one unit, "FAKE0001", that answers every request with a fixed frame.
// Built a second time without FT_Read to stand for a library that lacks a call.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using Status = std::uint32_t;
using Dword = std::uint32_t;

constexpr Status kOk = 0;
constexpr Status kInvalidHandle = 1;
constexpr Status kDeviceNotFound = 2;
constexpr Status kInvalidParameter = 6;
constexpr Dword kListByIndexBySerial = 0x40000001;
constexpr Dword kOpenBySerial = 1;
constexpr char kSerial[] = "FAKE0001";
constexpr char kFrame[] = "AD0=123 V, AD1=456\x35\r\n";

struct FakeUnit {
    bool open = false;
    std::string rx;
    int matched = 0;
    unsigned latency = 0;
    unsigned baud = 0;
    unsigned foreignHandleCalls = 0;
} unit;

// Counts calls that reach the library with a handle it never gave out.
bool Mine(void* handle) {
    if (handle == &unit && unit.open)
        return true;
    ++unit.foreignHandleCalls;
    return false;
}

} // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT Status FT_ListDevices(void* arg1, void* arg2, Dword flags) {
    if (flags != kListByIndexBySerial || arg2 == nullptr)
        return kInvalidParameter;
    if (reinterpret_cast<std::uintptr_t>(arg1) != 0)
        return kDeviceNotFound;
    std::memcpy(arg2, kSerial, sizeof kSerial);
    return kOk;
}

FAKE_EXPORT Status FT_OpenEx(void* arg1, Dword flags, void** handle) {
    if (flags != kOpenBySerial || std::strcmp(static_cast<const char*>(arg1), kSerial) != 0)
        return kDeviceNotFound;
    unit.open = true;
    *handle = &unit;
    return kOk;
}

FAKE_EXPORT Status FT_SetBaudRate(void* handle, Dword baud) {
    if (!Mine(handle))
        return kInvalidHandle;
    unit.baud = baud;
    return kOk;
}

FAKE_EXPORT Status FT_SetDataCharacteristics(void* handle, unsigned char, unsigned char, unsigned char) {
    return Mine(handle) ? kOk : kInvalidHandle;
}

FAKE_EXPORT Status FT_SetRts(void* handle) {
    return Mine(handle) ? kOk : kInvalidHandle;
}

FAKE_EXPORT Status FT_ClrRts(void* handle) {
    return Mine(handle) ? kOk : kInvalidHandle;
}

FAKE_EXPORT Status FT_Purge(void* handle, Dword mask) {
    if (!Mine(handle))
        return kInvalidHandle;
    if (mask & 1)
        unit.rx.clear();
    return kOk;
}

FAKE_EXPORT Status FT_Write(void* handle, void* buffer, Dword count, Dword* written) {
    if (!Mine(handle))
        return kInvalidHandle;
    static constexpr char kRequest[3] = {0x41, 0x4C, 0x0D};
    const auto* bytes = static_cast<const char*>(buffer);
    for (Dword i = 0; i < count; ++i) {
        unit.matched = bytes[i] == kRequest[unit.matched] ? unit.matched + 1
                       : bytes[i] == kRequest[0]          ? 1
                                                          : 0;
        if (unit.matched == 3) {
            unit.rx += kFrame;
            unit.matched = 0;
        }
    }
    *written = count;
    return kOk;
}

FAKE_EXPORT Status FT_GetStatus(void* handle, Dword* rx, Dword* tx, Dword* events) {
    if (!Mine(handle))
        return kInvalidHandle;
    *rx = Dword(unit.rx.size());
    *tx = 0;
    *events = 0;
    return kOk;
}

#ifndef FAKE_FTD2XX_WITHOUT_READ
FAKE_EXPORT Status FT_Read(void* handle, void* buffer, Dword count, Dword* got) {
    if (!Mine(handle))
        return kInvalidHandle;
    const std::size_t n = std::min<std::size_t>(count, unit.rx.size());
    std::memcpy(buffer, unit.rx.data(), n);
    unit.rx.erase(0, n);
    *got = Dword(n);
    return kOk;
}
#endif

FAKE_EXPORT Status FT_SetLatencyTimer(void* handle, unsigned char milliseconds) {
    if (!Mine(handle))
        return kInvalidHandle;
    unit.latency = milliseconds;
    return kOk;
}

// For the tests: what the backend set, and how often it let a foreign handle through.
FAKE_EXPORT unsigned FakeLatency() {
    return unit.latency;
}
FAKE_EXPORT unsigned FakeBaud() {
    return unit.baud;
}
FAKE_EXPORT unsigned FakeForeignHandleCalls() {
    return unit.foreignHandleCalls;
}
