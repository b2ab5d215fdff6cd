// The settings that are not part of the 30-byte parameter file: whether a run
// waits for an unplugged unit, the window's language, the trend window's span,
// and the channels as the user knows them (names, units, scaling, limits).
// They live in one small file, tavrin.conf, in the user's settings folder
// (~/.config/tavrin/), one "key=value" line each, and never in the parameter
// file. The file is the user's as much as the program's: every line the program
// does not own (another key, a value it does not take, a "#" or ";" comment, a
// blank line) is written back byte for byte, in any encoding, where it stood.
#pragma once

#include "channels/channel.h"
#include "report/failure.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace settings {

inline const QString kAppSettingsFileName = QStringLiteral("tavrin.conf");

// The longest hold time a channel's limits take, in seconds (a day).
inline constexpr double kMostHoldSeconds = 86400;

// The largest file read; a larger one is refused whole rather than cut.
inline constexpr qint64 kAppSettingsMaxBytes = 1024 * 1024;

struct AppSettings {
    bool reconnect = false;  // a run waits for an unplugged unit to come back
    QString language;        // "ja", "en", or empty: from the user's languages
    QString trendSpan;       // the trend window's follow span: "1min", "10min", "1h", "all"; empty: its default
    // "ad0.name", "ad0.unit", "ad0.scale", "ad0.limits", "ad0.hold", "ad0.hysteresis" and ad1's.
    channels::Channels channels = channels::DefaultChannels();
    // The file could not be read whole at start: this session's changes stay in memory, and the
    // file is never written.
    bool leaveFile = false;
};

// The file's settings; the defaults when there is no file. A file that cannot be read whole (not a
// regular file, unreadable, larger than kAppSettingsMaxBytes) gives the defaults, leaveFile, and
// the reason, which says too that the file is left as it is.
struct AppSettingsLoad {
    AppSettings settings;
    QString problem; // empty when the file was read or is not there
    // A line each of the program's keys whose value is not taken (a scale whose values do not fit
    // the record's digits, a unit with a control character, …): which, and what it wants.
    QStringList notices;
};
AppSettingsLoad LoadAppSettings(const QString& folder);

// Writes the settings into the file (the folder made first), or says why not; the old file stays
// then. The file is read again first, so that what the user has written since the start is kept;
// only the lines of the keys whose values change are rewritten, in place, and a key the file
// lacks is added at its end. Refused, the file untouched, when settings.leaveFile is set or the
// file cannot be read whole now.
report::Done SaveAppSettings(const QString& folder, const AppSettings& settings);

// The text of a new file for `settings`: reconnect and language, and the others where they are
// not the defaults.
QByteArray AppSettingsText(const AppSettings& settings);
// `file` with `settings` written in: each key whose value `file` does not already give has the
// last line that gives it rewritten (its line end kept), or a line added at the end; every other
// byte stays.
QByteArray AppSettingsText(const AppSettings& settings, const QByteArray& file);
// The settings a text gives: for each key the last line with a value the program takes.
AppSettings ParseAppSettings(const QByteArray& text);

} // namespace settings
