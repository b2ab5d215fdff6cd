// What the measurement unit answers: the reply frames of a plausible,
// deterministic signal, with knobs that make it misbehave for tests. Shared by
// the in-process simulated unit and the pseudo-terminal unit emulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device {

struct UnitFaults {
    int replyDelayUs = -1; // -1: the wire time of the reply at 38400 baud
    int pieces = 1;        // the reply arrives in this many pieces, spread over the delay
    int leadingBytes = 0;  // bytes of noise (never "A") before the marker
    bool garbage = false;  // replies carry no "A" at all
    int silentAfter = -1;  // stop answering after this many requests (-1: never)
    int trailingBytes = 0; // extra bytes after the frame's CR LF (bursts longer than 255)

    // Seeded random faults for long runs. Each request draws its own from the seed
    // and its number alone, so a seed always gives the same replies, whatever the
    // requests' timing (0: no random faults, the chances below are ignored).
    std::uint32_t randomSeed = 0;
    double piecesChance = 0.0;       // the reply comes in 2 to 8 pieces of random sizes
    double garbageChance = 0.0;      // 21 to 120 random bytes, zeros included, instead of the reply
    double burstChance = 0.0;        // 256 to 600 random bytes after the reply: more than one read takes
    double shortSilenceChance = 0.0; // the reply is held back 0.1 to 0.5 s: late, but within the reply wait
    double longSilenceChance = 0.0;  // no reply at all: the reply wait times out
};

// What the random faults drew for one request.
struct FaultDraw {
    bool pieces = false;
    bool garbage = false;
    bool burst = false;
    bool shortSilence = false;
    bool longSilence = false;
};

// One piece of a reply on its way: its bytes arrive dueUs after the reply sets off.
struct ReplyPiece {
    std::int64_t dueUs;
    std::string bytes;
};

class UnitModel {
public:
    explicit UnitModel(UnitFaults faults = {}) : faults_(faults) {}

    const UnitFaults& Faults() const { return faults_; }
    UnitFaults& Faults() { return faults_; }

    // The bytes answered to request number n (counting from 0); empty when silent.
    std::string ReplyFor(unsigned requestNumber) const;

    // The random faults of request n; none when randomSeed is 0.
    FaultDraw DrawFor(unsigned requestNumber) const;

    // Request n's reply as it travels: ReplyFor(n) cut into pieces, in order, the
    // last one due after the reply's delay (plus any short silence). Empty when silent.
    std::vector<ReplyPiece> PiecesFor(unsigned requestNumber) const;

    // The ranges the random faults draw their sizes and holds from, both ends included.
    static constexpr int kMinGarbageBytes = 21;
    static constexpr int kMaxGarbageBytes = 120;
    static constexpr int kMinBurstBytes = 256;
    static constexpr int kMaxBurstBytes = 600;
    static constexpr int kMinShortSilenceUs = 100'000;
    static constexpr int kMaxShortSilenceUs = 500'000;

    // The readings of sample n: AD0 a slow sine between 0.50 and 5.50 V, AD1 a
    // triangle between 0.00 and 6.00 V, the four digital lines counting.
    static std::uint16_t Ad0(unsigned n);
    static std::uint16_t Ad1(unsigned n);
    static std::uint8_t DigitalLines(unsigned n);

    // One 21-byte frame: "A" at 0, AD0 digits at 4..6, AD1 digits at 15..17, the
    // status character at 18, CR LF.
    static std::string Frame(std::uint16_t ad0, std::uint16_t ad1, std::uint8_t lines);

    // Microseconds that `bytes` take on the wire at 38400 baud, 8N1.
    static int WireTimeUs(std::size_t bytes) { return int(bytes * 10 * 1'000'000 / 38400); }

private:
    UnitFaults faults_;
};

// Scans written bytes for complete requests (0x41 0x4C 0x0D), however they are split.
class RequestScanner {
public:
    // Feeds bytes; returns how many complete requests they finished.
    int Feed(const void* data, std::size_t count);

private:
    int matched_ = 0;
};

} // namespace device
