// A made-up run record as long as a week of logging at 0.1 s (6,048,000 rows), for the trend
// window's figures: two drifting readings with noise, the four lines switching, a one-sample spike
// a day and three outages of the unit (unit lost ... unit back). Rows are written by the record's
// own row writer, so the file is what the logger writes.
#pragma once

#include <QString>
#include <optional>

namespace bench {

inline constexpr long long kWeekRows = 6'048'000;

// Writes `rows` rows to a new file at `path`; why not, when it could not.
std::optional<QString> WriteWeekRecord(const QString& path, long long rows = kWeekRows);

} // namespace bench
