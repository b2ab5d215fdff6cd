#include "acquisition/sample_decoding.h"

namespace acquisition {

std::optional<int> DecimalReading(const device::RxBufferBytes& rx, int marker, int offset) {
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t c = rx[std::size_t(marker + offset + i)];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

DecodedSample DecodeReply(const device::RxBufferBytes& rx, ChannelsOn channels) {
    DecodedSample sample;
    const auto marker = device::FindMarker(rx);
    if (!marker) {
        sample.note = SampleNote::NoFrame;
        return sample;
    }
    if (channels.ad0)
        sample.ad0 = DecimalReading(rx, *marker, device::kAd0Offset);
    if (channels.ad1)
        sample.ad1 = DecimalReading(rx, *marker, device::kAd1Offset);
    sample.levels = std::uint8_t(device::StatusAt(rx, *marker) & 0x0F);
    return sample;
}

} // namespace acquisition
