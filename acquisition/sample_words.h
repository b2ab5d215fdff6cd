// The words a sample is written in, one definition for every writer and reader: the record's rows and
// their reader, the MQTT messages, the --on-limit command's arguments.
#pragma once

#include "acquisition/decoded_sample.h"

#include <QDateTime>
#include <array>
#include <string>
#include <string_view>

namespace acquisition {

// Every kind of row, for those that read the words back.
inline constexpr std::array<SampleNote, 6> kSampleNotes = {SampleNote::None,     SampleNote::NoFrame,
                                                           SampleNote::NoReply,  SampleNote::UnitLost,
                                                           SampleNote::UnitBack, SampleNote::CutShort};

// The note's word for each kind of row ("no reply", "unit lost", …); empty for a plain sample.
std::string_view NoteWord(SampleNote note);

// A sample's time: local time with milliseconds and the UTC offset, 2026-12-07T09:30:47.123+09:00; the year
// before 1 is 0 (the calendar's 1 BC, year -1 to QDate).
void AppendTimeText(std::string& out, const QDateTime& time);
std::string TimeText(const QDateTime& time);

} // namespace acquisition
