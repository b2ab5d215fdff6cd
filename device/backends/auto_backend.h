// The default way to the unit: several ways are asked in turn, and the first
// that lists a unit is used from then on.
#pragma once

#include "device/port.h"

#include <memory>
#include <string>
#include <vector>

namespace device {

class AutoBackend : public Backend {
public:
    struct Candidate {
        std::string name; // for the log: its --device name ("d2xx", "tty", "ftdi")
        std::unique_ptr<Backend> backend;
    };

    // Candidates in order of preference.
    explicit AutoBackend(std::vector<Candidate> candidates);

    // FTDI's library, then the kernel's FTDI ttys, then libftdi.
    static std::unique_ptr<AutoBackend> WithRealBackends();

    // The candidate in use: empty until one has listed a unit.
    std::string ChosenName() const;

    // The chosen candidate's kind; None until one is chosen.
    UnitKind Kind() const override;
    FT_STATUS List(DWORD index, std::string& serialNumber) override;
    // The problem is the chosen candidate's; until one is chosen, why none listed a unit.
    FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<Port>& port) override;
    // Every candidate's units, in order of preference.
    std::vector<UnitListing> Units() override;
    // Why candidates that could not look for units (a library missing, say)
    // could not, one line each; for --list-units.
    std::vector<std::string> Notes();

private:
    // Picks the first candidate that lists a unit, unless one was picked already.
    Backend* Choose();
    // Makes `call` on the chosen candidate and takes its problem; not found when none lists a unit.
    template <typename Call> FT_STATUS OnChosen(Call call);

    std::vector<Candidate> candidates_;
    Candidate* chosen_ = nullptr;
};

} // namespace device
