#include "acquisition/reply_decoding.h"

namespace acquisition {

namespace {

std::optional<int> DecimalReading(const device::RxBufferBytes& rx, int first) {
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t c = rx[std::size_t(first + i)];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

Reading ReadingOf(const device::RxBufferBytes& rx, int marker, int offset) {
    return {device::ReadingAt(rx, marker, offset), DecimalReading(rx, marker + offset)};
}

} // namespace

DecodedReply DecodeReply(const device::RxBufferBytes& rx) {
    DecodedReply reply;
    reply.marker = device::FindMarker(rx);
    if (!reply.marker)
        return reply;
    reply.ad0 = ReadingOf(rx, *reply.marker, device::kAd0Offset);
    reply.ad1 = ReadingOf(rx, *reply.marker, device::kAd1Offset);
    reply.status = device::StatusAt(rx, *reply.marker);
    return reply;
}

DecodedSample SampleOf(const DecodedReply& reply, ChannelsOn channels) {
    DecodedSample sample;
    if (!reply.marker) {
        sample.note = SampleNote::NoFrame;
        return sample;
    }
    if (channels.ad0)
        sample.ad0 = reply.ad0.hundredths;
    if (channels.ad1)
        sample.ad1 = reply.ad1.hundredths;
    sample.levels = std::uint8_t(reply.status & 0x0F);
    return sample;
}

} // namespace acquisition
