#include "device/backends/unit_list.h"

#include "device/backends/auto_backend.h"
#include "device/simulated_unit.h"

#include <algorithm>
#include <array>

namespace device {

namespace {

constexpr std::size_t kColumns = 5;

std::string Padded(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

} // namespace

std::string UnitListText(const std::vector<UnitListing>& units, const std::vector<std::string>& notes) {
    std::vector<std::array<std::string, kColumns>> rows;
    rows.push_back({"WAY", "SERIAL", "DESCRIPTION", "PLACE", "MAY OPEN"});
    for (const UnitListing& unit : units)
        rows.push_back({unit.backend, unit.serialNumber, unit.description.empty() ? "-" : unit.description,
                        unit.place, unit.mayOpen ? "yes" : "no: " + unit.whyNot});
    std::array<std::size_t, kColumns> widths{};
    for (const auto& row : rows)
        for (std::size_t c = 0; c + 1 < kColumns; ++c)
            widths[c] = std::max(widths[c], row[c].size());
    std::string text;
    for (const auto& row : rows) {
        for (std::size_t c = 0; c + 1 < kColumns; ++c)
            text += Padded(row[c], widths[c] + 2);
        text += row[kColumns - 1] + "\n";
    }
    const bool onlySimulated = std::all_of(units.begin(), units.end(),
                                           [](const UnitListing& unit) { return unit.backend == "sim"; });
    if (onlySimulated)
        text += "\nNo measurement unit found. If one is plugged in, this user may not be allowed to see it: "
                "install the udev rule that comes with Tavrin (tavrin-ftdi.rules, installed as "
                "70-tavrin-ftdi.rules), then plug the unit in again. Without a unit, start the emulator "
                "(unit-emulator --serial EMU00001) and choose it with tavrin --device EMU00001, or use "
                "tavrin --device sim.\n";
    if (!notes.empty()) {
        text += "\nNotes:\n";
        for (const std::string& note : notes)
            text += "  " + note + "\n";
    }
    return text;
}

std::string ListEveryUnit() {
    auto real = AutoBackend::WithRealBackends();
    std::vector<UnitListing> units = real->Units();
    for (UnitListing& unit : SimulatedUnit().Units())
        units.push_back(std::move(unit));
    return UnitListText(units, real->Notes());
}

} // namespace device
