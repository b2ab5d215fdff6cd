#include "trend/statistics.h"

#include "record/csv_row.h"

#include <QDateTime>
#include <QTimeZone>
#include <cmath>

namespace trend {

ChannelStats StatsOf(const Trace& trace, Channel channel, const RowRanges& rows) {
    ChannelStats stats;
    // Sums of hundredths in integers: exact whatever the number of rows.
    long long sum = 0;
    long long squares = 0;
    int lo = INT16_MAX;
    int hi = INT16_MIN;
    for (const auto& [from, to] : rows)
        for (std::size_t i = from; i < to && i < trace.Size(); ++i) {
            const std::int16_t v = trace.Volts(channel, i);
            if (v == kNoVolts)
                continue;
            ++stats.samples;
            sum += v;
            squares += static_cast<long long>(v) * v;
            lo = std::min<int>(lo, v);
            hi = std::max<int>(hi, v);
        }
    if (stats.samples == 0)
        return stats;
    const double n = double(stats.samples);
    stats.min = lo / 100.0;
    stats.max = hi / 100.0;
    stats.mean = double(sum) / n / 100.0;
    stats.rms = std::sqrt(double(squares) / n) / 100.0;
    const double variance = double(squares) / n - (double(sum) / n) * (double(sum) / n);
    stats.stddev = std::sqrt(std::max(variance, 0.0)) / 100.0;
    return stats;
}

ChannelStats InUnits(const ChannelStats& volts, const Units& units) {
    const double slope = units.channel.scale.Slope(), offset = units.channel.scale.Offset();
    ChannelStats s = volts;
    if (slope == 1 && offset == 0)
        return s;
    s.min = slope * (slope < 0 ? volts.max : volts.min) + offset;
    s.max = slope * (slope < 0 ? volts.min : volts.max) + offset;
    s.mean = slope * volts.mean + offset;
    // The mean of (slope v + offset)²: slope² rms² + 2 slope offset mean + offset².
    s.rms = std::sqrt(std::max(
        slope * slope * volts.rms * volts.rms + 2 * slope * offset * volts.mean + offset * offset, 0.0));
    s.stddev = std::abs(slope) * volts.stddev;
    return s;
}

namespace {

// A field as RFC 4180 writes it: quoted, its quotes doubled, when it holds a comma, a quote or a line end.
std::string Field(const QString& text) {
    std::string field = text.toStdString();
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

std::string StatsCsv(const Trace& trace, const RowRanges& rows, bool volts) {
    std::string csv = "channel,unit,from,to,samples,min,max,mean,rms,stddev\r\n";
    if (rows.empty() || rows.front().first >= trace.Size())
        return csv;
    // As the record writes its times: 2026-12-07T09:30:47.123+09:00.
    const auto timeOf = [&trace](std::size_t i) {
        const Row row = trace.At(i);
        const int offset = std::abs(int(row.offsetMinutes));
        return (QDateTime::fromMSecsSinceEpoch(row.timeMs, QTimeZone(row.offsetMinutes * 60))
                    .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) +
                QStringLiteral("%1%2:%3")
                    .arg(row.offsetMinutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                    .arg(offset / 60, 2, 10, QLatin1Char('0'))
                    .arg(offset % 60, 2, 10, QLatin1Char('0')))
            .toStdString();
    };
    const std::string range = timeOf(rows.front().first) + ',' + timeOf(std::min(rows.back().second, trace.Size()) - 1);
    for (const Channel channel : {Channel::Ad0, Channel::Ad1}) {
        const Units& units = volts ? DefaultUnits(channel) : trace.UnitsOf(channel);
        const ChannelStats s = InUnits(StatsOf(trace, channel, rows), units);
        // A name or a unit a spreadsheet would take for a formula goes after an apostrophe, as in the record.
        csv += Field(record::UnitField(trace.UnitsOf(channel).channel.name)) + ',' +
               Field(record::UnitField(units.channel.unit)) + ',' + range +
               ',' + std::to_string(s.samples);
        if (s.samples == 0) {
            csv += ",,,,,\r\n";
            continue;
        }
        const int d = units.decimals;
        csv += QStringLiteral(",%1,%2,%3,%4,%5\r\n")
                   .arg(s.min, 0, 'f', d)
                   .arg(s.max, 0, 'f', d)
                   .arg(s.mean, 0, 'f', d + 2)
                   .arg(s.rms, 0, 'f', d + 2)
                   .arg(s.stddev, 0, 'f', d + 2)
                   .toStdString();
    }
    return csv;
}

} // namespace trend
