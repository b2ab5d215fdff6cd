// One sample as the JSON object a subscriber receives: the run record's fields
// plus the run's START time, so that runs can be told apart.
#pragma once

#include "acquisition/decoded_sample.h"

#include <QDateTime>
#include <string>

namespace publish {

// ISO 8601 with milliseconds and the UTC offset: 2026-12-07T09:30:47.123+09:00.
std::string IsoTime(const QDateTime& time);

// {"time":…,"elapsed_s":12.345,"sweep":0,"x":17,"ad0_v":1.23,"ad1_v":null,
//  "hh":1,"hl":0,"lh":0,"ll":1,"note":null,"run":…}; `run` is IsoTime of START.
std::string SampleJson(const acquisition::DecodedSample& sample, const std::string& run);

} // namespace publish
