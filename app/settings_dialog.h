// SETTINGS (the Function group's third button): one modal dialog for what the
// window keeps in the settings file beside the parameter file. Per channel its
// name, unit, two calibration points (volts → value) and its limits; and
// whether a run waits for an unplugged unit, and the window's language from
// the next start. A field that will not do is said beside it, and OK waits
// until every field will do: nothing typed is lost.
#pragma once

#include "app/channel_fields.h"
#include "channels/channel.h"

#include <QDialog>
#include <QString>
#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// What the dialog shows and gives back.
struct WindowSettings {
    channels::Channels channels = channels::DefaultChannels();
    bool reconnect = false;
    QString language; // "ja", "en", or empty: from the user's languages
};

class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    // `commandLine`: some channel fields shown come from the command line, for this start only.
    SettingsDialog(const WindowSettings& shown, bool commandLine, QWidget* parent = nullptr);

    // What the fields give; only while every field will do (OK enabled).
    WindowSettings Settings() const;

    QLineEdit* Edit(int channel, app::ChannelField field) const;
    // What is wrong with a field, beside it; empty when it will do.
    QString Problem(int channel, app::ChannelField field) const;
    QCheckBox* ReconnectBox() const { return reconnect_; }
    QComboBox* LanguageBox() const { return language_; }
    QPushButton* OkButton() const { return ok_; }

    // Refused while a field will not do.
    void accept() override;

private:
    struct ChannelControls {
        std::array<QLineEdit*, app::kChannelFieldCount> edits{};
        std::array<QLabel*, app::kChannelFieldCount> problems{};
        std::array<QLabel*, 4> units{}; // after the two values, the low and the high limit
        QLabel* hysteresisUnit = nullptr;
    };

    QWidget* BuildChannel(int channel, const channels::Channel& shown);
    // Every field checked, its problem said beside it; OK enabled when all will do.
    bool Check();
    app::ChannelTexts Texts(int channel) const;

    std::array<ChannelControls, channels::kChannelCount> channels_;
    QCheckBox* reconnect_ = nullptr;
    QComboBox* language_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// The dialog behind SETTINGS, so that tests can answer it.
class SettingsDialogSeam {
public:
    virtual ~SettingsDialogSeam() = default;
    // The settings the user gave, or nothing when the dialog was cancelled.
    virtual std::optional<WindowSettings> Execute(QWidget* parent, const WindowSettings& shown,
                                                  bool commandLine) = 0;
};

class StandardSettingsDialog : public SettingsDialogSeam {
public:
    std::optional<WindowSettings> Execute(QWidget* parent, const WindowSettings& shown, bool commandLine) override;
};
