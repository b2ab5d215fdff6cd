#include "app/channel_fields.h"

#include "settings/app_settings.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace app {

namespace {

const char* const kContext = "SettingsDialog";
const char* const kLabelProblem = QT_TRANSLATE_NOOP(
    "SettingsDialog", "空にできず、%1 文字まで。コンマ、引用符、制御文字 (タブ、改行など) は使えません");
const char* const kNotANumber = QT_TRANSLATE_NOOP("SettingsDialog", "数値を入れてください");
const char* const kNumberOrEmpty = QT_TRANSLATE_NOOP("SettingsDialog", "数値を入れるか、空欄にしてください");
const char* const kSameVolts = QT_TRANSLATE_NOOP("SettingsDialog", "点 1 と同じ電圧です");
const char* const kSameValue = QT_TRANSLATE_NOOP("SettingsDialog", "点 1 と同じ値です");
const char* const kNoLine = QT_TRANSLATE_NOOP("SettingsDialog", "この 2 点では直線になりません");
const char* const kLowAboveHigh = QT_TRANSLATE_NOOP("SettingsDialog", "上限より上です");
const char* const kHoldRange = QT_TRANSLATE_NOOP("SettingsDialog", "0 から 86400 までの秒数を入れてください");
const char* const kScaleDigits = QT_TRANSLATE_NOOP(
    "SettingsDialog", "0〜9.99 V の値が %1 未満になる 2 点にしてください (小数 %2 桁で %3 桁まで)");
const char* const kNumberDigits =
    QT_TRANSLATE_NOOP("SettingsDialog", "大きさ %1 未満の数値にしてください (小数 %2 桁で %3 桁まで)");
const char* const kHysteresisRange =
    QT_TRANSLATE_NOOP("SettingsDialog", "0 以上の数値を入れるか、空欄 (既定) にしてください");

QString Said(const char* text) {
    return QCoreApplication::translate(kContext, text);
}

// A scale's or a number's wanted size at the scale's decimals.
QString SaidDigits(const char* text, const channels::Scale& scale) {
    return Said(text)
        .arg(channels::NumberText(channels::ValueBound(scale)))
        .arg(channels::Decimals(scale.Slope()))
        .arg(channels::kMostDigits);
}

// A number a field holds; none for an empty field or one that is no number.
std::optional<double> NumberIn(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

ChannelTexts TextsOf(const channels::Channel& channel) {
    using channels::NumberText;
    const channels::Limits& limits = channel.limits;
    ChannelTexts texts;
    At(texts, ChannelField::Name) = channel.name;
    At(texts, ChannelField::Unit) = channel.unit;
    At(texts, ChannelField::Volts1) = NumberText(channel.scale.v1);
    At(texts, ChannelField::Value1) = NumberText(channel.scale.y1);
    At(texts, ChannelField::Volts2) = NumberText(channel.scale.v2);
    At(texts, ChannelField::Value2) = NumberText(channel.scale.y2);
    At(texts, ChannelField::Low) = limits.low ? NumberText(*limits.low) : QString();
    At(texts, ChannelField::High) = limits.high ? NumberText(*limits.high) : QString();
    At(texts, ChannelField::Hold) = NumberText(limits.holdS);
    At(texts, ChannelField::Hysteresis) = limits.hysteresis ? NumberText(*limits.hysteresis) : QString();
    return texts;
}

ChannelRead ReadChannel(const ChannelTexts& texts) {
    ChannelRead read;
    channels::Channel channel;
    const auto say = [&read](ChannelField field, const char* problem) { At(read.problems, field) = Said(problem); };
    for (const ChannelField field : {ChannelField::Name, ChannelField::Unit}) {
        if (!channels::LabelOk(At(texts, field)))
            At(read.problems, field) = Said(kLabelProblem).arg(channels::kMostLabelCharacters);
        (field == ChannelField::Name ? channel.name : channel.unit) = At(texts, field).trimmed();
    }

    double point[4] = {};
    const ChannelField points[4] = {ChannelField::Volts1, ChannelField::Value1, ChannelField::Volts2,
                                    ChannelField::Value2};
    bool numbers = true;
    for (int i = 0; i < 4; ++i) {
        const auto number = NumberIn(At(texts, points[i]));
        if (!number)
            say(points[i], kNotANumber);
        numbers = numbers && number;
        point[i] = number.value_or(0);
    }
    channel.scale = {point[0], point[1], point[2], point[3]};
    if (numbers && channel.scale.v1 == channel.scale.v2)
        say(ChannelField::Volts2, kSameVolts);
    else if (numbers && channel.scale.y1 == channel.scale.y2)
        say(ChannelField::Value2, kSameValue);
    else if (numbers && (!std::isfinite(channel.scale.Slope()) || !std::isfinite(channel.scale.Offset())))
        say(ChannelField::Value2, kNoLine);
    else if (numbers && channels::ScaleDigitsProblem(channel.scale))
        At(read.problems, ChannelField::Value2) = SaidDigits(kScaleDigits, channel.scale);
    const bool scaleFine = At(read.problems, ChannelField::Volts1).isEmpty() &&
                           At(read.problems, ChannelField::Value1).isEmpty() &&
                           At(read.problems, ChannelField::Volts2).isEmpty() &&
                           At(read.problems, ChannelField::Value2).isEmpty();

    channels::Limits& limits = channel.limits;
    for (const ChannelField field : {ChannelField::Low, ChannelField::High}) {
        if (At(texts, field).trimmed().isEmpty())
            continue;
        const auto limit = NumberIn(At(texts, field));
        if (!limit)
            say(field, kNumberOrEmpty);
        (field == ChannelField::Low ? limits.low : limits.high) = limit;
    }
    if (limits.low && limits.high && *limits.low > *limits.high)
        say(ChannelField::Low, kLowAboveHigh);

    const auto hold = NumberIn(At(texts, ChannelField::Hold));
    if (!hold || *hold < 0 || *hold > settings::kMostHoldSeconds)
        say(ChannelField::Hold, kHoldRange);
    limits.holdS = hold.value_or(0);

    if (!At(texts, ChannelField::Hysteresis).trimmed().isEmpty()) {
        limits.hysteresis = NumberIn(At(texts, ChannelField::Hysteresis));
        if (!limits.hysteresis || *limits.hysteresis < 0)
            say(ChannelField::Hysteresis, kHysteresisRange);
    }

    // Limits and a hysteresis are written at the scale's decimals: they must fit its digits too.
    if (scaleFine) {
        for (const ChannelField field : {ChannelField::Low, ChannelField::High, ChannelField::Hysteresis}) {
            const std::optional<double>& number = field == ChannelField::Low    ? limits.low
                                                  : field == ChannelField::High ? limits.high
                                                                                : limits.hysteresis;
            if (number && At(read.problems, field).isEmpty() &&
                channels::NumberDigitsProblem(channel.scale, *number))
                At(read.problems, field) = SaidDigits(kNumberDigits, channel.scale);
        }
    }

    if (std::all_of(read.problems.begin(), read.problems.end(), [](const QString& p) { return p.isEmpty(); }))
        read.channel = channel;
    return read;
}

QString DefaultHysteresisText(const ChannelTexts& texts) {
    ChannelTexts others = texts;
    At(others, ChannelField::Hysteresis).clear();
    const ChannelRead read = ReadChannel(others);
    if (!read.channel)
        return QString();
    return channels::FormatValue(read.channel->scale, channels::Hysteresis(*read.channel));
}

bool AnySet(const channels::ChannelsOptions& options) {
    return std::any_of(options.begin(), options.end(), [](const channels::ChannelOptions& o) {
        return o.name || o.unit || o.scale || o.limits || o.holdS || o.hysteresis;
    });
}

void TakeChanges(const channels::Channels& shown, const channels::Channels& given, channels::Channels& kept,
                 channels::ChannelsOptions& commandLine) {
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const channels::Channel& before = shown[i];
        const channels::Channel& after = given[i];
        channels::Channel& file = kept[i];
        channels::ChannelOptions& run = commandLine[i];
        // A field changed: into the file, and over the command line's value where it gave one.
        const auto take = [](const auto& was, const auto& now, auto& inFile, auto* fromCommandLine) {
            if (was == now)
                return;
            inFile = now;
            if (fromCommandLine)
                *fromCommandLine = now;
        };
        take(before.name, after.name, file.name, run.name ? &*run.name : nullptr);
        take(before.unit, after.unit, file.unit, run.unit ? &*run.unit : nullptr);
        take(before.scale, after.scale, file.scale, run.scale ? &*run.scale : nullptr);
        take(before.limits.holdS, after.limits.holdS, file.limits.holdS, run.holdS ? &*run.holdS : nullptr);
        // The command line gives the two limits together.
        take(before.limits.low, after.limits.low, file.limits.low, run.limits ? &run.limits->low : nullptr);
        take(before.limits.high, after.limits.high, file.limits.high, run.limits ? &run.limits->high : nullptr);
        take(before.limits.hysteresis, after.limits.hysteresis, file.limits.hysteresis,
             run.hysteresis ? &run.hysteresis : nullptr);
    }
}

} // namespace app
