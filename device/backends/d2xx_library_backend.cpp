#include "device/backends/d2xx_library_backend.h"

#include <algorithm>
#include <cstdint>
#include <dlfcn.h>

namespace device {

namespace {

// The library's C signatures. On Linux its DWORD and ULONG are 32-bit unsigned
// int (as FT_STATUS, DWORD and ULONG are here) and FT_HANDLE is a pointer.
extern "C" {
using ListDevicesFn = FT_STATUS (*)(void* arg1, void* arg2, DWORD flags);
using OpenExFn = FT_STATUS (*)(void* arg1, DWORD flags, FT_HANDLE* handle);
using SetBaudRateFn = FT_STATUS (*)(FT_HANDLE handle, ULONG baud);
using SetDataCharacteristicsFn = FT_STATUS (*)(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                               UCHAR parity);
using HandleOnlyFn = FT_STATUS (*)(FT_HANDLE handle);
using PurgeFn = FT_STATUS (*)(FT_HANDLE handle, ULONG mask);
using WriteFn = FT_STATUS (*)(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written);
using GetStatusFn = FT_STATUS (*)(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus);
using ReadFn = FT_STATUS (*)(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead);
using SetLatencyTimerFn = FT_STATUS (*)(FT_HANDLE handle, UCHAR milliseconds);
using CloseFn = FT_STATUS (*)(FT_HANDLE handle);
}

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
constexpr DWORD kOpenByDescription = 2;
// More than any desk has: bounds the listing should a library never say "no more".
constexpr DWORD kMaxListed = 64;
constexpr UCHAR kLatencyMs = 2;
constexpr int kPollMs = 4;

template <typename Fn> Fn Resolve(void* module, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(module, name));
}

} // namespace

struct D2xxLibraryBackend::Api {
    ListDevicesFn listDevices = nullptr;
    OpenExFn openEx = nullptr;
    SetBaudRateFn setBaudRate = nullptr;
    SetDataCharacteristicsFn setDataCharacteristics = nullptr;
    HandleOnlyFn setRts = nullptr;
    HandleOnlyFn clrRts = nullptr;
    PurgeFn purge = nullptr;
    WriteFn write = nullptr;
    GetStatusFn getStatus = nullptr;
    ReadFn read = nullptr;
    SetLatencyTimerFn setLatencyTimer = nullptr; // optional
    CloseFn close = nullptr;                     // optional
};

D2xxLibraryBackend::D2xxLibraryBackend(std::string library) : library_(std::move(library)) {
    module_ = ::dlopen(library_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        const char* why = ::dlerror();
        problem_ =
            "FTDI's D2XX library could not be loaded (" + std::string(why ? why : library_.c_str()) + ")";
        return;
    }
    auto api = std::make_unique<Api>();
    std::string missing;
    auto need = [&]<typename Fn>(Fn& slot, const char* name) {
        slot = Resolve<Fn>(module_, name);
        if (slot == nullptr)
            missing += missing.empty() ? name : std::string(", ") + name;
    };
    need(api->listDevices, "FT_ListDevices");
    need(api->openEx, "FT_OpenEx");
    need(api->setBaudRate, "FT_SetBaudRate");
    need(api->setDataCharacteristics, "FT_SetDataCharacteristics");
    need(api->setRts, "FT_SetRts");
    need(api->clrRts, "FT_ClrRts");
    need(api->purge, "FT_Purge");
    need(api->write, "FT_Write");
    need(api->getStatus, "FT_GetStatus");
    need(api->read, "FT_Read");
    if (!missing.empty()) {
        problem_ = library_ + " is not a usable D2XX library: it lacks " + missing;
        ::dlclose(module_);
        module_ = nullptr;
        return;
    }
    api->setLatencyTimer = Resolve<SetLatencyTimerFn>(module_, "FT_SetLatencyTimer");
    api->close = Resolve<CloseFn>(module_, "FT_Close");
    api_ = std::move(api);
}

D2xxLibraryBackend::~D2xxLibraryBackend() {
    // The library runs threads for an open unit, and the unit is never closed: it
    // stays loaded until the process ends.
    if (module_ != nullptr && open_.empty())
        ::dlclose(module_);
}

bool D2xxLibraryBackend::Known(FT_HANDLE handle) const {
    return api_ && handle != nullptr && std::find(open_.begin(), open_.end(), handle) != open_.end();
}

FT_STATUS D2xxLibraryBackend::ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    if (flags != kListFlags || serialNumber == nullptr)
        return FT_INVALID_PARAMETER;
    if (!api_)
        return FT_DEVICE_NOT_FOUND;
    // With FT_LIST_BY_INDEX the first argument carries the index itself.
    return api_->listDevices(reinterpret_cast<void*>(std::uintptr_t(index)), serialNumber, flags);
}

FT_STATUS D2xxLibraryBackend::OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || serialNumber == nullptr || handle == nullptr)
        return FT_INVALID_PARAMETER;
    if (!api_)
        return FT_DEVICE_NOT_FOUND;
    FT_HANDLE opened = nullptr;
    const FT_STATUS status = api_->openEx(const_cast<char*>(serialNumber), flags, &opened);
    if (status != FT_OK || opened == nullptr)
        return status != FT_OK ? status : FT_DEVICE_NOT_OPENED;
    if (api_->setLatencyTimer)
        api_->setLatencyTimer(opened, kLatencyMs); // quicker replies; not every chip takes it
    open_.push_back(opened);
    *handle = opened;
    return FT_OK;
}

FT_STATUS D2xxLibraryBackend::SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return Known(handle) ? api_->setBaudRate(handle, baud) : FT_INVALID_HANDLE;
}

FT_STATUS D2xxLibraryBackend::SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                     UCHAR parity) {
    return Known(handle) ? api_->setDataCharacteristics(handle, wordLength, stopBits, parity)
                         : FT_INVALID_HANDLE;
}

FT_STATUS D2xxLibraryBackend::SetRts(FT_HANDLE handle) {
    return Known(handle) ? api_->setRts(handle) : FT_INVALID_HANDLE;
}

FT_STATUS D2xxLibraryBackend::ClrRts(FT_HANDLE handle) {
    return Known(handle) ? api_->clrRts(handle) : FT_INVALID_HANDLE;
}

FT_STATUS D2xxLibraryBackend::Purge(FT_HANDLE handle, ULONG mask) {
    return Known(handle) ? api_->purge(handle, mask) : FT_INVALID_HANDLE;
}

// The out-parameters go through locals: the library is not asked to cope with null ones.
FT_STATUS D2xxLibraryBackend::Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    DWORD done = 0;
    const FT_STATUS status =
        Known(handle) ? Noted(handle, api_->write(handle, const_cast<void*>(buffer), count, &done))
                      : FT_INVALID_HANDLE;
    if (written)
        *written = done;
    return status;
}

FT_STATUS D2xxLibraryBackend::GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue,
                                        DWORD* eventStatus) {
    DWORD rx = 0;
    DWORD tx = 0;
    DWORD events = 0;
    const FT_STATUS status =
        Known(handle) ? Noted(handle, api_->getStatus(handle, &rx, &tx, &events)) : FT_INVALID_HANDLE;
    if (rxQueue)
        *rxQueue = status == FT_OK ? rx : 0;
    if (txQueue)
        *txQueue = status == FT_OK ? tx : 0;
    if (eventStatus)
        *eventStatus = status == FT_OK ? events : 0;
    return status;
}

FT_STATUS D2xxLibraryBackend::Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) {
    DWORD done = 0;
    const FT_STATUS status =
        Known(handle) ? Noted(handle, api_->read(handle, buffer, count, &done)) : FT_INVALID_HANDLE;
    if (bytesRead)
        *bytesRead = done;
    return status;
}

FT_STATUS D2xxLibraryBackend::Noted(FT_HANDLE handle, FT_STATUS status) {
    if ((status == FT_IO_ERROR || status == FT_DEVICE_NOT_FOUND) &&
        std::find(failed_.begin(), failed_.end(), handle) == failed_.end())
        failed_.push_back(handle);
    return status;
}

std::string D2xxLibraryBackend::UnitGone(FT_HANDLE handle) const {
    if (!Known(handle))
        return kNoUnitOpen;
    if (std::find(failed_.begin(), failed_.end(), handle) != failed_.end())
        return "the unit stopped answering FTDI's D2XX library (unplugged?)";
    return {};
}

void D2xxLibraryBackend::Close(FT_HANDLE handle) {
    if (!Known(handle))
        return;
    if (api_->close)
        api_->close(handle);
    std::erase(open_, handle);
    std::erase(failed_, handle);
}

std::vector<UnitListing> D2xxLibraryBackend::Units() {
    std::vector<UnitListing> units;
    if (!api_)
        return units;
    for (DWORD index = 0; index < kMaxListed; ++index) {
        char serial[64] = {};
        char description[64] = {};
        void* at = reinterpret_cast<void*>(std::uintptr_t(index));
        if (api_->listDevices(at, serial, kListFlags) != FT_OK)
            break;
        api_->listDevices(at, description, FT_LIST_BY_INDEX | kOpenByDescription);
        serial[sizeof serial - 1] = '\0';
        description[sizeof description - 1] = '\0';
        units.push_back(
            {"d2xx", serial, description, "device " + std::to_string(index) + " of " + library_, true, {}});
    }
    return units;
}

DataWakeup D2xxLibraryBackend::Wakeup(FT_HANDLE handle, DWORD) {
    return Known(handle) ? DataWakeup{-1, kPollMs} : DataWakeup{};
}

} // namespace device
