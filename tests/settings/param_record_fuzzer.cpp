// Arbitrary file contents through the loader's own path: bytes to record, decode every field,
// encode the values again, decode once more. Encoding is canonical (uppercase digits, "1"/"0"),
// so the second decode must give back what was encoded and leave every other byte alone.
#include "codec/hex_digits.h"
#include "settings/param_record.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace settings;
using codec::ByteToHex;
using codec::HexDigits;
using codec::HexDigitValue;

namespace {

void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

bool IsUpperHexDigit(quint8 ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F');
}

bool CanonicalDigits(const ParamRecord& record, int first, int count) {
    for (int at = first; at < first + count; ++at)
        if (!IsUpperHexDigit(record[at]))
            return false;
    return true;
}

bool SameBytes(const ParamRecord& a, const ParamRecord& b, int first, int count) {
    for (int at = first; at < first + count; ++at)
        if (a[at] != b[at])
            return false;
    return true;
}

// The largest colour the carry of a first pair can give: 0x1FE in the top pair.
constexpr TColor kLargestDecodedColor = 0x1FEFFFF;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ParamRecord record = RecordFromFileContents(QByteArrayView(data, qsizetype(size)));
    for (std::size_t at = 0; at < kRecordSize; ++at)
        Check(record[at] == (at < size ? data[at] : kMissingByte),
              "record is the file's bytes, padded with 0xFF");

    const TColor ad0 = DecodeColor(record, kAd0ColorByte);
    const TColor ad1 = DecodeColor(record, kAd1ColorByte);
    const quint16 samplingTime = DecodeSamplingTime(record);
    OptionStates options{};
    for (int option = 0; option < kOptionCount; ++option)
        options[option] = DecodeOption(record, option);
    Check(ad0 <= kLargestDecodedColor && ad1 <= kLargestDecodedColor, "colour within the carry's reach");

    ParamRecord encoded = record;
    EncodeColor(encoded, kAd0ColorByte, ad0);
    EncodeColor(encoded, kAd1ColorByte, ad1);
    EncodeSamplingTime(encoded, samplingTime);
    for (int option = 0; option < kOptionCount; ++option)
        EncodeOption(encoded, option, options[option]);

    Check(CanonicalDigits(encoded, kAd0ColorByte, 16), "encoded digits are uppercase hex");
    Check(encoded[kMarkerByte] == record[kMarkerByte], "marker untouched");
    Check(SameBytes(encoded, record, kFirstOptionByte + kOptionCount,
                    kRecordSize - kFirstOptionByte - kOptionCount),
          "unused tail untouched");

    Check(DecodeColor(encoded, kAd0ColorByte) == (ad0 & 0xFFFFFF), "AD0 colour survives re-encoding");
    Check(DecodeColor(encoded, kAd1ColorByte) == (ad1 & 0xFFFFFF), "AD1 colour survives re-encoding");
    Check(DecodeSamplingTime(encoded) == samplingTime, "sampling time survives re-encoding");
    for (int option = 0; option < kOptionCount; ++option) {
        Check(DecodeOption(encoded, option) == options[option], "option survives re-encoding");
        const quint8 byte = encoded[kFirstOptionByte + option];
        Check(byte == kTicked || byte == kUnticked, "option written as 1 or 0");
        if (record[kFirstOptionByte + option] == kTicked || record[kFirstOptionByte + option] == kUnticked)
            Check(byte == record[kFirstOptionByte + option], "canonical option byte rewritten as it was");
    }

    // Fields already spelt canonically come back byte for byte.
    for (const int first : {kAd0ColorByte, kAd1ColorByte})
        if (CanonicalDigits(record, first, 6))
            Check(SameBytes(encoded, record, first, 6), "canonical colour rewritten as it was");
    if (CanonicalDigits(record, kSamplingTimeByte, 4))
        Check(SameBytes(encoded, record, kSamplingTimeByte, 4),
              "canonical sampling time rewritten as it was");

    // Each pair of the re-encoded record is the byte it names.
    for (int at = kAd0ColorByte; at < kFirstOptionByte; at += 2) {
        const quint8 byte = quint8(HexDigitValue(encoded[at]) * 16 + HexDigitValue(encoded[at + 1]));
        const HexDigits digits = ByteToHex(byte);
        Check(digits.hi == encoded[at] && digits.lo == encoded[at + 1], "pair reads back as written");
    }
    return 0;
}
