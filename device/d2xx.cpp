#include "device/d2xx.h"

#include "device/port.h"

#include <algorithm>
#include <cstring>


namespace device {

namespace {

// Stands in until a way is chosen: nothing is listed, so nothing is opened.
class NoBackend : public Backend {
public:
    UnitKind Kind() const override { return UnitKind::None; }
    FT_STATUS List(DWORD, std::string&) override { return FT_DEVICE_NOT_FOUND; }
    FT_STATUS Open(const std::string&, std::unique_ptr<Port>&) override { return FT_DEVICE_NOT_FOUND; }
};

// Reports a count through an out-parameter that may be null.
void Put(DWORD* out, DWORD value) {
    if (out)
        *out = value;
}

} // namespace

CheckedD2xx::CheckedD2xx(std::unique_ptr<Backend> way)
    : way_(way ? std::move(way) : std::make_unique<NoBackend>()) {}

CheckedD2xx::~CheckedD2xx() = default;

Port* CheckedD2xx::Find(FT_HANDLE handle) const {
    if (handle == nullptr)
        return nullptr;
    const auto found = std::find_if(opened_.begin(), opened_.end(),
                                    [&](const Opened& opened) { return opened.port.get() == handle; });
    return found == opened_.end() ? nullptr : found->port.get();
}

Port* CheckedD2xx::Usable(FT_HANDLE handle, FT_STATUS& status) const {
    Port* port = Find(handle);
    status = port ? port->Usable() : FT_INVALID_HANDLE;
    return status == FT_OK ? port : nullptr;
}

FT_STATUS CheckedD2xx::Noted(Port& port, FT_STATUS status) {
    if (port.Usable() != FT_OK)
        problem_ = port.Gone();
    return status;
}

FT_STATUS CheckedD2xx::ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    if (flags != kListBySerialNumber || serialNumber == nullptr)
        return FT_INVALID_PARAMETER;
    std::string serial;
    const FT_STATUS status = way_->List(index, serial);
    problem_ = way_->Problem();
    if (status != FT_OK)
        return status;
    const std::size_t n = std::min(serial.size(), kSerialNumberSize - 1);
    std::memcpy(serialNumber, serial.data(), n);
    serialNumber[n] = '\0';
    return FT_OK;
}

FT_STATUS CheckedD2xx::OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || serialNumber == nullptr || handle == nullptr)
        return FT_INVALID_PARAMETER;
    std::unique_ptr<Port> port;
    FT_STATUS status = way_->Open(serialNumber, port);
    problem_ = way_->Problem();
    if (status == FT_OK && !port)
        status = FT_DEVICE_NOT_OPENED;
    if (status != FT_OK)
        return status;
    *handle = port.get();
    opened_.push_back({std::move(port), way_->Kind()});
    return FT_OK;
}

template <typename Call> FT_STATUS CheckedD2xx::OnPort(FT_HANDLE handle, Call call) {
    FT_STATUS status = FT_OK;
    Port* port = Usable(handle, status);
    return port ? Noted(*port, call(*port)) : status;
}

template <typename Move>
FT_STATUS CheckedD2xx::Moving(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* moved, Move move) {
    DWORD done = 0;
    const FT_STATUS status = OnPort(handle, [&](Port& port) {
        return buffer == nullptr && count > 0 ? FT_INVALID_PARAMETER : move(port, done);
    });
    Put(moved, status == FT_OK ? done : 0);
    return status;
}

FT_STATUS CheckedD2xx::SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return OnPort(handle, [&](Port& port) { return port.SetBaudRate(baud); });
}

FT_STATUS CheckedD2xx::SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                              UCHAR parity) {
    return OnPort(handle,
                  [&](Port& port) { return port.SetDataCharacteristics(wordLength, stopBits, parity); });
}

FT_STATUS CheckedD2xx::SetRts(FT_HANDLE handle) {
    return OnPort(handle, [](Port& port) { return port.SetRts(true); });
}

FT_STATUS CheckedD2xx::ClrRts(FT_HANDLE handle) {
    return OnPort(handle, [](Port& port) { return port.SetRts(false); });
}

FT_STATUS CheckedD2xx::Purge(FT_HANDLE handle, ULONG mask) {
    return OnPort(handle, [&](Port& port) { return port.Purge(mask); });
}

FT_STATUS CheckedD2xx::Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    return Moving(handle, buffer, count, written,
                  [&](Port& port, DWORD& done) { return port.Write(buffer, count, done); });
}

FT_STATUS CheckedD2xx::GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) {
    QueueCounts counts;
    const FT_STATUS status = OnPort(handle, [&](Port& port) { return port.Queued(counts); });
    if (status != FT_OK)
        counts = {};
    Put(rxQueue, counts.rx);
    Put(txQueue, counts.tx);
    Put(eventStatus, counts.events);
    return status;
}

FT_STATUS CheckedD2xx::Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) {
    return Moving(handle, buffer, count, bytesRead,
                  [&](Port& port, DWORD& done) { return port.Read(buffer, count, done); });
}

DataWakeup CheckedD2xx::Wakeup(FT_HANDLE handle, DWORD awaitedBytes) {
    FT_STATUS status = FT_OK;
    Port* port = Usable(handle, status);
    return port ? port->Wakeup(awaitedBytes) : DataWakeup{};
}

std::string CheckedD2xx::UnitGone(FT_HANDLE handle) const {
    const Port* port = Find(handle);
    return port ? port->Gone() : std::string(kNoUnitOpen);
}

void CheckedD2xx::Close(FT_HANDLE handle) {
    if (Port* port = Find(handle))
        port->Close();
}

std::vector<UnitListing> CheckedD2xx::Units() {
    return way_->Units();
}

UnitKind CheckedD2xx::KindOf(FT_HANDLE handle) const {
    for (const Opened& opened : opened_)
        if (handle != nullptr && opened.port.get() == handle)
            return opened.kind;
    return way_->Kind();
}

std::string CheckedD2xx::SoughtSerialNumber() const {
    return way_->SoughtSerialNumber();
}

} // namespace device

namespace {
std::unique_ptr<device::CheckedD2xx>& Installed() {
    static auto frontEnd = std::make_unique<device::CheckedD2xx>(nullptr);
    return frontEnd;
}
} // namespace

device::CheckedD2xx& CurrentD2xx() {
    return *Installed();
}

void SetD2xxBackend(std::unique_ptr<device::Backend> way) {
    // The old ports go first: a way that opens the same unit again finds it free.
    Installed().reset();
    Installed() = std::make_unique<device::CheckedD2xx>(std::move(way));
}
