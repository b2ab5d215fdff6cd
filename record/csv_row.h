// One row of the run record, as RFC 4180 CSV in UTF-8 with CR LF line ends:
//
//   time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note
//
// No field can hold a comma, a quote or a line end, so none is ever quoted.
#pragma once

#include "acquisition/decoded_sample.h"

#include <string>
#include <string_view>

namespace record {

inline constexpr std::string_view kHeaderRow = "time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note\r\n";

// The note column's text for each kind of row.
std::string_view NoteText(acquisition::SampleNote note);

// Appends the sample's row, CR LF included, to `out`.
void AppendRow(std::string& out, const acquisition::DecodedSample& sample);

} // namespace record
