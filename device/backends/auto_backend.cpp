#include "device/backends/auto_backend.h"

#include "device/backends/d2xx_library_backend.h"
#include "device/backends/libftdi_backend.h"
#include "device/backends/tty_backend.h"

namespace device {

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

Backend* AutoBackend::Choose() {
    if (chosen_)
        return chosen_->backend.get();
    problem_.clear();
    for (Candidate& candidate : candidates_) {
        std::string serial;
        if (candidate.backend->List(0, serial) == FT_OK) {
            chosen_ = &candidate;
            return candidate.backend.get();
        }
        // Why each way failed, for the log when none works.
        const std::string why = candidate.backend->Problem();
        if (!why.empty())
            problem_ += (problem_.empty() ? "" : "; ") + candidate.name + ": " + why;
    }
    if (problem_.empty())
        problem_ = "No FTDI unit found";
    return nullptr;
}

UnitKind AutoBackend::Kind() const {
    return chosen_ ? chosen_->backend->Kind() : UnitKind::None;
}

template <typename Call> FT_STATUS AutoBackend::OnChosen(Call call) {
    Backend* backend = Choose();
    if (backend == nullptr)
        return FT_DEVICE_NOT_FOUND;
    const FT_STATUS status = call(*backend);
    problem_ = backend->Problem();
    return status;
}

FT_STATUS AutoBackend::List(DWORD index, std::string& serialNumber) {
    return OnChosen([&](Backend& backend) { return backend.List(index, serialNumber); });
}

FT_STATUS AutoBackend::Open(const std::string& serialNumber, std::unique_ptr<Port>& port) {
    return OnChosen([&](Backend& backend) { return backend.Open(serialNumber, port); });
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
        std::string serial;
        if (candidate.backend->List(0, serial) == FT_OK)
            continue;
        const std::string why = candidate.backend->Problem();
        if (!why.empty())
            notes.push_back(candidate.name + ": " + why);
    }
    return notes;
}

} // namespace device
