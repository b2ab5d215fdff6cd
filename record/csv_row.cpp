#include "record/csv_row.h"

#include "acquisition/sample_words.h"

#include <cstdio>
#include <cstdlib>

namespace record {

namespace {

void AppendInt(std::string& out, long long value) {
    char text[24];
    const int n = std::snprintf(text, sizeof text, "%lld", value);
    out.append(text, std::size_t(n));
}

// Hundredths of a volt as volts with exactly two decimals: 307 gives 3.07.
void AppendVolts(std::string& out, const std::optional<int>& hundredths) {
    if (!hundredths)
        return;
    AppendInt(out, *hundredths / 100);
    out += '.';
    out += char('0' + *hundredths % 100 / 10);
    out += char('0' + *hundredths % 10);
}

// A field as RFC 4180 writes it: quoted, its quotes doubled, when it holds a comma, a quote or a line end.
void AppendField(std::string& out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') || bytes.contains('\n')) {
        out += '"';
        for (const char c : bytes) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
        return;
    }
    out.append(bytes.constData(), std::size_t(bytes.size()));
}

void AppendValue(std::string& out, const std::optional<int>& hundredths, const channels::Channel& channel) {
    out += ',';
    if (hundredths)
        out += channels::ValueText(channel.scale, *hundredths);
    out += ',';
    if (hundredths)
        AppendField(out, UnitField(channel.unit));
}

} // namespace

QString UnitField(const QString& unit) {
    if (unit.isEmpty())
        return unit;
    switch (unit.front().unicode()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\'':
        return QLatin1Char('\'') + unit;
    default:
        return unit;
    }
}

QString UnitOfField(const QString& field) {
    if (field.size() < 2 || field.front() != QLatin1Char('\''))
        return field;
    switch (field.at(1).unicode()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\'':
        return field.sliced(1);
    default:
        return field;
    }
}

void AppendRow(std::string& out, const acquisition::DecodedSample& sample, const channels::Channels& channels) {
    acquisition::AppendTimeText(out, sample.time);
    out += ',';
    const long long ms = sample.elapsedMs < 0 ? 0 : sample.elapsedMs;
    AppendInt(out, ms / 1000);
    out += '.';
    out += char('0' + ms % 1000 / 100);
    out += char('0' + ms % 100 / 10);
    out += char('0' + ms % 10);
    out += ',';
    AppendInt(out, sample.sweep);
    out += ',';
    AppendInt(out, sample.x);
    out += ',';
    AppendVolts(out, sample.ad0);
    out += ',';
    AppendVolts(out, sample.ad1);
    for (const std::uint8_t bit : {0x08, 0x04, 0x02, 0x01}) {
        out += ',';
        if (sample.levels)
            out += (*sample.levels & bit) ? '1' : '0';
    }
    out += ',';
    out += acquisition::NoteWord(sample.note);
    channels::AppendNotes(out, sample.crossings);
    const bool sampleRow = sample.note == acquisition::SampleNote::None;
    AppendValue(out, sampleRow ? sample.ad0 : std::nullopt, channels[0]);
    AppendValue(out, sampleRow ? sample.ad1 : std::nullopt, channels[1]);
    out += "\r\n";
}

} // namespace record
