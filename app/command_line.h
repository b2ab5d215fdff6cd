// The command line: every option in one table with its value, its check and
// its help text, and the exit statuses the program ends with.
#pragma once

#include "app/run_overrides.h"
#include "channels/channel.h"
#include "translations/ui_language.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <variant>

namespace app {

// Exit statuses.
constexpr int kExitNormal = 0;          // the run ended normally (or nothing was run)
constexpr int kExitBadCommandLine = 1;  // an option or its value will not do
constexpr int kExitTimedOut = 2;        // the unit stopped answering: the time-out end
constexpr int kExitRunError = 3;        // no unit, the unit lost, a record folder that cannot be
                                        // written, a sweep file or a print that failed
constexpr int kExitDataShort = 4;       // the run ended normally, but some of its data did not reach
                                        // a sink (the record stopped, rows or samples dropped)

struct Options {
    QString device = QStringLiteral("auto");
    int tickMs = 100;
    bool start = false;
    bool exitAfterRun = false;
    bool quitWhenShown = false;
    QString parameterFolder;
    QString record;        // the run records' folder; empty: the sweep files' folder
    bool headless = false; // no window system at all
    RunOverrides overrides;
    QString publishUrl;    // empty: no publishing
    std::optional<translations::Language> language; // none: from the user's UI languages
    bool listUnits = false;
    bool reconnect = false;
    bool trend = false;     // the trend window opened at start
    QStringList view;       // --view: only the trend window, with these run records
    QStringList positional; // the arguments that are not options
    channels::ChannelsOptions channels; // names, units, scaling, limits: this run only
    QString onLimit;        // a command run at each crossing of a limit; empty: none
    std::chrono::milliseconds onLimitTimeout{60'000}; // how long one such command may run
};

// --record's two words that are not folders.
inline const QString kRecordOff = QStringLiteral("off");
inline const QString kRecordToStandardOutput = QStringLiteral("-");

// One row of the table.
struct OptionRow {
    QString name;
    QString valueName; // empty: a flag
    QString help;
    // Takes the option's value (empty for a flag) into the options; when the value will not do, says
    // what the option wants, as "--name wants ..., not '...'" does.
    std::function<std::optional<QString>(const QString& value, Options& options)> take;
    bool hidden = false;
};

const std::vector<OptionRow>& OptionTable();

// The options, or the exit status to end with at once after help, the version or an option that will
// not do (what to say has been printed). `standardOutputClosed`: the program was started with standard
// output closed (now open on /dev/null), where --record - would lose every row.
std::variant<Options, int> ParseCommandLine(const QStringList& arguments, bool standardOutputClosed = false);

} // namespace app
