#include "device/backends/auto_backend.h"

#include "device/backends/d2xx_library_backend.h"
#include "device/backends/libftdi_backend.h"
#include "device/backends/tty_backend.h"

namespace device {

namespace {
constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
}

AutoBackend::AutoBackend(std::vector<Candidate> candidates) : candidates_(std::move(candidates)) {}

std::unique_ptr<AutoBackend> AutoBackend::WithRealBackends() {
    std::vector<Candidate> candidates;
    candidates.push_back({"d2xx", std::make_unique<D2xxLibraryBackend>()});
    candidates.push_back({"tty", std::make_unique<TtyBackend>()});
    candidates.push_back({"ftdi", std::make_unique<LibFtdiBackend>()});
    return std::make_unique<AutoBackend>(std::move(candidates));
}

std::string AutoBackend::ChosenName() const {
    return chosen_ ? chosen_->name : std::string();
}

D2xxBackend* AutoBackend::Choose() {
    if (chosen_)
        return chosen_->backend.get();
    problem_.clear();
    for (Candidate& candidate : candidates_) {
        char serial[64] = {};
        if (candidate.backend->ListDevices(0, serial, kListFlags) == FT_OK) {
            chosen_ = &candidate;
            return candidate.backend.get();
        }
        // Why each way failed, for the log when none works.
        const std::string why = candidate.backend->LastProblem();
        if (!why.empty())
            problem_ += (problem_.empty() ? "" : "; ") + candidate.name + ": " + why;
    }
    if (problem_.empty())
        problem_ = "No FTDI unit found";
    return nullptr;
}

FT_STATUS AutoBackend::ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    if (flags != kListFlags || serialNumber == nullptr)
        return FT_INVALID_PARAMETER;
    D2xxBackend* backend = Choose();
    return backend ? backend->ListDevices(index, serialNumber, flags) : FT_DEVICE_NOT_FOUND;
}

FT_STATUS AutoBackend::OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    D2xxBackend* backend = Choose();
    return backend ? backend->OpenEx(serialNumber, flags, handle) : FT_DEVICE_NOT_FOUND;
}

// Until a candidate is chosen no handle can have been opened, so every handle is unknown.

FT_STATUS AutoBackend::SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return chosen_ ? chosen_->backend->SetBaudRate(handle, baud) : FT_INVALID_HANDLE;
}

FT_STATUS AutoBackend::SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                              UCHAR parity) {
    return chosen_ ? chosen_->backend->SetDataCharacteristics(handle, wordLength, stopBits, parity)
                   : FT_INVALID_HANDLE;
}

FT_STATUS AutoBackend::SetRts(FT_HANDLE handle) {
    return chosen_ ? chosen_->backend->SetRts(handle) : FT_INVALID_HANDLE;
}

FT_STATUS AutoBackend::ClrRts(FT_HANDLE handle) {
    return chosen_ ? chosen_->backend->ClrRts(handle) : FT_INVALID_HANDLE;
}

FT_STATUS AutoBackend::Purge(FT_HANDLE handle, ULONG mask) {
    return chosen_ ? chosen_->backend->Purge(handle, mask) : FT_INVALID_HANDLE;
}

FT_STATUS AutoBackend::Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    if (chosen_)
        return chosen_->backend->Write(handle, buffer, count, written);
    if (written)
        *written = 0;
    return FT_INVALID_HANDLE;
}

FT_STATUS AutoBackend::GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) {
    if (chosen_)
        return chosen_->backend->GetStatus(handle, rxQueue, txQueue, eventStatus);
    for (DWORD* out : {rxQueue, txQueue, eventStatus})
        if (out)
            *out = 0;
    return FT_INVALID_HANDLE;
}

FT_STATUS AutoBackend::Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) {
    if (chosen_)
        return chosen_->backend->Read(handle, buffer, count, bytesRead);
    if (bytesRead)
        *bytesRead = 0;
    return FT_INVALID_HANDLE;
}

DataWakeup AutoBackend::Wakeup(FT_HANDLE handle, DWORD awaitedBytes) {
    return chosen_ ? chosen_->backend->Wakeup(handle, awaitedBytes) : DataWakeup{};
}

const char* AutoBackend::LastProblem() const {
    return chosen_ ? chosen_->backend->LastProblem() : problem_.c_str();
}

} // namespace device

namespace device {

std::string AutoBackend::UnitGone(FT_HANDLE handle) const {
    return chosen_ ? chosen_->backend->UnitGone(handle) : std::string(kNoUnitOpen);
}

void AutoBackend::Close(FT_HANDLE handle) {
    if (chosen_)
        chosen_->backend->Close(handle);
}

std::vector<UnitListing> AutoBackend::Units() {
    std::vector<UnitListing> units;
    for (Candidate& candidate : candidates_)
        for (UnitListing& unit : candidate.backend->Units())
            units.push_back(std::move(unit));
    return units;
}

std::vector<std::string> AutoBackend::Notes() {
    std::vector<std::string> notes;
    for (Candidate& candidate : candidates_) {
        char serial[64] = {};
        if (candidate.backend->ListDevices(0, serial, kListFlags) == FT_OK)
            continue;
        const std::string why = candidate.backend->LastProblem();
        if (!why.empty())
            notes.push_back(candidate.name + ": " + why);
    }
    return notes;
}

} // namespace device
