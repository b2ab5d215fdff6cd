// The settings that are not part of the 30-byte parameter file: whether a run
// waits for an unplugged unit, the window's language, the trend window's span.
// They live in one small file, tavrin.conf, in the user's settings folder
// (~/.config/tavrin/), one "key=value" line each, and never in the parameter
// file. A line the program does not know is kept as it is.
#pragma once

#include "report/failure.h"

#include <QString>
#include <QStringList>

namespace settings {

inline const QString kAppSettingsFileName = QStringLiteral("tavrin.conf");

struct AppSettings {
    bool reconnect = false;  // a run waits for an unplugged unit to come back
    QString language;        // "ja", "en", or empty: from the user's languages
    QString trendSpan;       // the trend window's follow span: "1min", "10min", "1h", "all"; empty: its default
    QStringList otherLines;  // lines of the file this version does not know
};

// The file's settings; the defaults when there is no file. A file that cannot be read gives the
// defaults and the reason.
struct AppSettingsLoad {
    AppSettings settings;
    QString problem; // empty when the file was read or is not there
};
AppSettingsLoad LoadAppSettings(const QString& folder);

// Writes the whole file anew (the folder made first), or says why not; the old file stays then.
report::Done SaveAppSettings(const QString& folder, const AppSettings& settings);

// The file's text for `settings`, and `settings` from a text.
QByteArray AppSettingsText(const AppSettings& settings);
AppSettings ParseAppSettings(const QByteArray& text);

} // namespace settings
