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

#include <string>
#include <string_view>

namespace record {

inline constexpr std::string_view kHeaderRow =
    "time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note,ad0_value,ad0_unit,ad1_value,ad1_unit\r\n";
// The header of the records written before the channels had units; such records are read as well.
inline constexpr std::string_view kVoltsOnlyHeaderRow = "time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note\r\n";

// The time column's text: local time with milliseconds and the UTC offset, 2026-12-07T09:30:47.123+09:00.
std::string TimeText(const QDateTime& time);

// A unit as its column holds it (before any quoting): after an apostrophe when it begins with "=", "+",
// "-", "@" or an apostrophe; and back.
QString UnitField(const QString& unit);
QString UnitOfField(const QString& field);

// The note column's text for each kind of row.
std::string_view NoteText(acquisition::SampleNote note);

// Appends the sample's row, CR LF included, to `out`, its values in the channels' units.
void AppendRow(std::string& out, const acquisition::DecodedSample& sample,
               const channels::Channels& channels = channels::DefaultChannels());

} // namespace record
