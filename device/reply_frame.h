// The layout of the unit's reply, as it lies in the 256-byte reply buffer:
// the marker "A" somewhere in the first 50 bytes, then the AD0 digits at
// offsets 4..6, the AD1 digits at 15..17 and the status character at 18.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace device {

constexpr int kRxBufferSize = 256;
using RxBufferBytes = std::array<std::uint8_t, kRxBufferSize>;

constexpr int kMarkerPositions = 50;   // the marker may stand at 0..49
constexpr int kAd0Offset = 4;
constexpr int kAd1Offset = 15;
constexpr int kStatusOffset = 18;

// The position of the first "A" among the first 50 bytes, or nothing.
std::optional<int> FindMarker(const RxBufferBytes& rx);

// The reading whose three digits stand at marker + offset .. + 2: each digit
// counts its HexDigitValue, unchecked, so "1A0" reads 200 and a zero byte 208.
std::uint16_t ReadingAt(const RxBufferBytes& rx, int marker, int offset);

inline std::uint8_t StatusAt(const RxBufferBytes& rx, int marker) { return rx[std::size_t(marker + kStatusOffset)]; }

} // namespace device
