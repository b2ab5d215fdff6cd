#include "channels/channel.h"

#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace channels {

namespace {

constexpr int kMostDecimals = 12;

std::optional<double> ParseNumber(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string Fixed(double value, int decimals) {
    // As long as the number needs: a value is checked before it is written (FitsDigits), but a number
    // is never cut. Written once on the stack, as every value a sample gives fits there; formatted again
    // only for a longer one.
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (n <= 0)
        return std::string();
    std::string out;
    if (std::size_t(n) < sizeof text) {
        out.assign(text, std::size_t(n));
    } else {
        out.resize(std::size_t(n) + 1);
        std::snprintf(out.data(), out.size(), "%.*f", decimals, value);
        out.resize(std::size_t(n));
    }
    // A value that rounds to zero from below is written 0, not -0.
    if (!out.empty() && out[0] == '-' && out.find_first_not_of("0.", 1) == std::string::npos)
        out.erase(0, 1);
    return out;
}

} // namespace

bool LabelOk(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    for (const char32_t c : text.toUcs4()) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
        if (control || c == ',' || c == '"')
            return false;
    }
    return trimmed.toUcs4().size() <= kMostLabelCharacters;
}

QString Key(int channel) {
    return QStringLiteral("ad%1").arg(channel);
}

Channel DefaultChannel(int channel) {
    Channel c;
    c.name = QStringLiteral("AD%1").arg(channel);
    return c;
}

Channels DefaultChannels() {
    return {DefaultChannel(0), DefaultChannel(1)};
}

int Decimals(double slope) {
    const double step = 0.01 * std::abs(slope);
    if (!(step > 0) || !std::isfinite(step))
        return 2;
    // The small allowance keeps a step of exactly 10^-k at k decimals, whatever log10 rounds to.
    const double decimals = std::ceil(-std::log10(step) - 1e-9);
    return int(std::clamp(decimals, 0.0, double(kMostDecimals)));
}

double Step(const Scale& scale) {
    return std::abs(scale.Slope()) / 100;
}

double ValueOf(const Scale& scale, int hundredths) {
    // The product first: 100 × 307 / 100 is 307 exactly, where 100 × 3.07 is not.
    return scale.Slope() * hundredths / 100 + scale.Offset();
}

std::string ValueText(const Scale& scale, int hundredths) {
    return Fixed(ValueOf(scale, hundredths), Decimals(scale.Slope()));
}

QString FormatValue(const Scale& scale, double value) {
    return QString::fromStdString(Fixed(value, Decimals(scale.Slope())));
}

double ValueBound(const Scale& scale) {
    return std::pow(10.0, kMostDigits - Decimals(scale.Slope()));
}

bool FitsDigits(const Scale& scale, double value) {
    if (!std::isfinite(value))
        return false;
    // The digits as the value is written, its rounding included.
    const std::string text = Fixed(value, Decimals(scale.Slope()));
    return std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) <=
           kMostDigits;
}

namespace {

// "below 1e+13 in size (15 digits with the 2 decimals …)": the bound of the scale's values.
QString BoundText(const Scale& scale) {
    return QStringLiteral("below %1 in size (%2 digits with the %3 decimals")
        .arg(NumberText(ValueBound(scale)))
        .arg(kMostDigits)
        .arg(Decimals(scale.Slope()));
}

QString VoltsText(int hundredths) {
    return QStringLiteral("%1.%2 V").arg(hundredths / 100).arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

std::optional<QString> ScaleDigitsProblem(const Scale& scale) {
    for (const int h : {kLowestReading, kHighestReading}) {
        const double value = ValueOf(scale, h);
        if (!FitsDigits(scale, value))
            return QStringLiteral("a line whose values for readings of %1 to %2 stay %3 it needs), not one "
                                  "that gives %4 at %5")
                .arg(VoltsText(kLowestReading), VoltsText(kHighestReading), BoundText(scale),
                     NumberText(value), VoltsText(h));
    }
    return std::nullopt;
}

std::optional<QString> NumberDigitsProblem(const Scale& scale, double value) {
    if (FitsDigits(scale, value))
        return std::nullopt;
    return QStringLiteral("a number %1 of the channel's scale)").arg(BoundText(scale));
}

std::optional<DigitsProblem> LimitsDigitsProblem(const Channel& channel) {
    const Limits& limits = channel.limits;
    const std::pair<const std::optional<double>*, DigitsProblem::What> numbers[] = {
        {&limits.low, DigitsProblem::What::Low},
        {&limits.high, DigitsProblem::What::High},
        {&limits.hysteresis, DigitsProblem::What::Hysteresis}};
    for (const auto& [number, what] : numbers)
        if (*number)
            if (auto wanted = NumberDigitsProblem(channel.scale, **number))
                return DigitsProblem{what, *wanted};
    return std::nullopt;
}

double Hysteresis(const Channel& channel) {
    const Limits& limits = channel.limits;
    const double step = Step(channel.scale);
    double hysteresis = 0;
    if (limits.hysteresis)
        hysteresis = std::abs(*limits.hysteresis);
    else if (limits.low && limits.high)
        hysteresis = 0.01 * std::abs(*limits.high - *limits.low);
    else if (limits.low || limits.high)
        hysteresis = 0.01 * std::abs(limits.low ? *limits.low : *limits.high);
    return std::max(hysteresis, step);
}

std::optional<Scale> ParseScale(const QString& text, QString* problem) {
    auto refuse = [&](const QString& why) -> std::optional<Scale> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    const QStringList points = text.split(QLatin1Char(','));
    if (points.size() != 2)
        return refuse(QStringLiteral("two points V1=Y1,V2=Y2 (volts = value), e.g. 0=0,5=500"));
    double numbers[4];
    for (int i = 0; i < 2; ++i) {
        const QStringList pair = points[i].split(QLatin1Char('='));
        if (pair.size() != 2)
            return refuse(QStringLiteral("two points V1=Y1,V2=Y2 (volts = value), e.g. 0=0,5=500"));
        const auto volts = ParseNumber(pair[0]);
        const auto value = ParseNumber(pair[1]);
        if (!volts || !value)
            return refuse(QStringLiteral("numbers in V1=Y1,V2=Y2 (volts = value), e.g. 0=0,5=500"));
        numbers[2 * i] = *volts;
        numbers[2 * i + 1] = *value;
    }
    const Scale scale{numbers[0], numbers[1], numbers[2], numbers[3]};
    if (scale.v1 == scale.v2)
        return refuse(QStringLiteral("two different volts (V1 and V2 are the same)"));
    if (scale.y1 == scale.y2)
        return refuse(QStringLiteral("two different values (Y1 and Y2 are the same)"));
    if (!std::isfinite(scale.Slope()) || !std::isfinite(scale.Offset()))
        return refuse(QStringLiteral("points that make a line (these are too far apart)"));
    if (auto wanted = ScaleDigitsProblem(scale))
        return refuse(*wanted);
    return scale;
}

QString ScaleText(const Scale& scale) {
    return QStringLiteral("%1=%2,%3=%4")
        .arg(NumberText(scale.v1), NumberText(scale.y1), NumberText(scale.v2), NumberText(scale.y2));
}

std::optional<Limits> ParseLimits(const QString& text, QString* problem, const Scale& scale) {
    auto refuse = [&](const QString& why) -> std::optional<Limits> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    const QStringList sides = text.split(QLatin1Char(':'));
    if (sides.size() != 2)
        return refuse(QStringLiteral("LOW:HIGH (either may be left empty), e.g. 100:400 or :400"));
    Limits limits;
    for (int i = 0; i < 2; ++i) {
        if (sides[i].trimmed().isEmpty())
            continue;
        const auto value = ParseNumber(sides[i]);
        if (!value)
            return refuse(QStringLiteral("numbers in LOW:HIGH (either may be left empty), e.g. 100:400 or :400"));
        (i == 0 ? limits.low : limits.high) = *value;
        if (!FitsDigits(scale, *value))
            return refuse(QStringLiteral("limits %1 of the channel's scale)").arg(BoundText(scale)));
    }
    if (limits.low && limits.high && *limits.low > *limits.high)
        return refuse(QStringLiteral("a low limit that is not above the high one"));
    return limits;
}

QString LimitsText(const Limits& limits) {
    return QStringLiteral("%1:%2").arg(limits.low ? NumberText(*limits.low) : QString(),
                                       limits.high ? NumberText(*limits.high) : QString());
}

QString NumberText(double value) {
    if (value == 0)
        return QStringLiteral("0");
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

void Apply(Channel& channel, const ChannelOptions& options) {
    if (options.name)
        channel.name = *options.name;
    if (options.unit)
        channel.unit = *options.unit;
    if (options.scale)
        channel.scale = *options.scale;
    if (options.limits) {
        channel.limits.low = options.limits->low;
        channel.limits.high = options.limits->high;
    }
    if (options.holdS)
        channel.limits.holdS = *options.holdS;
    if (options.hysteresis)
        channel.limits.hysteresis = *options.hysteresis;
}

void Apply(Channels& channels, const ChannelsOptions& options) {
    for (int i = 0; i < kChannelCount; ++i)
        Apply(channels[std::size_t(i)], options[std::size_t(i)]);
}

} // namespace channels
