#include "app/run_overrides.h"

#include "app/ombu1.h"


namespace app {

std::optional<std::uint16_t> ParseSamplingTime(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 600)
        return std::nullopt;
    return std::uint16_t(value);
}

std::optional<bool> ParseOnOff(const QString& text) {
    if (text == QLatin1String("on"))
        return true;
    if (text == QLatin1String("off"))
        return false;
    return std::nullopt;
}

std::optional<acquisition::ChannelsOn> ParseChannels(const QString& text) {
    if (text == QLatin1String("ad0,ad1") || text == QLatin1String("ad1,ad0"))
        return acquisition::ChannelsOn{true, true};
    if (text == QLatin1String("ad0"))
        return acquisition::ChannelsOn{true, false};
    if (text == QLatin1String("ad1"))
        return acquisition::ChannelsOn{false, true};
    return std::nullopt;
}

void ApplyRunOverrides(settings::KeptSettings& kept, const RunOverrides& overrides) {
    if (overrides.samplingTime)
        kept.samplingTime = *overrides.samplingTime;
    if (overrides.continuous)
        kept.SetOption(settings::kContinuousOption, *overrides.continuous);
    if (overrides.autoSave)
        kept.SetOption(settings::kAutoSaveOption, *overrides.autoSave);
    if (overrides.channels) {
        kept.SetOption(settings::kAd0TraceOption, overrides.channels->ad0);
        kept.SetOption(settings::kAd1TraceOption, overrides.channels->ad1);
    }
}

void ApplyRunOverrides(TForm1& form, const RunOverrides& overrides) {
    settings::KeptSettings kept = form.Kept();
    ApplyRunOverrides(kept, overrides);
    form.ShowKept(kept, TForm1::BoxHandlers::Quiet);
}

} // namespace app
