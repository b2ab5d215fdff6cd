// One sample as the JSON object a subscriber receives: the run record's fields
// plus the run's START time, so that runs can be told apart.
#pragma once

#include "acquisition/decoded_sample.h"

#include <QDateTime>
#include <string>

namespace publish {

// {"time":…,"elapsed_s":12.345,"sweep":0,"x":17,"ad0_v":1.23,"ad1_v":null,
//  "hh":1,"hl":0,"lh":0,"ll":1,"note":null,
//  "ad0_value":123,"ad0_unit":"°C","ad0_name":"Oven","ad1_value":null,"ad1_unit":"V","ad1_name":"AD1",
//  "run":…}; `run` is the time of START. Times are the record's (acquisition::TimeText). The values are the
//  record's, in the channels' units with their
// decimals, null where the record's are empty; the note is the record's too, the crossings of limits
// included ("ad0 high; ad1 low").
std::string SampleJson(const acquisition::DecodedSample& sample, const std::string& run,
                       const channels::Channels& channels = channels::DefaultChannels());

// What PREFIX/<unit>/alarm/ad0 holds (retained) after a crossing of the channel's limits:
// {"channel":"ad0","name":"Oven","state":"high","value":412,"unit":"°C","low":100,"high":400,
//  "time":…,"run":…}; `state` is "high", "low" or "back", a limit not set is null.
std::string AlarmJson(int channel, const channels::Channel& settings, channels::Crossing crossing,
                      int hundredths, const QDateTime& time, const std::string& run);

} // namespace publish
