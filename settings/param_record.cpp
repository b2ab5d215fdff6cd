#include "settings/param_record.h"

#include "codec/hex_digits.h"

#include <algorithm>

namespace settings {

using codec::ByteToHex;
using codec::HexDigits;
using codec::HexDigitValue;
namespace {

constexpr int kColorDigits = 6;

bool FieldFits(int firstByte, int width) {
    return firstByte >= 0 && firstByte + width <= kRecordSize;
}

// High digit times 16 (kept to 8 bits) plus low digit, before the pair is reduced to a byte.
unsigned PairSum(const ParamRecord& record, int at) {
    const unsigned high = quint8(HexDigitValue(record[at]) * 16);
    return high + HexDigitValue(record[at + 1]);
}

quint8 PairByte(const ParamRecord& record, int at) {
    return quint8(PairSum(record, at));
}

void PutPair(ParamRecord& record, int at, quint8 value) {
    const HexDigits digits = ByteToHex(value);
    record[at] = digits.hi;
    record[at + 1] = digits.lo;
}

} // namespace

ParamRecord RecordFromFileContents(QByteArrayView contents) {
    ParamRecord record;
    record.fill(kMissingByte);
    const auto available = std::min<qsizetype>(contents.size(), kRecordSize);
    std::copy_n(reinterpret_cast<const quint8*>(contents.data()), available, record.begin());
    return record;
}

TColor DecodeColor(const ParamRecord& record, int firstByte) {
    Q_ASSERT(FieldFits(firstByte, kColorDigits));
    // The first pair keeps its carry, so damaged digits can give a colour above 0xFFFFFF
    // (an empty file's 0xFF bytes give 0x1484848); valid digits never do.
    const TColor firstPair = PairSum(record, firstByte);
    return (firstPair * 256 + PairByte(record, firstByte + 2)) * 256 + PairByte(record, firstByte + 4);
}

quint16 DecodeSamplingTime(const ParamRecord& record) {
    return quint16(PairByte(record, kSamplingTimeByte) * 256 + PairByte(record, kSamplingTimeByte + 2));
}

bool DecodeOption(const ParamRecord& record, int option) {
    Q_ASSERT(option >= 0 && option < kOptionCount);
    return record[kFirstOptionByte + option] == kTicked;
}

void EncodeColor(ParamRecord& record, int firstByte, TColor color) {
    Q_ASSERT(FieldFits(firstByte, kColorDigits));
    PutPair(record, firstByte, quint8(color >> 16));
    PutPair(record, firstByte + 2, quint8(color >> 8));
    PutPair(record, firstByte + 4, quint8(color));
}

void EncodeSamplingTime(ParamRecord& record, quint16 samplingTime) {
    PutPair(record, kSamplingTimeByte, quint8(samplingTime >> 8));
    PutPair(record, kSamplingTimeByte + 2, quint8(samplingTime));
}

void EncodeOption(ParamRecord& record, int option, bool ticked) {
    Q_ASSERT(option >= 0 && option < kOptionCount);
    record[kFirstOptionByte + option] = ticked ? kTicked : kUnticked;
}

ParamRecord StartupRecord(TColor ad0, TColor ad1, quint16 samplingTime, const OptionStates& options) {
    ParamRecord record{};
    record[kMarkerByte] = kCreatedMarker;
    EncodeColor(record, kAd0ColorByte, ad0);
    EncodeColor(record, kAd1ColorByte, ad1);
    EncodeSamplingTime(record, samplingTime);
    for (int option = 0; option < kOptionCount; ++option)
        EncodeOption(record, option, options[option]);
    return record;
}

} // namespace settings
