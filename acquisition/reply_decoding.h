// A reply, decoded once: where its frame begins (or that it has none), each
// reading under both of its rules, and the status character. The chart draws
// whatever the digit positions hold (each digit counts its HexDigitValue,
// unchecked); the record, the stream and the publisher take a reading only when
// its three characters are decimal digits, and leave it empty otherwise rather
// than pass garbage off as a voltage.
#pragma once

#include "acquisition/decoded_sample.h"
#include "device/unit_protocol.h"

#include <cstdint>
#include <optional>

namespace acquisition {

// The channels whose boxes are ticked when the reply is drawn.
struct ChannelsOn {
    bool ad0 = true;
    bool ad1 = true;
};

DecodedReply DecodeReply(const device::RxBufferBytes& rx);

// What the sinks get of a reply drawn with `channels` on: the readings of the channels that are on,
// the four status bits and no note; only the NoFrame note for a reply without a frame. Time, elapsed
// time, sweep and column are the feed's to fill in.
DecodedSample SampleOf(const DecodedReply& reply, ChannelsOn channels);

} // namespace acquisition
