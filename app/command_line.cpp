#include "app/command_line.h"

#include "alarm/command_words.h"
#include "publish/publish_target.h"
#include "report/reporter.h"
#include "settings/parameter_file.h"
#include "settings/parameter_folder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace app {

namespace {

using Take = std::function<std::optional<QString>(const QString&, Options&)>;

// A flag: sets what it stands for.
Take Flag(bool Options::*field) {
    return [field](const QString&, Options& options) -> std::optional<QString> {
        options.*field = true;
        return std::nullopt;
    };
}

// A run-only setting: the value, or what the option wants.
template <class T, class Parse> Take Override(std::optional<T> RunOverrides::*field, Parse parse, QString wanted) {
    return [field, parse, wanted](const QString& value, Options& options) -> std::optional<QString> {
        options.overrides.*field = parse(value);
        if (options.overrides.*field)
            return std::nullopt;
        return wanted;
    };
}

// --adN-name, --adN-unit, --adN-scale, --adN-limits, --adN-hold: the channel as the user knows it, this run only.
void AddChannelRows(std::vector<OptionRow>& rows, int channel) {
    const QString key = channels::Key(channel);
    const std::size_t i = std::size_t(channel);
    // A name or a unit: not empty, not long, and nothing that would break the record's row or a terminal.
    auto label = [i](std::optional<QString> channels::ChannelOptions::*field, const QString& what) {
        return [i, field, what](const QString& value, Options& o) -> std::optional<QString> {
            o.channels[i].*field = value.trimmed();
            if (channels::LabelOk(value))
                return std::nullopt;
            return QStringLiteral(
                       "%1 that is not empty, has at most %2 characters and holds no comma, quote or "
                       "control character (tab, line end, escape, U+0085, U+2028 and the like)")
                .arg(what)
                .arg(channels::kMostLabelCharacters);
        };
    };
    rows.push_back({key + QStringLiteral("-name"), QStringLiteral("TEXT"),
                    QStringLiteral("%1's name in the views, the messages and the published samples (default "
                                   "AD%2), this run only.")
                        .arg(key.toUpper())
                        .arg(channel),
                    label(&channels::ChannelOptions::name, QStringLiteral("a name"))});
    rows.push_back({key + QStringLiteral("-unit"), QStringLiteral("TEXT"),
                    QStringLiteral("%1's unit, e.g. °C (default V), this run only.").arg(key.toUpper()),
                    label(&channels::ChannelOptions::unit, QStringLiteral("a unit"))});
    rows.push_back({key + QStringLiteral("-scale"), QStringLiteral("V1=Y1,V2=Y2"),
                    QStringLiteral("%1's values: the straight line through two points, volts = value (0=0,5=500: "
                                   "0 V is 0, 5 V is 500), this run only.")
                        .arg(key.toUpper()),
                    [i](const QString& value, Options& o) -> std::optional<QString> {
                        QString problem;
                        o.channels[i].scale = channels::ParseScale(value, &problem);
                        if (o.channels[i].scale)
                            return std::nullopt;
                        return problem;
                    }});
    rows.push_back({key + QStringLiteral("-limits"), QStringLiteral("LOW:HIGH"),
                    QStringLiteral("%1's limits in its unit (either side may be empty): crossing one is noted in "
                                   "the record, said and published, this run only.")
                        .arg(key.toUpper()),
                    [i](const QString& value, Options& o) -> std::optional<QString> {
                        QString problem;
                        // At the scale given before it (the options are taken in the table's order), else at
                        // the scale a run starts with.
                        o.channels[i].limits = channels::ParseLimits(
                            value, &problem, o.channels[i].scale.value_or(channels::DefaultChannel(0).scale));
                        if (o.channels[i].limits)
                            return std::nullopt;
                        return problem;
                    }});
    rows.push_back({key + QStringLiteral("-hold"), QStringLiteral("SECONDS"),
                    QStringLiteral("How long %1 must stay outside its limits before that counts (default 0), this "
                                   "run only.")
                        .arg(key.toUpper()),
                    [i](const QString& value, Options& o) -> std::optional<QString> {
                        bool ok = false;
                        const double seconds = value.toDouble(&ok);
                        if (ok && seconds >= 0 && seconds <= 86400) {
                            o.channels[i].holdS = seconds;
                            return std::nullopt;
                        }
                        return QStringLiteral("a number of seconds from 0 to 86400");
                    }});
}

std::vector<OptionRow> MakeTable() {
    std::vector<OptionRow> rows;
    rows.push_back({QStringLiteral("device"), QStringLiteral("SPEC"),
                    QStringLiteral("The unit to use: auto (FTDI's library, then the kernel ttys, then libftdi), sim (a "
                                   "simulated unit), tty, tty:PATH, ftdi (libftdi), d2xx or d2xx:LIBRARY; a unit's "
                                   "SERIAL number (tty:SERIAL, ftdi:SERIAL, d2xx:SERIAL for one way), or a PATH "
                                   "beginning with /."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        o.device = value;
                        return std::nullopt;
                    }});
    rows.push_back({QStringLiteral("tick-ms"), QStringLiteral("N"),
                    QStringLiteral("Length of one tick in milliseconds (1-60000, default 100)."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        bool ok = false;
                        o.tickMs = value.toInt(&ok);
                        if (ok && o.tickMs >= 1 && o.tickMs <= 60000)
                            return std::nullopt;
                        return QStringLiteral("a whole number of milliseconds from 1 to 60000");
                    }});
    rows.push_back({QStringLiteral("start"), QString(), QStringLiteral("Press START once the window has been shown."),
                    Flag(&Options::start)});
    rows.push_back({QStringLiteral("exit-after-run"), QString(),
                    QStringLiteral("Quit when the run ends: status 0 after a normal end, 2 after a time-out, 3 after "
                                   "an error, 4 when some of the run's data did not reach its record, stream or "
                                   "broker (written to standard error instead of a message box)."),
                    Flag(&Options::exitAfterRun)});
    rows.push_back({QStringLiteral("param-dir"), QStringLiteral("DIR"),
                    QStringLiteral("Folder of the settings file ombu01.par."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        o.parameterFolder = value;
                        return std::nullopt;
                    }});
    // For timing the start-up (bench/): quit as soon as the window has been shown.
    rows.push_back({QStringLiteral("quit-when-shown"), QString(), QStringLiteral("Quit once the window has been shown."),
                    Flag(&Options::quitWhenShown), true});
    rows.push_back({QStringLiteral("record"), QStringLiteral("DIR|off|-"),
                    QStringLiteral("Where each run's record (BASE-YYYYMMDD-HHMMSS.csv) goes: a folder, 'off' for none, "
                                   "or '-' for standard output (default: the folder of the sweep files)."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        o.record = value;
                        if (value == kRecordOff || value == kRecordToStandardOutput || QFileInfo(value).isDir())
                            return std::nullopt;
                        return QStringLiteral("an existing folder, 'off' or '-'");
                    }});
    rows.push_back({QStringLiteral("headless"), QString(),
                    QStringLiteral("Run without any window system or display; implies --start --exit-after-run."),
                    Flag(&Options::headless)});
    rows.push_back({QStringLiteral("sampling-time"), QStringLiteral("N"),
                    QStringLiteral("Sampling time in tenths of a second (1-600), this run only."),
                    Override(&RunOverrides::samplingTime, ParseSamplingTime,
                             QStringLiteral("a whole number from 1 to 600"))});
    rows.push_back({QStringLiteral("continuous"), QStringLiteral("on|off"),
                    QStringLiteral("Continuous measurement on or off, this run only."),
                    Override(&RunOverrides::continuous, ParseOnOff, QStringLiteral("on or off"))});
    rows.push_back({QStringLiteral("auto-save"), QStringLiteral("on|off"),
                    QStringLiteral("Save each sweep's files, on or off, this run only."),
                    Override(&RunOverrides::autoSave, ParseOnOff, QStringLiteral("on or off"))});
    rows.push_back({QStringLiteral("channels"), QStringLiteral("ad0,ad1|ad0|ad1"),
                    QStringLiteral("The channels to chart and record, this run only."),
                    Override(&RunOverrides::channels, ParseChannels, QStringLiteral("ad0,ad1 or ad0 or ad1"))});
    rows.push_back({QStringLiteral("publish"), QStringLiteral("URL"),
                    QStringLiteral("Publish every sample to an MQTT broker: mqtt://[user@]host[:port]/PREFIX, or "
                                   "mqtts:// for TLS. The password, if any, comes from the environment variable "
                                   "TAVRIN_MQTT_PASSWORD."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        o.publishUrl = value;
                        if (auto target = publish::ParsePublishUrl(value); !target)
                            return target.Reason();
                        return std::nullopt;
                    }});
    rows.push_back({QStringLiteral("lang"), QStringLiteral("CODE"),
                    QStringLiteral("Language of the window: ja (Japanese) or en (English). Default: English unless the "
                                   "user's languages are Japanese or unset."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        o.language = translations::ParseLanguage(value);
                        if (o.language)
                            return std::nullopt;
                        return QStringLiteral("ja or en");
                    }});
    rows.push_back({QStringLiteral("list-units"), QString(),
                    QStringLiteral("List every unit that can be seen (way, serial number, description, port, whether "
                                   "you may open it) and quit. Needs no display."),
                    Flag(&Options::listUnits)});
    rows.push_back({QStringLiteral("reconnect"), QString(),
                    QStringLiteral("When the unit vanishes during a run, or is not there at START, wait for the same "
                                   "unit (looking once a second), open it again and go on; STOP ends the wait."),
                    Flag(&Options::reconnect)});
    for (int channel = 0; channel < channels::kChannelCount; ++channel)
        AddChannelRows(rows, channel);
    rows.push_back({QStringLiteral("on-limit"), QStringLiteral("COMMAND"),
                    QStringLiteral("Run COMMAND at each crossing of a channel's limits, with the channel (ad0), the "
                                   "crossing (high, low, back), the value, the unit and the time as its last five "
                                   "arguments. Split into words as a shell splits them (quotes, backslash), "
                                   "but not run through one; crossings wait their turn, and the run never waits "
                                   "on the command."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        o.onLimit = value;
                        const auto words = alarms::SplitCommandWords(value);
                        if (!words)
                            return QStringLiteral("a program and its arguments with every quote closed (%1)")
                                .arg(words.Reason());
                        if (!words->isEmpty())
                            return std::nullopt;
                        return QStringLiteral("a program to run, with its arguments");
                    }});
    rows.push_back({QStringLiteral("on-limit-timeout"), QStringLiteral("SECONDS"),
                    QStringLiteral("How long one --on-limit command may run (default 60): then its process "
                                   "group gets SIGTERM, and SIGKILL 5 s later, and the next crossing's command "
                                   "runs."),
                    [](const QString& value, Options& o) -> std::optional<QString> {
                        bool ok = false;
                        const double seconds = value.toDouble(&ok);
                        if (ok && seconds >= 0.001 && seconds <= 86400) {
                            o.onLimitTimeout = std::chrono::milliseconds(qRound64(seconds * 1000));
                            return std::nullopt;
                        }
                        return QStringLiteral("a number of seconds above 0, at most 86400");
                    }});
    rows.push_back({QStringLiteral("trend"), QString(), QStringLiteral("Open the trend window at start."),
                    Flag(&Options::trend)});
    rows.push_back({QStringLiteral("view"), QString(),
                    QStringLiteral("Open the run records named after the options (FILE.csv ...) in the trend window "
                                   "alone: no unit, no settings file, no main window."),
                    [](const QString&, Options& o) -> std::optional<QString> {
                        // The files are the positional arguments; an empty list marks the option as given.
                        o.view = QStringList{QString()};
                        return std::nullopt;
                    }});
    return rows;
}

// A value as an error message shows it: control characters as U+XXXX (an escape never reaches the
// terminal), and a long one cut.
QString Shown(const QString& value) {
    QString shown;
    for (const char32_t c : value.left(200).toUcs4()) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029)
            shown += QStringLiteral("U+") +
                     QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0'));
        else
            shown += QString::fromUcs4(&c, 1);
    }
    return value.size() > 200 ? shown + QChar(0x2026) : shown;
}

void PrintError(const QString& message) {
    report::WriteStandardError(nullptr, message + QStringLiteral("\nTry 'tavrin --help'."));
}

} // namespace

const std::vector<OptionRow>& OptionTable() {
    static const std::vector<OptionRow> table = MakeTable();
    return table;
}

std::variant<Options, int> ParseCommandLine(const QStringList& arguments, bool standardOutputClosed) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tavrin data logger: polls the measurement unit, charts and logs every sample.\n"
                       "Settings file in use: %1")
            .arg(settings::ParameterFileInUse()));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.csv"), QStringLiteral("With --view: the run records to open."),
                                 QStringLiteral("[FILE.csv...]"));
    std::vector<QCommandLineOption> options;
    for (const OptionRow& row : OptionTable()) {
        QCommandLineOption option(row.name, row.help);
        if (!row.valueName.isEmpty())
            option.setValueName(row.valueName);
        if (row.hidden)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
        options.push_back(option);
    }

    if (!parser.parse(arguments)) {
        PrintError(parser.errorText());
        return kExitBadCommandLine;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return kExitNormal;
    }
    if (parser.isSet(version)) {
        std::printf("tavrin %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return kExitNormal;
    }

    Options result;
    for (std::size_t i = 0; i < options.size(); ++i) {
        const OptionRow& row = OptionTable()[i];
        if (!parser.isSet(options[i]))
            continue;
        const QString value = row.valueName.isEmpty() ? QString() : parser.value(options[i]);
        if (auto wanted = row.take(value, result)) {
            // A message that names its option already (the publishing URL's) stands as it is.
            PrintError(wanted->startsWith(QLatin1String("--"))
                           ? *wanted
                           : QStringLiteral("--%1 wants %2, not '%3'").arg(row.name, *wanted, Shown(value)));
            return kExitBadCommandLine;
        }
    }
    result.positional = parser.positionalArguments();
    if (!result.view.isEmpty()) {
        result.view = result.positional;
        if (result.view.isEmpty()) {
            PrintError(QStringLiteral("--view wants one or more run records (FILE.csv ...)"));
            return kExitBadCommandLine;
        }
        return result;
    }
    if (!result.positional.isEmpty()) {
        PrintError(QStringLiteral("unexpected argument '%1'").arg(result.positional.first()));
        return kExitBadCommandLine;
    }
    if (standardOutputClosed && result.record == kRecordToStandardOutput) {
        PrintError(QStringLiteral("--record - wants standard output open, but tavrin was started with it closed: "
                                  "every row would be lost"));
        return kExitBadCommandLine;
    }
    result.start = result.start || result.headless;
    result.exitAfterRun = result.exitAfterRun || result.headless;
    if (result.parameterFolder.isEmpty() && !result.listUnits) {
        const auto folder = settings::DefaultParameterFolder();
        if (!folder) {
            report::WriteStandardError(report::module::kSettings, folder.Reason());
            return kExitRunError;
        }
        result.parameterFolder = *folder;
    }
    return result;
}

} // namespace app
