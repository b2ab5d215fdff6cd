// From the reply buffer to the values of one decoded sample: the two readings
// in hundredths of a volt and the four status bits. Unlike the chart, which
// draws whatever the digit positions hold, a reading whose three characters are
// not all decimal digits is left empty rather than passed off as a voltage.
#pragma once

#include "acquisition/decoded_sample.h"
#include "device/unit_protocol.h"

#include <optional>

namespace acquisition {

// The channels whose boxes are ticked when the reply is drawn.
struct ChannelsOn {
    bool ad0 = true;
    bool ad1 = true;
};

// The three digits at marker + offset as a reading, or nothing when one is not 0-9.
std::optional<int> DecimalReading(const device::RxBufferBytes& rx, int marker, int offset);

// The values of the reply in `rx`: readings, status bits and no note when it has
// a frame; only the NoFrame note when it has none. Time, elapsed time, sweep and
// column are the feed's to fill in.
DecodedSample DecodeReply(const device::RxBufferBytes& rx, ChannelsOn channels);

} // namespace acquisition
