// A channel of the unit (AD0, AD1) as the user knows it: a name, a unit and a
// straight line through two calibration points that turns its volts into
// values in that unit (0 V → 0 °C, 5 V → 500 °C, say), and the limits it is
// watched against. The unit reads hundredths of a volt; a value is computed
// from those integer hundredths, and shown with as many decimals as one
// hundredth of a volt needs in the unit, so that a step of the unit is a step
// of the value and no more digits are made up.
#pragma once

#include <QString>
#include <array>
#include <optional>
#include <string>

namespace channels {

constexpr int kChannelCount = 2;

// Two calibration points, volts → value.
struct Scale {
    double v1 = 0;
    double y1 = 0;
    double v2 = 1;
    double y2 = 1;

    double Slope() const { return (y2 - y1) / (v2 - v1); }
    // The value at 0 V.
    double Offset() const { return y1 - Slope() * v1; }
    bool operator==(const Scale&) const = default;
};

// Low and high limits in the channel's unit; either may be unset (both unset: the channel is not
// watched). The value must stay outside for `holdS` seconds before it counts as outside; it is back
// once inside by the hysteresis (unset: the default, DefaultHysteresis).
struct Limits {
    std::optional<double> low;
    std::optional<double> high;
    double holdS = 0;
    std::optional<double> hysteresis;

    bool Watched() const { return low.has_value() || high.has_value(); }
    bool operator==(const Limits&) const = default;
};

struct Channel {
    QString name;                       // "AD0", "AD1" unless the user names it
    QString unit = QStringLiteral("V");
    Scale scale;
    Limits limits;

    bool operator==(const Channel&) const = default;
};

using Channels = std::array<Channel, kChannelCount>;

// The most characters a channel's name or unit may have (once trimmed), so that a record's row stays short.
constexpr int kMostLabelCharacters = 64;

// Whether a channel's name or unit will do in the record, the messages and the settings file: not
// empty (once trimmed), at most kMostLabelCharacters characters, and no comma, quote or control
// character (C0 with tab and line ends, DEL, C1 with U+0085, and the line and paragraph separators
// U+2028, U+2029).
bool LabelOk(const QString& text);

// The readings a channel's values come from, in hundredths of a volt: the unit's three digits.
constexpr int kLowestReading = 0;
constexpr int kHighestReading = 999;
// The most digits a value of a channel may have at its decimals: a record's value of up to fifteen
// digits is read back as the very number written (a double holds every fifteen-digit integer, and
// the reader divides it by an exact power of ten).
constexpr int kMostDigits = 15;

// "ad0", "ad1": the channel's key in the record's notes, the command line, the MQTT topics.
QString Key(int channel);
// The channels as they are until the user says otherwise: "AD0" and "AD1" in volts, 1 V → 1 V.
Channel DefaultChannel(int channel);
Channels DefaultChannels();

// The decimals a value of this slope is shown with: max(0, ⌈−log10(0.01 × |slope|)⌉), so that one
// hundredth of a volt is one step of the last digit.
int Decimals(double slope);
// One hundredth of a volt in the channel's unit, |slope| / 100.
double Step(const Scale& scale);

// The value of a reading of `hundredths` hundredths of a volt.
double ValueOf(const Scale& scale, int hundredths);
// The value as the record writes it: Decimals(slope) decimals, no exponent, no "-0".
std::string ValueText(const Scale& scale, int hundredths);
// Any value of the channel's unit at the channel's decimals (for limits and statistics).
QString FormatValue(const Scale& scale, double value);

// The size every value of this scale must stay below so that it has at most kMostDigits digits at the
// scale's decimals: 10^(kMostDigits − decimals).
double ValueBound(const Scale& scale);
// Whether `value` has at most kMostDigits digits at the scale's decimals (and is finite).
bool FitsDigits(const Scale& scale, double value);
// What a scale wants when a reading from kLowestReading to kHighestReading gives a value that does not
// fit (infinite, or of more digits than the record's values can be read back with); none when all fit.
std::optional<QString> ScaleDigitsProblem(const Scale& scale);
// What a limit or a hysteresis wants at this scale when it does not fit; none when it does.
std::optional<QString> NumberDigitsProblem(const Scale& scale, double value);
// The first of the channel's limits and hysteresis that does not fit its scale, with what it wants.
struct DigitsProblem {
    enum class What { Low, High, Hysteresis } what;
    QString wanted;
};
std::optional<DigitsProblem> LimitsDigitsProblem(const Channel& channel);

// The hysteresis in force: the one set, else 1% of the span between the limits, or of the one
// limit's absolute value; never less than one hundredth of a volt scaled.
double Hysteresis(const Channel& channel);

// The command line's and the settings file's texts for a scale and for limits, and back.
// "V1=Y1,V2=Y2", e.g. "0=0,5=500"; refused (with what it wants) when the two volts are the same or the
// two values are (a line that is flat or vertical turns no volts into values), or when a reading gives a
// value that does not fit (ScaleDigitsProblem).
std::optional<Scale> ParseScale(const QString& text, QString* problem = nullptr);
QString ScaleText(const Scale& scale);
// "LOW:HIGH", either side may be empty; a low above the high is refused, and so is a limit that does
// not fit the scale's digits (FitsDigits).
std::optional<Limits> ParseLimits(const QString& text, QString* problem = nullptr,
                                  const Scale& scale = Scale{});
QString LimitsText(const Limits& limits);
// A number as these texts write it: the shortest text that reads back the same.
QString NumberText(double value);

// What the command line sets of a channel for one run; the rest comes from where the run's settings
// come from.
struct ChannelOptions {
    std::optional<QString> name;
    std::optional<QString> unit;
    std::optional<Scale> scale;
    std::optional<Limits> limits; // low and high only
    std::optional<double> holdS;
    std::optional<double> hysteresis;
};
using ChannelsOptions = std::array<ChannelOptions, kChannelCount>;
void Apply(Channel& channel, const ChannelOptions& options);
void Apply(Channels& channels, const ChannelsOptions& options);

} // namespace channels
