#include "channels/limit_watch.h"

#include <algorithm>
#include <cmath>

namespace channels {

std::string_view CrossingWord(Crossing crossing) {
    switch (crossing) {
    case Crossing::High: return "high";
    case Crossing::Low: return "low";
    case Crossing::Back: return "back";
    }
    return {};
}

std::string Note(int channel, Crossing crossing) {
    std::string note = "ad";
    note += char('0' + channel);
    note += ' ';
    note += CrossingWord(crossing);
    return note;
}

void AppendNotes(std::string& out, const Crossings& crossings) {
    bool first = true;
    for (int channel = 0; channel < kChannelCount; ++channel)
        if (const auto& crossing = crossings[std::size_t(channel)]) {
            if (!first)
                out += kNoteSeparator;
            out += Note(channel, *crossing);
            first = false;
        }
}

bool Any(const Crossings& crossings) {
    for (const auto& crossing : crossings)
        if (crossing)
            return true;
    return false;
}

std::vector<std::pair<int, Crossing>> ParseNotes(std::string_view text) {
    std::vector<std::pair<int, Crossing>> crossings;
    while (!text.empty()) {
        const std::size_t end = text.find(kNoteSeparator);
        const std::string_view note = text.substr(0, end);
        bool known = false;
        for (int channel = 0; channel < kChannelCount && !known; ++channel)
            for (const Crossing crossing : {Crossing::High, Crossing::Low, Crossing::Back})
                if (note == Note(channel, crossing)) {
                    crossings.emplace_back(channel, crossing);
                    known = true;
                    break;
                }
        if (!known)
            return {};
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + kNoteSeparator.size());
    }
    return crossings;
}

void LimitWatch::Reset(const Channel& channel) {
    *this = LimitWatch();
    channel_ = channel;
    hysteresis_ = Hysteresis(channel);
}

LimitWatch::State LimitWatch::Where(double value) const {
    const Limits& limits = channel_.limits;
    if (limits.high && value > *limits.high)
        return State::High;
    if (limits.low && value < *limits.low)
        return State::Low;
    // Between the limits, but not yet inside by the hysteresis: still where it was.
    if (state_ == State::High && value > *limits.high - hysteresis_)
        return State::High;
    if (state_ == State::Low && value < *limits.low + hysteresis_)
        return State::Low;
    return State::Inside;
}

std::optional<Crossing> LimitWatch::Take(std::optional<int> hundredths, std::int64_t elapsedMs) {
    if (!hundredths || !Watched())
        return std::nullopt;
    lastValue_ = ValueOf(channel_.scale, *hundredths);
    const State where = Where(lastValue_);
    if (where == state_) {
        pending_.reset();
        return std::nullopt;
    }
    if (where != State::Inside) {
        // Out, or from one side to the other: it counts once it has stayed there for the hold time.
        if (pending_ != where) {
            pending_ = where;
            pendingSince_ = elapsedMs;
        }
        if (double(elapsedMs - pendingSince_) < channel_.limits.holdS * 1000)
            return std::nullopt;
    }
    pending_.reset();
    if (state_ == State::Inside)
        outsideSince_ = elapsedMs;
    if (where == State::Inside)
        outsideMs_ += elapsedMs - outsideSince_;
    state_ = where;
    switch (where) {
    case State::High: return Crossing::High;
    case State::Low: return Crossing::Low;
    case State::Inside: return Crossing::Back;
    }
    return std::nullopt;
}

void LimitWatch::SwitchedOff(std::int64_t elapsedMs) {
    pending_.reset();
    if (state_ != State::Inside)
        outsideMs_ += std::max<std::int64_t>(0, elapsedMs - outsideSince_);
    state_ = State::Inside;
}

std::int64_t LimitWatch::OutsideMs(std::int64_t elapsedMs) const {
    return outsideMs_ + (state_ == State::Inside ? 0 : std::max<std::int64_t>(0, elapsedMs - outsideSince_));
}

namespace {

QString Named(int channel, const Channel& settings) {
    return QStringLiteral("%1 (%2)").arg(Key(channel), settings.name);
}

QString WithUnit(const Channel& settings, double value) {
    return FormatValue(settings.scale, value) + QLatin1Char(' ') + settings.unit;
}

} // namespace

QString CrossingLine(int channel, const Channel& settings, Crossing crossing, double value) {
    const QString head = QStringLiteral("%1 %2: %3, ").arg(Named(channel, settings),
                                                            QString::fromLatin1(CrossingWord(crossing)),
                                                            WithUnit(settings, value));
    const Limits& limits = settings.limits;
    switch (crossing) {
    case Crossing::High: return head + QStringLiteral("above the high limit of %1").arg(WithUnit(settings, *limits.high));
    case Crossing::Low: return head + QStringLiteral("below the low limit of %1").arg(WithUnit(settings, *limits.low));
    case Crossing::Back: break;
    }
    if (limits.low && limits.high)
        return head + QStringLiteral("back inside %1 to %2").arg(WithUnit(settings, *limits.low),
                                                                  WithUnit(settings, *limits.high));
    if (limits.high)
        return head + QStringLiteral("back below the high limit of %1").arg(WithUnit(settings, *limits.high));
    return head + QStringLiteral("back above the low limit of %1").arg(WithUnit(settings, *limits.low));
}

QString OutsideLine(int channel, const Channel& settings, std::int64_t outsideMs) {
    return QStringLiteral("%1 was outside its limits for %2 in all").arg(Named(channel, settings), DurationText(outsideMs));
}

QString DurationText(std::int64_t ms) {
    if (ms < 60'000)
        return QStringLiteral("%1 s").arg(double(ms) / 1000, 0, 'f', 1);
    const std::int64_t s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min %3 s")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace channels
