#include "device/unit_model.h"

#include "device/unit_protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace device {

namespace {

// SplitMix64: a fixed algorithm, so a seed gives the same faults whatever the
// compiler or library. Each request has its own streams, one per use, so that
// drawing more bytes for one fault never shifts another.
class FaultDice {
public:
    enum Stream : std::uint64_t { kDraws = 1, kBytes = 2, kTiming = 3 };

    FaultDice(std::uint32_t seed, unsigned requestNumber, Stream stream)
        : state_(((std::uint64_t(seed) << 32) | requestNumber) ^ (stream * 0xD1B54A32D192ED03ull)) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A whole number from lo to hi, both included.
    std::int64_t Between(std::int64_t lo, std::int64_t hi) {
        return lo + std::int64_t(Next() % std::uint64_t(hi - lo + 1));
    }
    bool Chance(double p) { return double(Next() >> 11) * 0x1.0p-53 < p; }
    std::string Bytes(std::size_t count) {
        std::string bytes(count, '\0');
        for (char& c : bytes)
            c = char(Next() & 0xFF);
        return bytes;
    }

private:
    std::uint64_t state_;
};

} // namespace

std::uint16_t UnitModel::Ad0(unsigned n) {
    const double pi = 3.14159265358979323846;
    return std::uint16_t(std::lround(300.0 + 250.0 * std::sin(2.0 * pi * double(n % 240) / 240.0)));
}

std::uint16_t UnitModel::Ad1(unsigned n) {
    const unsigned phase = n % 200; // up 0..600 in 100 samples, down again in the next 100
    return std::uint16_t(phase < 100 ? phase * 6 : (200 - phase) * 6);
}

std::uint8_t UnitModel::DigitalLines(unsigned n) {
    return std::uint8_t((n / 8) & 0x0F);
}

std::string UnitModel::Frame(std::uint16_t ad0, std::uint16_t ad1, std::uint8_t lines) {
    char text[32];
    std::snprintf(text, sizeof text, "AD0=%03u V, AD1=%03u%c\r\n", unsigned(ad0 % 1000), unsigned(ad1 % 1000),
                  char(0x30 | (lines & 0x0F)));
    return text;
}

std::string UnitModel::ReplyFor(unsigned requestNumber) const {
    if (faults_.silentAfter >= 0 && requestNumber >= unsigned(faults_.silentAfter))
        return {};
    const FaultDraw draw = DrawFor(requestNumber);
    if (draw.longSilence)
        return {};
    FaultDice dice(faults_.randomSeed, requestNumber, FaultDice::kBytes);
    if (draw.garbage)
        return dice.Bytes(std::size_t(dice.Between(kMinGarbageBytes, kMaxGarbageBytes)));
    std::string reply(std::size_t(faults_.leadingBytes), '.');
    std::string frame = Frame(Ad0(requestNumber), Ad1(requestNumber), DigitalLines(requestNumber));
    if (faults_.garbage)
        for (char& c : frame)
            if (c == 'A')
                c = '#';
    reply += frame;
    for (int i = 0; i < faults_.trailingBytes; ++i)
        reply += char('0' + i % 10);
    if (draw.burst)
        reply += dice.Bytes(std::size_t(dice.Between(kMinBurstBytes, kMaxBurstBytes)));
    return reply;
}

FaultDraw UnitModel::DrawFor(unsigned requestNumber) const {
    FaultDraw draw;
    if (faults_.randomSeed == 0)
        return draw;
    // Every chance is drawn, in a fixed order, so that changing one chance keeps
    // the other faults of the run where they were.
    FaultDice dice(faults_.randomSeed, requestNumber, FaultDice::kDraws);
    draw.longSilence = dice.Chance(faults_.longSilenceChance);
    draw.garbage = dice.Chance(faults_.garbageChance);
    draw.burst = dice.Chance(faults_.burstChance);
    draw.pieces = dice.Chance(faults_.piecesChance);
    draw.shortSilence = dice.Chance(faults_.shortSilenceChance);
    // A silent request sends nothing to garble, and garbage replaces the frame a burst would follow.
    if (draw.longSilence) {
        draw = FaultDraw{};
        draw.longSilence = true;
    }
    if (draw.garbage)
        draw.burst = false;
    return draw;
}

std::vector<ReplyPiece> UnitModel::PiecesFor(unsigned requestNumber) const {
    const std::string reply = ReplyFor(requestNumber);
    if (reply.empty())
        return {};
    const FaultDraw draw = DrawFor(requestNumber);
    FaultDice dice(faults_.randomSeed, requestNumber, FaultDice::kTiming);
    const std::int64_t size = std::int64_t(reply.size());
    const std::int64_t delayUs =
        faults_.replyDelayUs >= 0 ? faults_.replyDelayUs : WireTimeUs(reply.size() + 3);
    const std::int64_t holdUs = draw.shortSilence ? dice.Between(kMinShortSilenceUs, kMaxShortSilenceUs) : 0;

    std::vector<ReplyPiece> pieces;
    std::int64_t at = 0;
    const auto add = [&](std::int64_t end, std::int64_t dueUs) {
        pieces.push_back({holdUs + dueUs, reply.substr(std::size_t(at), std::size_t(end - at))});
        at = end;
    };
    if (draw.pieces && size > 1) {
        // Random cuts, each piece due when its last byte would have crossed the wire.
        std::vector<std::int64_t> ends;
        for (std::int64_t cuts = dice.Between(1, 7); cuts > 0; --cuts)
            ends.push_back(dice.Between(1, size - 1));
        ends.push_back(size);
        std::sort(ends.begin(), ends.end());
        ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
        for (const std::int64_t end : ends)
            add(end, delayUs * end / size);
    } else {
        // Equal pieces spread evenly over the delay.
        const std::int64_t count = std::clamp<std::int64_t>(faults_.pieces, 1, size);
        for (std::int64_t p = 1; p <= count; ++p)
            add(size * p / count, delayUs * p / count);
    }
    return pieces;
}

int RequestScanner::Feed(const void* data, std::size_t count) {
    int complete = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == kRequest[std::size_t(matched_)]) {
            if (++matched_ == int(kRequest.size())) {
                ++complete;
                matched_ = 0;
            }
        } else {
            matched_ = bytes[i] == kRequest.front() ? 1 : 0;
        }
    }
    return complete;
}

} // namespace device
