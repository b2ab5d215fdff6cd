// The settings the parameter file keeps, as the logger uses them: the two trace colours, the
// sampling time and the six option boxes. Loaded once at start-up by the window and by a headless
// run alike; a run's overrides from the command line change this model, never the file.
#pragma once

#include "settings/param_record.h"
#include "settings/parameter_file.h"

#include <QString>

namespace settings {

struct KeptSettings {
    TColor ad0Color = clGreen;
    TColor ad1Color = clOlive;
    quint16 samplingTime = 10;
    // AD0 and AD1 traced, dots, continuous, no auto-save, no auto-print.
    OptionStates options = {true, true, false, true, false, false};

    bool Option(int option) const { return options[std::size_t(option)]; }
    void SetOption(int option, bool ticked) { options[std::size_t(option)] = ticked; }
};

// Every setting as the record spells it (a damaged record loads as whatever its bytes say).
KeptSettings DecodeSettings(const ParamRecord& record);
// The record a new parameter file starts with, holding `kept`.
ParamRecord StartupRecord(const KeptSettings& kept);

struct SettingsLoad {
    LoadOutcome outcome = LoadOutcome::Unavailable;
    ParamRecord record{};   // the file's bytes when read; otherwise the start-up record
    KeptSettings settings;  // decoded when the file was read; otherwise the start-up settings
    QString problem;        // why the file could not be used (LeftAlone, Unavailable); empty otherwise
    QString notice;         // what was read but not taken as it stands, and why; empty otherwise
};

// Reads the parameter file, creating it with `startup` when there is none. A sampling time of 0
// (requests without any pause) is taken as 1, the fastest the controls allow; the file keeps its
// bytes until a control changes them.
SettingsLoad LoadSettings(ParameterFile& file, const KeptSettings& startup);

} // namespace settings
