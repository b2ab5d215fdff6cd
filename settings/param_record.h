// The 30-byte settings record, byte for byte as the parameter file holds it: the two trace
// colours, the sampling time and the six option boxes, all as ASCII.
#pragma once

#include "chart/tcolor.h"

#include <QByteArrayView>
#include <QtGlobal>
#include <array>

namespace settings {

constexpr int kRecordSize = 30;
using ParamRecord = std::array<quint8, kRecordSize>;

constexpr int kMarkerByte = 0;        // "1" in a file the logger created; never read back
constexpr int kAd0ColorByte = 1;      // six digits, blue pair first
constexpr int kAd1ColorByte = 7;      // six digits, blue pair first
constexpr int kSamplingTimeByte = 13; // four digits, high byte first
constexpr int kFirstOptionByte = 17;  // one "1"/"0" byte per option box
constexpr int kOptionCount = 6;

// Option numbers, in the order of their bytes.
constexpr int kAd0TraceOption = 0;
constexpr int kAd1TraceOption = 1;
constexpr int kLineDotOption = 2;
constexpr int kContinuousOption = 3;
constexpr int kAutoSaveOption = 4;
constexpr int kAutoPrintOption = 5;
using OptionStates = std::array<bool, kOptionCount>;

constexpr quint8 kCreatedMarker = '1';
constexpr quint8 kTicked = '1';
constexpr quint8 kUnticked = '0';
constexpr quint8 kMissingByte = 0xFF; // stands for each byte a short file lacks

// The first 30 bytes of a file's contents; bytes the file lacks read as kMissingByte.
ParamRecord RecordFromFileContents(QByteArrayView contents);

// Decoding accepts anything and makes no range test: a damaged file loads as whatever its
// bytes spell. firstByte is kAd0ColorByte or kAd1ColorByte; option is 0..5.
TColor DecodeColor(const ParamRecord& record, int firstByte);
quint16 DecodeSamplingTime(const ParamRecord& record);
bool DecodeOption(const ParamRecord& record, int option);

// Encoding writes only the field's own bytes.
void EncodeColor(ParamRecord& record, int firstByte, TColor color);
void EncodeSamplingTime(ParamRecord& record, quint16 samplingTime);
void EncodeOption(ParamRecord& record, int option, bool ticked);

// The record a new parameter file starts with: the marker, every setting as given, and zero
// bytes in the unused tail.
ParamRecord StartupRecord(TColor ad0, TColor ad1, quint16 samplingTime, const OptionStates& options);

} // namespace settings
