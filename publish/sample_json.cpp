#include "publish/sample_json.h"

#include "acquisition/sample_words.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace publish {

namespace {

// A whole number of 1/10^decimals as a JSON number with exactly that many decimals.
void AppendFixed(std::string& out, long long value, int decimals, long long unit) {
    char text[32];
    const long long magnitude = std::llabs(value);
    const int n = std::snprintf(text, sizeof text, "%s%lld.%0*lld", value < 0 ? "-" : "", magnitude / unit,
                                decimals, magnitude % unit);
    out.append(text, static_cast<std::size_t>(n));
}

void AppendVolts(std::string& out, const std::optional<int>& hundredths) {
    if (hundredths)
        AppendFixed(out, *hundredths, 2, 100);
    else
        out += "null";
}

void AppendLevel(std::string& out, const std::optional<std::uint8_t>& levels, std::uint8_t bit) {
    if (levels)
        out += (*levels & bit) ? '1' : '0';
    else
        out += "null";
}

constexpr const char* kChannelKeys[channels::kChannelCount][3] = {
    {",\"ad0_value\":", ",\"ad0_unit\":", ",\"ad0_name\":"},
    {",\"ad1_value\":", ",\"ad1_unit\":", ",\"ad1_name\":"},
};

// A JSON string: quotes and backslashes escaped, control characters as \u00XX, the rest UTF-8 as it is.
void AppendString(std::string& out, const QString& text) {
    out += '"';
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

// A reading in its channel's unit, as the record writes it (a JSON number), or null. A scale is
// refused before a run when a reading would give a value that is not finite; JSON has no word for one
// all the same.
void AppendValue(std::string& out, const std::optional<int>& hundredths, const channels::Channel& channel) {
    if (hundredths && std::isfinite(channels::ValueOf(channel.scale, *hundredths)))
        out += channels::ValueText(channel.scale, *hundredths);
    else
        out += "null";
}

void AppendLimit(std::string& out, const std::optional<double>& limit) {
    if (limit && std::isfinite(*limit))
        out += channels::NumberText(*limit).toStdString();
    else
        out += "null";
}

} // namespace

std::string SampleJson(const acquisition::DecodedSample& sample, const std::string& run,
                       const channels::Channels& channels) {
    std::string out;
    out.reserve(320);
    out += "{\"time\":\"";
    acquisition::AppendTimeText(out, sample.time);
    out += "\",\"elapsed_s\":";
    AppendFixed(out, sample.elapsedMs, 3, 1000);
    out += ",\"sweep\":";
    out += std::to_string(sample.sweep);
    out += ",\"x\":";
    out += std::to_string(sample.x);
    out += ",\"ad0_v\":";
    AppendVolts(out, sample.ad0);
    out += ",\"ad1_v\":";
    AppendVolts(out, sample.ad1);
    out += ",\"hh\":";
    AppendLevel(out, sample.levels, 0x08);
    out += ",\"hl\":";
    AppendLevel(out, sample.levels, 0x04);
    out += ",\"lh\":";
    AppendLevel(out, sample.levels, 0x02);
    out += ",\"ll\":";
    AppendLevel(out, sample.levels, 0x01);
    out += ",\"note\":";
    if (const std::string_view note = acquisition::NoteWord(sample.note); !note.empty()) {
        out += '"';
        out += note;
        out += '"';
    } else if (channels::Any(sample.crossings)) {
        out += '"';
        channels::AppendNotes(out, sample.crossings);
        out += '"';
    } else {
        out += "null";
    }
    const bool sampleRow = sample.note == acquisition::SampleNote::None;
    for (int channel = 0; channel < channels::kChannelCount; ++channel) {
        const channels::Channel& settings = channels[std::size_t(channel)];
        const char* const* keys = kChannelKeys[channel];
        out += keys[0];
        AppendValue(out, sampleRow ? (channel == 0 ? sample.ad0 : sample.ad1) : std::nullopt, settings);
        out += keys[1];
        AppendString(out, settings.unit);
        out += keys[2];
        AppendString(out, settings.name);
    }
    out += ",\"run\":\"";
    out += run;
    out += "\"}";
    return out;
}

std::string AlarmJson(int channel, const channels::Channel& settings, channels::Crossing crossing,
                      int hundredths, const QDateTime& time, const std::string& run) {
    std::string out;
    out.reserve(256);
    out += "{\"channel\":";
    AppendString(out, channels::Key(channel));
    out += ",\"name\":";
    AppendString(out, settings.name);
    out += ",\"state\":\"";
    out += channels::CrossingWord(crossing);
    out += "\",\"value\":";
    AppendValue(out, hundredths, settings);
    out += ",\"unit\":";
    AppendString(out, settings.unit);
    out += ",\"low\":";
    AppendLimit(out, settings.limits.low);
    out += ",\"high\":";
    AppendLimit(out, settings.limits.high);
    out += ",\"time\":\"";
    acquisition::AppendTimeText(out, time);
    out += "\",\"run\":\"";
    out += run;
    out += "\"}";
    return out;
}

} // namespace publish
