// A channel's value watched against its limits, sample by sample. It is
// outside once it has been above the high limit (or below the low one) for the
// hold time, and back once it is inside again by the hysteresis. Each change
// is a crossing, noted in the record on the sample row where it happens as
// "ad0 high", "ad0 low" or "ad0 back".
#pragma once

#include "channels/channel.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace channels {

enum class Crossing { High, Low, Back };

// Each channel's crossing at one sample, if it makes one.
using Crossings = std::array<std::optional<Crossing>, kChannelCount>;

// "high", "low", "back".
std::string_view CrossingWord(Crossing crossing);
// The note column's text: "ad0 high".
std::string Note(int channel, Crossing crossing);
// A note column's crossings, in order; none when the text holds other notes or none.
// Several crossings on one row are joined by "; ".
std::vector<std::pair<int, Crossing>> ParseNotes(std::string_view text);
inline constexpr std::string_view kNoteSeparator = "; ";
// Appends the note column's text of a sample's crossings ("ad0 high; ad1 low"); nothing when it made none.
void AppendNotes(std::string& out, const Crossings& crossings);
bool Any(const Crossings& crossings);

class LimitWatch {
public:
    enum class State { Inside, High, Low };

    // A new run: inside, nothing pending, no time outside.
    void Reset(const Channel& channel);
    // A reading of the channel at `elapsedMs` since START; none (off, or not three digits) leaves
    // everything as it is. Says the crossing this reading makes, if any.
    std::optional<Crossing> Take(std::optional<int> hundredths, std::int64_t elapsedMs);
    // The channel is switched off at `elapsedMs`: it is inside from now on, its time outside stops and
    // nothing is pending. No crossing is said, since its value did not come back; switched on again
    // and still outside, it crosses anew.
    void SwitchedOff(std::int64_t elapsedMs);

    bool Watched() const { return channel_.limits.Watched(); }
    State Now() const { return state_; }
    // The last value taken, in the channel's unit.
    double LastValue() const { return lastValue_; }
    // How long the channel was outside in this run, up to `elapsedMs` when it is outside now.
    std::int64_t OutsideMs(std::int64_t elapsedMs) const;

private:
    State Where(double value) const;

    Channel channel_;
    double hysteresis_ = 0;
    State state_ = State::Inside;
    std::optional<State> pending_;  // outside, the hold not yet over
    std::int64_t pendingSince_ = 0;
    std::int64_t outsideSince_ = 0;
    std::int64_t outsideMs_ = 0;
    double lastValue_ = 0;
};

// The line a crossing is said with (the log pane, standard error):
//   "ad0 (Oven) high: 412 °C, above the high limit of 400 °C"
QString CrossingLine(int channel, const Channel& settings, Crossing crossing, double value);
// The end of a run's line for a watched channel: "ad0 (Oven) was outside its limits for 12.3 s in all".
QString OutsideLine(int channel, const Channel& settings, std::int64_t outsideMs);

// How long a channel was outside, as the end of a run says it: "1 h 02 min 05 s", "12.3 s".
QString DurationText(std::int64_t ms);

} // namespace channels
