#include "bench/week_record.h"

#include "record/csv_row.h"

#include <QFile>
#include <QTimeZone>
#include <cmath>
#include <cstdio>
#include <string>

namespace bench {

std::optional<QString> WriteWeekRecord(const QString& path, long long rows) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wbx");
    if (!file)
        return QStringLiteral("cannot create %1").arg(path);
    const QTimeZone zone(9 * 3600);
    const std::int64_t startMs = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 40), zone).toMSecsSinceEpoch();
    constexpr long long kDayRows = 864'000;
    std::string out(record::kHeaderRow);
    acquisition::DecodedSample s;
    std::uint32_t noise = 12345;
    long long sample = 0; // samples taken, which set the time; rows are samples and notes
    for (long long row = 0; row < rows; ++row, ++sample) {
        s.elapsedMs = sample * 100 + (sample * 7) % 4;
        s.time = QDateTime::fromMSecsSinceEpoch(startMs + s.elapsedMs, zone);
        s.sweep = int(sample / 601);
        s.x = int(sample % 601);
        // An outage of 20 minutes on days 1, 3 and 5: lost, no rows, back.
        const long long ofDay = sample % kDayRows;
        const long long day = sample / kDayRows;
        s.note = acquisition::SampleNote::None;
        if (day % 2 == 1 && ofDay == kDayRows / 2) {
            s.note = acquisition::SampleNote::UnitLost;
            sample += 12'000;
        } else if (day % 2 == 1 && ofDay == kDayRows / 2 + 12'001) {
            s.note = acquisition::SampleNote::UnitBack;
        }
        if (s.note == acquisition::SampleNote::None) {
            noise = noise * 1664525u + 1013904223u;
            const double t = double(sample) / 6000.0;
            s.ad0 = int(300 + 200 * std::sin(t) + int(noise >> 28) - 8);
            s.ad1 = int(200 + 150 * std::sin(t / 24 + 1) + int((noise >> 20) & 7) - 4);
            if (ofDay == kDayRows / 4)
                s.ad0 = 599; // a one-sample spike
            s.levels = std::uint8_t((sample / 3000) % 16);
        } else {
            s.ad0.reset();
            s.ad1.reset();
            s.levels.reset();
        }
        record::AppendRow(out, s);
        if (out.size() > (1 << 20)) {
            if (std::fwrite(out.data(), 1, out.size(), file) != out.size())
                break;
            out.clear();
        }
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written)
        return QStringLiteral("cannot write %1").arg(path);
    return std::nullopt;
}

} // namespace bench
