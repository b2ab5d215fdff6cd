#include "device/unit_protocol.h"

#include "codec/hex_digits.h"

namespace device {

void SetLine(FT_HANDLE handle) {
    CurrentD2xx().SetBaudRate(handle, kBaudRate);
    CurrentD2xx().SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
}

void PrepareForRun(FT_HANDLE handle) {
    CurrentD2xx().SetRts(handle);
    CurrentD2xx().ClrRts(handle);
    CurrentD2xx().Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
}

std::optional<int> FindMarker(const RxBufferBytes& rx) {
    for (int i = 0; i < kMarkerPositions; ++i)
        if (rx[std::size_t(i)] == 'A')
            return i;
    return std::nullopt;
}

std::uint16_t ReadingAt(const RxBufferBytes& rx, int marker, int offset) {
    const auto digit = [&](int i) {
        return unsigned(codec::HexDigitValue(rx[std::size_t(marker + offset + i)]));
    };
    return std::uint16_t(100 * digit(0) + 10 * digit(1) + digit(2));
}

} // namespace device
