// Bytes as two ASCII hex digits, high digit first: how the parameter file stores them, and how a reply
// frame's decimal digits are read.
#pragma once

#include <QtGlobal>

namespace codec {

// Deliberately unchecked, so that any byte of a damaged file still yields a value: the digits
// give 0..9, uppercase A..F give 10..15, and everything else wraps (lowercase 'a' gives 42,
// 'G' 16, a zero byte 0xD0). Reply frames read their decimal digits through this too.
constexpr quint8 HexDigitValue(quint8 ch) {
    return quint8(ch <= 0x39 ? ch - 0x30 : ch - 0x37);
}

struct HexDigits {
    quint8 hi;
    quint8 lo;

    friend constexpr bool operator==(const HexDigits&, const HexDigits&) = default;
};

// Always uppercase, so that every byte has exactly one spelling in the file.
constexpr HexDigits ByteToHex(quint8 b) {
    constexpr auto digit = [](int nibble) { return quint8(nibble <= 9 ? nibble + 0x30 : nibble + 0x37); };
    return {digit(b >> 4), digit(b & 0x0F)};
}

} // namespace codec
