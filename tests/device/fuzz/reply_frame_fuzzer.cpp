// Arbitrary bytes in the reply buffer as the exchange leaves it: at most 255 read,
// every other byte zero. Whatever the unit sent, the frame check finds only a
// real first marker within the first 50 bytes, and the readings and the rows
// they are drawn at stay inside their bounds.
#include "chart/analog_mark.h"
#include "device/unit_protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxRead = device::kRxBufferSize - 1;
constexpr unsigned kLargestReading = 28'305; // three digits of the largest HexDigitValue, 255

void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

bool IsDecimal(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// The frame as the plot takes it, had the marker stood at `marker`.
void CheckFrameAt(const device::RxBufferBytes& rx, std::size_t read, int marker) {
    for (const int offset : {device::kAd0Offset, device::kAd1Offset}) {
        const std::uint16_t reading = device::ReadingAt(rx, marker, offset);
        Check(reading <= kLargestReading, "a reading never exceeds 28305");
        Check(chart::ReadingRow(reading) <= 300, "a reading is drawn on or above the zero-volt row");
        const std::uint8_t* digits = &rx[std::size_t(marker + offset)];
        if (IsDecimal(digits[0]) && IsDecimal(digits[1]) && IsDecimal(digits[2]))
            Check(reading == unsigned((digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0')),
                  "decimal digits read as their number");
        if (std::size_t(marker + offset) >= read)
            Check(reading == 208 * 111, "digits past the bytes read are zeros, each counting 208");
    }
    const std::size_t statusAt = std::size_t(marker + device::kStatusOffset);
    Check(statusAt < 68, "the frame lies within buffer positions 0 to 67");
    Check(device::StatusAt(rx, marker) == rx[statusAt], "the status character is the byte at offset 18");
    if (statusAt >= read)
        Check(device::StatusAt(rx, marker) == 0, "a status past the bytes read is zero");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    device::RxBufferBytes rx{};
    const std::size_t read = std::min(size, kMaxRead);
    std::memcpy(rx.data(), data, read);

    const std::optional<int> marker = device::FindMarker(rx);
    const std::uint8_t* const firstA = std::find(rx.begin(), rx.begin() + device::kMarkerPositions, 'A');
    if (marker) {
        Check(*marker >= 0 && *marker < device::kMarkerPositions, "the marker stands at 0 to 49");
        Check(rx[std::size_t(*marker)] == 'A', "the marker is an \"A\"");
        Check(firstA == rx.begin() + *marker, "no \"A\" stands before the marker");
        CheckFrameAt(rx, read, *marker);
    } else {
        Check(firstA == rx.begin() + device::kMarkerPositions,
              "no frame only when no \"A\" is in the first 50");
    }
    // Every position a marker may take keeps the frame inside the buffer.
    for (int k = 0; k < device::kMarkerPositions; ++k)
        CheckFrameAt(rx, read, k);
    return 0;
}
