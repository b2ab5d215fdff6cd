// Numbers over a stretch of a trace: for each reading, how many samples hold it,
// their lowest and highest, mean, RMS and standard deviation, taken over the
// rows themselves (never the decimated columns a view draws).
#pragma once

#include "trend/decimation.h"

#include <QString>
#include <string>

namespace trend {

struct ChannelStats {
    std::size_t samples = 0; // rows holding the reading
    double min = 0;          // volts, or the channel's unit (InUnits)
    double max = 0;
    double mean = 0;
    double rms = 0;
    double stddev = 0;       // of the samples themselves (divided by their number)
};

// AD0 or AD1 over the rows of the ranges.
ChannelStats StatsOf(const Trace& trace, Channel channel, const RowRanges& rows);

// The same numbers in the channel's unit (the line from volts to values taken through them).
ChannelStats InUnits(const ChannelStats& volts, const Units& units);

// The statistics file written beside a CSV slice: a header, then one line a reading
// (`channel,unit,from,to,samples,min,max,mean,rms,stddev`), named and in its unit, or in volts
// (`volts`). `from` and `to` are the times of the first and the last row. The lowest and highest
// are written with the channel's decimals, the others with two more.
std::string StatsCsv(const Trace& trace, const RowRanges& rows, bool volts = false);

} // namespace trend
