// The unit's protocol, all of it: the line it talks on, what a run does to it
// first, the request, and the reply's size and frame.
//
// The frame as it lies in the 256-byte reply buffer: the marker "A" somewhere in
// the first 50 bytes, then the AD0 digits at offsets 4..6, the AD1 digits at
// 15..17 and the status character at 18, all counted from the marker.
#pragma once

#include "device/d2xx.h"

#include <array>
#include <cstdint>
#include <optional>

namespace device {

// --- The line ---

// 38400 baud, 8 data bits, 1 stop bit, no parity.
constexpr ULONG kBaudRate = 38400;

// Sets the line on `handle`, as the connection does and every reopen does again.
// The results are not looked at: on a handle that was never opened the calls fail harmlessly.
void SetLine(FT_HANDLE handle);

// Before a run: RTS set and cleared again, then both queues purged, so that stale
// bytes from before the run cannot join the first reply. The results are not looked at.
void PrepareForRun(FT_HANDLE handle);

// --- The request and the reply ---

// "AL" and a carriage return, sent in one write.
inline constexpr std::array<std::uint8_t, 3> kRequest{0x41, 0x4C, 0x0D};

// The reply is read once more than 20 bytes are queued.
constexpr DWORD kReplyMinimumBytes = 21;

constexpr int kRxBufferSize = 256;
using RxBufferBytes = std::array<std::uint8_t, kRxBufferSize>;

constexpr int kMarkerPositions = 50; // the marker may stand at 0..49
constexpr int kAd0Offset = 4;
constexpr int kAd1Offset = 15;
constexpr int kStatusOffset = 18;

// The position of the first "A" among the first 50 bytes, or nothing.
std::optional<int> FindMarker(const RxBufferBytes& rx);

// The reading whose three digits stand at marker + offset .. + 2: each digit
// counts its HexDigitValue, unchecked, so "1A0" reads 200 and a zero byte 208.
std::uint16_t ReadingAt(const RxBufferBytes& rx, int marker, int offset);

inline std::uint8_t StatusAt(const RxBufferBytes& rx, int marker) {
    return rx[std::size_t(marker + kStatusOffset)];
}

} // namespace device
