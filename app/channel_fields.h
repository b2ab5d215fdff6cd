// A channel as the settings dialog shows it, one text a field, and back: what
// each field's text gives, what is wrong with it, and how the dialog's answer
// is taken into the settings file and the run. No widget here.
#pragma once

#include "channels/channel.h"

#include <QString>
#include <array>
#include <optional>

namespace app {

enum class ChannelField { Name, Unit, Volts1, Value1, Volts2, Value2, Low, High, Hold, Hysteresis };
inline constexpr int kChannelFieldCount = 10;
using ChannelTexts = std::array<QString, kChannelFieldCount>;

inline QString& At(ChannelTexts& texts, ChannelField field) {
    return texts[std::size_t(field)];
}
inline const QString& At(const ChannelTexts& texts, ChannelField field) {
    return texts[std::size_t(field)];
}

// The fields' texts for a channel: numbers as the settings file writes them, an unset limit or
// hysteresis empty.
ChannelTexts TextsOf(const channels::Channel& channel);

// The channel the texts give, and what is wrong with each field, in the window's language (empty
// where the field will do); no channel while any field will not do.
struct ChannelRead {
    std::optional<channels::Channel> channel;
    ChannelTexts problems;
};
ChannelRead ReadChannel(const ChannelTexts& texts);

// The hysteresis in force when its field is left empty, at the channel's decimals ("3" for an
// oven's 100 to 400 °C); empty while the other fields do not make a channel.
QString DefaultHysteresisText(const ChannelTexts& texts);

// Whether the command line sets anything of the channels.
bool AnySet(const channels::ChannelsOptions& options);

// The dialog's channels taken: each field the user changed from what the dialog showed (`shown`,
// the file's values with the command line's over them) goes into `kept`, what the settings file
// holds, and over the command line's value for the rest of this start; every other field stays as
// it was, so that nothing the command line gave is written to the file.
void TakeChanges(const channels::Channels& shown, const channels::Channels& given, channels::Channels& kept,
                 channels::ChannelsOptions& commandLine);

} // namespace app
