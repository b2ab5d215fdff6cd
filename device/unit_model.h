// What the measurement unit answers: the reply frames of a plausible,
// deterministic signal, with knobs that make it misbehave for tests. Shared by
// the in-process simulated unit and the pseudo-terminal unit emulator.
#pragma once

#include <cstdint>
#include <string>

namespace device {

struct UnitFaults {
    int replyDelayUs = -1;      // -1: the wire time of the reply at 38400 baud
    int pieces = 1;             // the reply arrives in this many pieces, spread over the delay
    int leadingBytes = 0;       // bytes of noise (never "A") before the marker
    bool garbage = false;       // replies carry no "A" at all
    int silentAfter = -1;       // stop answering after this many requests (-1: never)
    int trailingBytes = 0;      // extra bytes after the frame's CR LF (bursts longer than 255)
};

class UnitModel {
public:
    explicit UnitModel(UnitFaults faults = {}) : faults_(faults) {}

    const UnitFaults& Faults() const { return faults_; }
    UnitFaults& Faults() { return faults_; }

    // The bytes answered to request number n (counting from 0); empty when silent.
    std::string ReplyFor(unsigned requestNumber) const;

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
