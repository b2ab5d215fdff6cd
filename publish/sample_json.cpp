#include "publish/sample_json.h"

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

const char* NoteText(acquisition::SampleNote note) {
    switch (note) {
    case acquisition::SampleNote::None:
        return nullptr;
    case acquisition::SampleNote::NoFrame:
        return "no frame";
    case acquisition::SampleNote::NoReply:
        return "no reply";
    case acquisition::SampleNote::UnitLost:
        return "unit lost";
    case acquisition::SampleNote::UnitBack:
        return "unit back";
    }
    return nullptr;
}

} // namespace

std::string IsoTime(const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    const int offsetMinutes = time.offsetFromUtc() / 60;
    const int offset = std::abs(offsetMinutes);
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", d.year(),
                                d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                                offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return std::string(text, static_cast<std::size_t>(n));
}

std::string SampleJson(const acquisition::DecodedSample& sample, const std::string& run) {
    std::string out;
    out.reserve(224);
    out += "{\"time\":\"";
    out += IsoTime(sample.time);
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
    if (const char* note = NoteText(sample.note)) {
        out += '"';
        out += note;
        out += '"';
    } else {
        out += "null";
    }
    out += ",\"run\":\"";
    out += run;
    out += "\"}";
    return out;
}

} // namespace publish
