#include "device/reply_frame.h"

#include "settings/hex_digits.h"

namespace device {

std::optional<int> FindMarker(const RxBufferBytes& rx) {
    for (int i = 0; i < kMarkerPositions; ++i)
        if (rx[std::size_t(i)] == 'A')
            return i;
    return std::nullopt;
}

std::uint16_t ReadingAt(const RxBufferBytes& rx, int marker, int offset) {
    const auto digit = [&](int i) { return unsigned(settings::HexDigitValue(rx[std::size_t(marker + offset + i)])); };
    return std::uint16_t(100 * digit(0) + 10 * digit(1) + digit(2));
}

} // namespace device
