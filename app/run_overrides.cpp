#include "app/run_overrides.h"

#include "app/ombu1.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalBlocker>

namespace app {

namespace {

void Tick(QCheckBox* box, bool ticked) {
    const QSignalBlocker quiet(box);
    box->setChecked(ticked);
}

} // namespace

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

void ApplyRunOverrides(TForm1& form, const RunOverrides& overrides) {
    if (overrides.samplingTime) {
        form.SamplingTime = *overrides.samplingTime;
        form.Edit2->setText(QString::number(form.SamplingTime));
    }
    if (overrides.continuous)
        Tick(form.CheckBox5, *overrides.continuous);
    if (overrides.autoSave)
        Tick(form.CheckBox6, *overrides.autoSave);
    if (overrides.channels) {
        Tick(form.CheckBox2, overrides.channels->ad0);
        Tick(form.CheckBox3, overrides.channels->ad1);
    }
}

} // namespace app
