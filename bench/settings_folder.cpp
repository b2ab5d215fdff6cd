#include "bench/settings_folder.h"

#include "chart/tcolor.h"
#include "settings/param_record.h"
#include "settings/parameter_file.h"

#include <QDir>
#include <stdexcept>

namespace bench {

SettingsFolder::SettingsFolder(const LoggerSettings& settings) {
    if (!folder_.isValid())
        throw std::runtime_error("cannot make a temporary folder: " + folder_.errorString().toStdString());
    settings::OptionStates options{};
    options[settings::kAd0TraceOption] = true;
    options[settings::kAd1TraceOption] = true;
    options[settings::kContinuousOption] = settings.continuous;
    const auto record = settings::StartupRecord(clGreen, clOlive, settings.samplingTime, options);
    settings::ParameterFile file(
        QDir(folder_.path()).filePath(QString::fromLatin1(settings::kParameterFileName)));
    if (!file.Save(record))
        throw std::runtime_error("cannot write the parameter file: " + file.LastError().toStdString());
}

} // namespace bench
