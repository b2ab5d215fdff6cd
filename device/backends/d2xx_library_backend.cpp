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

constexpr DWORD kOpenByDescription = 2;
// More than any desk has: bounds the listing should a library never say "no more".
constexpr DWORD kMaxListed = 64;
constexpr UCHAR kLatencyMs = 2;
constexpr int kPollMs = 4;

template <typename Fn> Fn Resolve(void* module, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(module, name));
}

// With FT_LIST_BY_INDEX the first argument of FT_ListDevices carries the index itself.
void* ByIndex(DWORD index) {
    return reinterpret_cast<void*>(std::uintptr_t(index));
}

} // namespace

struct LoadedD2xxLibrary {
    ~LoadedD2xxLibrary() {
        // The library runs threads for an open unit: it stays loaded until the process ends.
        if (openUnits == 0)
            ::dlclose(module);
    }

    void* module = nullptr;
    int openUnits = 0;
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

namespace {

// A unit the library opened. Failures that mean it went away are noted for Gone();
// calls still reach the library until the unit is let go.
class LibraryPort : public Port {
public:
    LibraryPort(std::shared_ptr<LoadedD2xxLibrary> library, FT_HANDLE handle)
        : library_(std::move(library)), handle_(handle) {
        ++library_->openUnits;
    }

    FT_STATUS Usable() const override { return handle_ == nullptr ? FT_INVALID_HANDLE : FT_OK; }
    std::string Gone() const override {
        if (handle_ == nullptr)
            return kNoUnitOpen;
        return failed_ ? "the unit stopped answering FTDI's D2XX library (unplugged?)" : "";
    }
    void Close() override {
        if (handle_ == nullptr)
            return;
        if (library_->close)
            library_->close(handle_);
        --library_->openUnits;
        handle_ = nullptr;
    }

    FT_STATUS SetBaudRate(ULONG baud) override { return library_->setBaudRate(handle_, baud); }
    FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) override {
        return library_->setDataCharacteristics(handle_, wordLength, stopBits, parity);
    }
    FT_STATUS SetRts(bool high) override { return (high ? library_->setRts : library_->clrRts)(handle_); }
    FT_STATUS Purge(ULONG mask) override { return library_->purge(handle_, mask); }
    FT_STATUS Write(const void* bytes, DWORD count, DWORD& written) override {
        return Noted(library_->write(handle_, const_cast<void*>(bytes), count, &written));
    }
    FT_STATUS Queued(QueueCounts& counts) override {
        return Noted(library_->getStatus(handle_, &counts.rx, &counts.tx, &counts.events));
    }
    FT_STATUS Read(void* bytes, DWORD count, DWORD& got) override {
        return Noted(library_->read(handle_, bytes, count, &got));
    }
    DataWakeup Wakeup(DWORD) override { return {-1, kPollMs}; }

private:
    FT_STATUS Noted(FT_STATUS status) {
        failed_ = failed_ || status == FT_IO_ERROR || status == FT_DEVICE_NOT_FOUND;
        return status;
    }

    std::shared_ptr<LoadedD2xxLibrary> library_;
    FT_HANDLE handle_;
    bool failed_ = false; // the unit stopped answering
};

} // namespace

D2xxLibraryBackend::D2xxLibraryBackend(std::string library) : name_(std::move(library)) {
    void* module = ::dlopen(name_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = ::dlerror();
        problem_ = "FTDI's D2XX library could not be loaded (" + std::string(why ? why : name_.c_str()) + ")";
        return;
    }
    auto api = std::make_shared<LoadedD2xxLibrary>();
    api->module = module;
    std::string missing;
    auto need = [&]<typename Fn>(Fn& slot, const char* name) {
        slot = Resolve<Fn>(module, name);
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
        problem_ = name_ + " is not a usable D2XX library: it lacks " + missing;
        return;
    }
    api->setLatencyTimer = Resolve<SetLatencyTimerFn>(module, "FT_SetLatencyTimer");
    api->close = Resolve<CloseFn>(module, "FT_Close");
    library_ = std::move(api);
}

D2xxLibraryBackend::~D2xxLibraryBackend() = default;

FT_STATUS D2xxLibraryBackend::List(DWORD index, std::string& serialNumber) {
    if (!library_)
        return FT_DEVICE_NOT_FOUND;
    char serial[kSerialNumberSize] = {};
    const FT_STATUS status = library_->listDevices(ByIndex(index), serial, kListBySerialNumber);
    serial[sizeof serial - 1] = '\0';
    if (status == FT_OK)
        serialNumber = serial;
    return status;
}

FT_STATUS D2xxLibraryBackend::Open(const std::string& serialNumber, std::unique_ptr<Port>& port) {
    if (!library_)
        return FT_DEVICE_NOT_FOUND;
    FT_HANDLE opened = nullptr;
    const FT_STATUS status =
        library_->openEx(const_cast<char*>(serialNumber.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &opened);
    if (status != FT_OK || opened == nullptr)
        return status != FT_OK ? status : FT_DEVICE_NOT_OPENED;
    if (library_->setLatencyTimer)
        library_->setLatencyTimer(opened, kLatencyMs); // quicker replies; not every chip takes it
    port = std::make_unique<LibraryPort>(library_, opened);
    return FT_OK;
}

std::vector<UnitListing> D2xxLibraryBackend::Units() {
    std::vector<UnitListing> units;
    if (!library_)
        return units;
    for (DWORD index = 0; index < kMaxListed; ++index) {
        char serial[kSerialNumberSize] = {};
        char description[kSerialNumberSize] = {};
        if (library_->listDevices(ByIndex(index), serial, kListBySerialNumber) != FT_OK)
            break;
        library_->listDevices(ByIndex(index), description, FT_LIST_BY_INDEX | kOpenByDescription);
        serial[sizeof serial - 1] = '\0';
        description[sizeof description - 1] = '\0';
        units.push_back(
            {"d2xx", serial, description, "device " + std::to_string(index) + " of " + name_, true, {}});
    }
    return units;
}

} // namespace device
