// Shift-JIS as the Japanese Windows code page (CP932) writes it: the log's text encoding.
//
// Decoding never fails and never loses a byte:
//   - a byte or a lead/trail pair that CP932 maps to a character becomes that character;
//     control bytes (CR, LF, TAB and the rest below 0x20) stay themselves;
//   - anything else (0x80, 0xA0, 0xFD..0xFF, a lead byte without a trail, a pair CP932 leaves
//     unassigned, or a pair that is a duplicate spelling of a character CP932 writes with
//     other bytes) is carried as one private-use character per byte, kRawByteBase + byte,
//     so 0xFF becomes U+F7FF.
// Encoding is the inverse:
//   - U+F700..U+F7FF become the raw byte again;
//   - every character CP932 holds becomes its CP932 bytes;
//   - a character CP932 cannot hold (an emoji, "€", "¥", a lone surrogate) is written as an
//     HTML-style numeric character reference, "&#x" + the code point in uppercase hex without
//     leading zeros + ";" (so U+1F600 becomes "&#x1F600;"): plain ASCII that a reader can see
//     and that keeps the character recoverable, instead of a silent "?" or a look-alike.
// So EncodeShiftJis(DecodeShiftJis(b)) == b for every byte string b: a saved log gives back,
// byte for byte, what the unit sent.
//
// The tables are built once, on first use and thread-safely, from the C library's iconv
// converter for CP932. Without that converter only ASCII and halfwidth katakana decode, and
// every other byte is carried raw, which still round-trips.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace output {

constexpr char16_t kRawByteBase = 0xF700;

QString DecodeShiftJis(QByteArrayView bytes);
QByteArray EncodeShiftJis(QStringView text);

// Appends the encoding of text to out; EncodeShiftJis without the temporary.
void AppendShiftJis(QStringView text, QByteArray& out);

// Whether the code page's tables came from the system converter (false: ASCII-only fallback).
bool ShiftJisTablesComplete();

} // namespace output
