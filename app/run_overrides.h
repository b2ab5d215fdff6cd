// Settings given on the command line for this run only: they set the form's
// controls once the parameter file has been read, and are never written back
// to it (the boxes' handlers, which save the file, do not run for them).
#pragma once

#include "acquisition/reply_decoding.h"
#include "settings/kept_settings.h"

#include <QString>
#include <cstdint>
#include <optional>

class TForm1;

namespace app {

struct RunOverrides {
    std::optional<std::uint16_t> samplingTime; // tenths of a second, 1 to 600
    std::optional<bool> continuous;
    std::optional<bool> autoSave;
    std::optional<acquisition::ChannelsOn> channels;
};

// Each gives nothing for a text it does not take.
std::optional<std::uint16_t> ParseSamplingTime(const QString& text); // "1" to "600"
std::optional<bool> ParseOnOff(const QString& text);                   // "on" or "off"
std::optional<acquisition::ChannelsOn> ParseChannels(const QString& text); // "ad0,ad1", "ad0" or "ad1"

// The run's settings: the kept ones with this run's overrides, for the window and a headless run alike.
void ApplyRunOverrides(settings::KeptSettings& kept, const RunOverrides& overrides);
// The window shows the overridden settings; the boxes' handlers do not run, so the file keeps its own.
void ApplyRunOverrides(TForm1& form, const RunOverrides& overrides);

} // namespace app
