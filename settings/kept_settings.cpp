#include "settings/kept_settings.h"

namespace settings {

KeptSettings DecodeSettings(const ParamRecord& record) {
    KeptSettings kept;
    kept.ad0Color = DecodeColor(record, kAd0ColorByte);
    kept.ad1Color = DecodeColor(record, kAd1ColorByte);
    kept.samplingTime = DecodeSamplingTime(record);
    for (int i = 0; i < kOptionCount; ++i)
        kept.SetOption(i, DecodeOption(record, i));
    return kept;
}

ParamRecord StartupRecord(const KeptSettings& kept) {
    return StartupRecord(kept.ad0Color, kept.ad1Color, kept.samplingTime, kept.options);
}

SettingsLoad LoadSettings(ParameterFile& file, const KeptSettings& startup) {
    const LoadResult result = file.Load(StartupRecord(startup));
    SettingsLoad load;
    load.outcome = result.outcome;
    load.record = result.record;
    load.settings = result.outcome == LoadOutcome::Read ? DecodeSettings(result.record) : startup;
    if (result.outcome == LoadOutcome::LeftAlone || result.outcome == LoadOutcome::Unavailable)
        load.problem = file.LastError();
    if (load.settings.samplingTime == 0) {
        load.settings.samplingTime = 1;
        load.notice = QStringLiteral("The sampling time in the settings file is 0, which would send requests "
                                     "without a pause: 1 (0.1 s), the fastest the controls allow, is used. The "
                                     "file keeps its 0 until a sampling time button changes it.");
    }
    return load;
}

} // namespace settings
