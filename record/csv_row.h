// One row of the run record, as RFC 4180 CSV in UTF-8 with CR LF line ends:
//
//   time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note,ad0_value,ad0_unit,ad1_value,ad1_unit
//
// A sample row's note is empty, or the crossings of limits it made ("ad0 high",
// several joined by "; "); a note row's says what it stands for and has no
// values. The values are each reading in its channel's unit, computed from its
// hundredths of a volt; a unit is written beside each value. Only a unit can
// hold a comma, a quote or a line end: it is quoted then, as RFC 4180 quotes. A unit beginning with
// "=", "+", "-" or "@" (which a spreadsheet would take for a formula) or with an apostrophe is written
// after an apostrophe, which a spreadsheet reads as "text follows" and the record's reader takes away.
#pragma once

#include "acquisition/decoded_sample.h"

#include <array>
#include <string>
#include <string_view>

namespace record {

// The columns, in their order: those of every record, then the values in the channels' units.
inline constexpr std::array<std::string_view, 11> kVoltsColumns = {
    "time", "elapsed_s", "sweep", "x", "ad0_v", "ad1_v", "hh", "hl", "lh", "ll", "note"};
inline constexpr std::array<std::string_view, 4> kValueColumns = {"ad0_value", "ad0_unit", "ad1_value",
                                                                  "ad1_unit"};

namespace header {
struct Row {
    char text[160]{};
    std::size_t size = 0;
};
template <std::size_t N>
consteval Row Joined(const std::array<std::string_view, kVoltsColumns.size()>& first,
                     const std::array<std::string_view, N>& then) {
    Row row;
    const auto put = [&row](std::string_view s) {
        for (const char c : s)
            row.text[row.size++] = c;
    };
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (i > 0)
            put(",");
        put(first[i]);
    }
    for (const std::string_view column : then) {
        put(",");
        put(column);
    }
    put("\r\n");
    return row;
}
inline constexpr Row kWithValues = Joined(kVoltsColumns, kValueColumns);
inline constexpr Row kVoltsOnly = Joined(kVoltsColumns, std::array<std::string_view, 0>{});
} // namespace header

// The header row, CR LF included.
inline constexpr std::string_view kHeaderRow{header::kWithValues.text, header::kWithValues.size};
// The header of the records written before the channels had units; such records are read as well.
inline constexpr std::string_view kVoltsOnlyHeaderRow{header::kVoltsOnly.text, header::kVoltsOnly.size};

// A unit as its column holds it (before any quoting): after an apostrophe when it begins with "=", "+",
// "-", "@" or an apostrophe; and back.
QString UnitField(const QString& unit);
QString UnitOfField(const QString& field);

// Appends the sample's row, CR LF included, to `out`, its values in the channels' units.
void AppendRow(std::string& out, const acquisition::DecodedSample& sample,
               const channels::Channels& channels = channels::DefaultChannels());

} // namespace record
