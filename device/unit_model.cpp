#include "device/unit_model.h"

#include <cmath>
#include <cstdio>

namespace device {

std::uint16_t UnitModel::Ad0(unsigned n) {
    const double pi = 3.14159265358979323846;
    return std::uint16_t(std::lround(300.0 + 250.0 * std::sin(2.0 * pi * double(n % 240) / 240.0)));
}

std::uint16_t UnitModel::Ad1(unsigned n) {
    const unsigned phase = n % 200;   // up 0..600 in 100 samples, down again in the next 100
    return std::uint16_t(phase < 100 ? phase * 6 : (200 - phase) * 6);
}

std::uint8_t UnitModel::DigitalLines(unsigned n) { return std::uint8_t((n / 8) & 0x0F); }

std::string UnitModel::Frame(std::uint16_t ad0, std::uint16_t ad1, std::uint8_t lines) {
    char text[32];
    std::snprintf(text, sizeof text, "AD0=%03u V, AD1=%03u%c\r\n", unsigned(ad0 % 1000), unsigned(ad1 % 1000),
                  char(0x30 | (lines & 0x0F)));
    return text;
}

std::string UnitModel::ReplyFor(unsigned requestNumber) const {
    if (faults_.silentAfter >= 0 && requestNumber >= unsigned(faults_.silentAfter))
        return {};
    std::string reply(std::size_t(faults_.leadingBytes), '.');
    std::string frame = Frame(Ad0(requestNumber), Ad1(requestNumber), DigitalLines(requestNumber));
    if (faults_.garbage)
        for (char& c : frame)
            if (c == 'A')
                c = '#';
    reply += frame;
    for (int i = 0; i < faults_.trailingBytes; ++i)
        reply += char('0' + i % 10);
    return reply;
}

int RequestScanner::Feed(const void* data, std::size_t count) {
    static constexpr char kRequest[3] = {0x41, 0x4C, 0x0D};
    int complete = 0;
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == kRequest[matched_]) {
            if (++matched_ == 3) {
                ++complete;
                matched_ = 0;
            }
        } else {
            matched_ = bytes[i] == kRequest[0] ? 1 : 0;
        }
    }
    return complete;
}

} // namespace device
