// Entry point: the command line, the application, the one window.
#include "app/fonts.h"
#include "app/ombu1.h"
#include "app/run_overrides.h"
#include "app/stop_signals.h"
#include "device/backends/backend_factory.h"
#include "publish/mqtt_publisher.h"
#include "publish/publish_target.h"
#include "record/progress_line.h"
#include "record/row_stream.h"
#include "record/run_record_file.h"
#include "device/backends/unit_list.h"
#include "settings/parameter_file.h"
#include "settings/parameter_folder.h"
#include "translations/ui_language.h"
#include "trend/trend_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <unistd.h>

namespace {

// Exit statuses of an unattended run (--exit-after-run).
constexpr int kExitNormal = 0;
constexpr int kExitBadCommandLine = 1;
constexpr int kExitTimedOut = 2;
constexpr int kExitRunError = 3;

struct Options {
    QString device = QStringLiteral("auto");
    int tickMs = 100;
    bool start = false;
    bool exitAfterRun = false;
    bool quitWhenShown = false;
    QString parameterFolder;
    QString record;        // the run records' folder; empty: the sweep files' folder
    bool headless = false; // no window system at all
    app::RunOverrides overrides;
    QString publishUrl;    // empty: no publishing
    std::optional<translations::Language> language; // none: from the user's UI languages
    bool listUnits = false;
    bool reconnect = false;
    bool trend = false; // the trend window opened at start
    QStringList view;   // --view: only the trend window, with these records
};

// --record's two words that are not folders.
const QString kRecordOff = QStringLiteral("off");
const QString kRecordToStandardOutput = QStringLiteral("-");

QString DefaultParameterFolder() {
    return settings::ChooseParameterFolder(QCoreApplication::applicationDirPath(),
                                           QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

// Parses the command line; prints and returns an exit status when the program
// should end at once (help, version, a bad option).
std::optional<int> ParseCommandLine(const QStringList& arguments, Options& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tavrin data logger: polls the measurement unit, charts and logs every sample.\n"
                       "Settings file in use: %1")
            .arg(QDir(DefaultParameterFolder()).filePath(QString::fromLatin1(settings::kParameterFileName))));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("The unit to use: auto (FTDI's library, then the kernel ttys, then libftdi), sim (a "
                       "simulated unit), tty, tty:PATH, ftdi (libftdi), d2xx or d2xx:LIBRARY; a unit's SERIAL "
                       "number (tty:SERIAL, ftdi:SERIAL, d2xx:SERIAL for one way), or a PATH beginning with /."),
        QStringLiteral("SPEC"), options.device);
    const QCommandLineOption tickMs(QStringLiteral("tick-ms"),
                                   QStringLiteral("Length of one tick in milliseconds (1-60000, default 100)."),
                                   QStringLiteral("N"), QString::number(options.tickMs));
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("Press START once the window has been shown."));
    const QCommandLineOption exitAfterRun(
        QStringLiteral("exit-after-run"),
        QStringLiteral("Quit when the run ends: status 0 after a normal end, 2 after a time-out, 3 after an "
                       "error (written to standard error instead of a message box)."));
    const QCommandLineOption parameterFolder(
        QStringLiteral("param-dir"), QStringLiteral("Folder of the settings file ombu01.par."),
        QStringLiteral("DIR"));
    const QCommandLineOption listUnits(
        QStringLiteral("list-units"),
        QStringLiteral("List every unit that can be seen (way, serial number, description, port, whether you "
                       "may open it) and quit. Needs no display."));
    const QCommandLineOption reconnect(
        QStringLiteral("reconnect"),
        QStringLiteral("With --exit-after-run: when the unit vanishes during the run, wait for the same unit to "
                       "come back (looking once a second), open it again and go on."));
    // For timing the start-up (bench/): quit as soon as the window has been shown.
    QCommandLineOption quitWhenShown(QStringLiteral("quit-when-shown"),
                                     QStringLiteral("Quit once the window has been shown."));
    quitWhenShown.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Where each run's record (BASE-YYYYMMDD-HHMMSS.csv) goes: a folder, 'off' for none, or '-' "
                       "for standard output (default: the folder of the sweep files)."),
        QStringLiteral("DIR|off|-"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run without any window system or display; implies --start --exit-after-run."));
    const QCommandLineOption samplingTime(QStringLiteral("sampling-time"),
                                          QStringLiteral("Sampling time in tenths of a second (1-600), this run only."),
                                          QStringLiteral("N"));
    const QCommandLineOption continuous(QStringLiteral("continuous"),
                                        QStringLiteral("Continuous measurement on or off, this run only."),
                                        QStringLiteral("on|off"));
    const QCommandLineOption autoSave(QStringLiteral("auto-save"),
                                      QStringLiteral("Save each sweep's files, on or off, this run only."),
                                      QStringLiteral("on|off"));
    const QCommandLineOption channels(QStringLiteral("channels"),
                                      QStringLiteral("The channels to chart and record, this run only."),
                                      QStringLiteral("ad0,ad1|ad0|ad1"));
    parser.addOptions({device, tickMs, start, exitAfterRun, parameterFolder, quitWhenShown});
    parser.addOptions({record, headless, samplingTime, continuous, autoSave, channels});
    const QCommandLineOption publish(
        QStringLiteral("publish"),
        QStringLiteral("Publish every sample to an MQTT broker: mqtt://[user@]host[:port]/PREFIX, or mqtts:// for "
                       "TLS. The password, if any, comes from the environment variable TAVRIN_MQTT_PASSWORD."),
        QStringLiteral("URL"));
    parser.addOption(publish);
    const QCommandLineOption language(
        QStringLiteral("lang"),
        QStringLiteral("Language of the window: ja (Japanese) or en (English). Default: English unless the "
                       "user's languages are Japanese or unset."),
        QStringLiteral("CODE"));
    parser.addOption(language);
    parser.addOptions({listUnits, reconnect});
    const QCommandLineOption trend(QStringLiteral("trend"),
                                   QStringLiteral("Open the trend window at start."));
    const QCommandLineOption view(
        QStringLiteral("view"),
        QStringLiteral("Open the run records named after the options (FILE.csv ...) in the trend window "
                       "alone: no unit, no settings file, no main window."));
    parser.addOptions({trend, view});
    parser.addPositionalArgument(QStringLiteral("FILE.csv"),
                                 QStringLiteral("With --view: the run records to open."),
                                 QStringLiteral("[FILE.csv...]"));

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "tavrin: %s\nTry 'tavrin --help'.\n", qPrintable(parser.errorText()));
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
    options.trend = parser.isSet(trend);
    if (parser.isSet(view)) {
        options.view = parser.positionalArguments();
        if (options.view.isEmpty()) {
            std::fprintf(stderr, "tavrin: --view wants one or more run records (FILE.csv ...)\n");
            return kExitBadCommandLine;
        }
    } else if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tavrin: unexpected argument '%s'\nTry 'tavrin --help'.\n",
                     qPrintable(parser.positionalArguments().first()));
        return kExitBadCommandLine;
    }
    bool ok = false;
    options.tickMs = parser.value(tickMs).toInt(&ok);
    if (!ok || options.tickMs < 1 || options.tickMs > 60000) {
        std::fprintf(stderr, "tavrin: --tick-ms wants a whole number of milliseconds from 1 to 60000, not '%s'\n",
                     qPrintable(parser.value(tickMs)));
        return kExitBadCommandLine;
    }
    // A run-only setting: the value, or a message naming the option and what it takes.
    const auto takeOverride = [&parser](const QCommandLineOption& option, auto parse, auto& field,
                                        const char* wanted) {
        if (!parser.isSet(option))
            return true;
        field = parse(parser.value(option));
        if (field)
            return true;
        std::fprintf(stderr, "tavrin: --%s wants %s, not '%s'\n", qPrintable(option.names().first()), wanted,
                     qPrintable(parser.value(option)));
        return false;
    };
    auto& o = options.overrides;
    if (!takeOverride(samplingTime, app::ParseSamplingTime, o.samplingTime, "a whole number from 1 to 600") ||
        !takeOverride(continuous, app::ParseOnOff, o.continuous, "on or off") ||
        !takeOverride(autoSave, app::ParseOnOff, o.autoSave, "on or off") ||
        !takeOverride(channels, app::ParseChannels, o.channels, "ad0,ad1 or ad0 or ad1"))
        return kExitBadCommandLine;
    options.record = parser.value(record);
    if (parser.isSet(record) && options.record != kRecordOff && options.record != kRecordToStandardOutput &&
        !QFileInfo(options.record).isDir()) {
        std::fprintf(stderr, "tavrin: --record wants an existing folder, 'off' or '-', not '%s'\n",
                     qPrintable(options.record));
        return kExitBadCommandLine;
    }
    options.publishUrl = parser.value(publish);
    if (QString publishError; parser.isSet(publish) && !publish::ParsePublishUrl(options.publishUrl, &publishError)) {
        std::fprintf(stderr, "tavrin: %s\n", qPrintable(publishError));
        return kExitBadCommandLine;
    }
    options.headless = parser.isSet(headless);
    if (parser.isSet(language)) {
        options.language = translations::ParseLanguage(parser.value(language));
        if (!options.language) {
            std::fprintf(stderr, "tavrin: --lang wants ja or en, not '%s'\n",
                         qPrintable(parser.value(language)));
            return kExitBadCommandLine;
        }
    }
    options.device = parser.value(device);
    options.start = parser.isSet(start) || options.headless;
    options.exitAfterRun = parser.isSet(exitAfterRun) || options.headless;
    options.quitWhenShown = parser.isSet(quitWhenShown);
    options.listUnits = parser.isSet(listUnits);
    options.reconnect = parser.isSet(reconnect);
    if (options.reconnect && !options.exitAfterRun) {
        std::fprintf(stderr, "tavrin: --reconnect keeps an unattended run alive: it needs --exit-after-run\n");
        return kExitBadCommandLine;
    }
    options.parameterFolder =
        parser.isSet(parameterFolder) ? parser.value(parameterFolder) : DefaultParameterFolder();
    return std::nullopt;
}

void LoadTranslations(QApplication& app, const Options& options) {
    const auto language = translations::ChooseLanguage(QLocale::system().uiLanguages(), options.language);
    if (auto problem = translations::InstallTranslators(app, language))
        std::fprintf(stderr, "tavrin: %s\n", qPrintable(*problem));
}

int RunApplication(QApplication& app, const Options& options) {
    // Said on standard error and, from the GUI thread, on the status line.
    const auto showPublishNotice = [](const publish::PublishNotice& notice) {
        std::fprintf(stderr, "tavrin: %s\n", qPrintable(notice.message));
        QMetaObject::invokeMethod(qApp, [status = notice.status] { if (Form1) Form1->ShowStatus(status); },
                                  Qt::QueuedConnection);
    };
    std::unique_ptr<publish::MqttPublisher> publisher;
    if (!options.publishUrl.isEmpty()) {
        QString error;
        publisher = publish::MakePublisher(options.publishUrl, showPublishNotice, &error);
        if (!publisher) {
            std::fprintf(stderr, "tavrin: %s\n", qPrintable(error));
            return kExitBadCommandLine;
        }
    }

    FormSeams seams;
    seams.tickMs = options.tickMs;
    seams.parameterFolder = options.parameterFolder;
    seams.errorsToStandardError = options.exitAfterRun;
    seams.framelessReplyLimit = options.exitAfterRun ? acquisition::kUnattendedFramelessLimit : 0;
    std::vector<std::unique_ptr<acquisition::SampleSink>> sinks;
    record::RunRecordFile* recordFile = nullptr;
    if (options.record == kRecordToStandardOutput) {
        sinks.push_back(std::make_unique<record::RowStream>(STDOUT_FILENO));
    } else if (options.record != kRecordOff) {
        auto file = std::make_unique<record::RunRecordFile>(options.record);
        recordFile = file.get();
        sinks.push_back(std::move(file));
    }
    TForm1* shownForm = nullptr;
    if (options.exitAfterRun && ::isatty(STDERR_FILENO))
        sinks.push_back(std::make_unique<record::ProgressLine>(STDERR_FILENO, [&shownForm, recordFile] {
            return 2 * (shownForm ? shownForm->FileIndex : 0) + (recordFile && recordFile->Rows() > 0 ? 1 : 0);
        }));
    for (const auto& sink : sinks)
        seams.sampleSinks.push_back(sink.get());
    if (publisher)
        seams.sampleSinks.push_back(publisher.get());
    seams.unattended = options.exitAfterRun;
    seams.reconnect = options.reconnect;
    TForm1 form(seams);
    Form1 = &form;
    shownForm = &form;

    int exitStatus = kExitNormal;
    bool stopSignalled = false;
    // Before START: the parameter file has been read by now, and the run takes these instead.
    QObject::connect(&form, &TForm1::Shown, &form, [&form, &options] { app::ApplyRunOverrides(form, options.overrides); });
    if (options.start)
        QObject::connect(&form, &TForm1::Shown, &form, [&form, &stopSignalled] {
            QTimer::singleShot(0, &form, [&form, &stopSignalled] {
                if (!stopSignalled)
                    form.Button3Click();
            });
        });
    // SIGINT and SIGTERM: a run ends as STOP ends it, with its record complete, and then the program.
    app::StopSignals stopSignals;
    QObject::connect(&stopSignals, &app::StopSignals::Received, &form, [&form, &stopSignalled] {
        stopSignalled = true;
        if (form.RunInProgress())
            form.Button4Click();
        else
            QCoreApplication::exit(kExitNormal);
    });
    if (!options.exitAfterRun)
        QObject::connect(&form, &TForm1::RunEnded, &app, [&stopSignalled] {
            if (stopSignalled)
                QCoreApplication::exit(kExitNormal);
        });
    if (options.exitAfterRun)
        QObject::connect(&form, &TForm1::RunEnded, &app, [&form, &exitStatus] {
            switch (form.LastRunEnd()) {
            case TForm1::LastRun::TimedOut: exitStatus = kExitTimedOut; break;
            case TForm1::LastRun::Error: exitStatus = kExitRunError; break;
            default: exitStatus = kExitNormal; break;
            }
            QCoreApplication::exit(exitStatus);
        });
    if (options.trend)
        QObject::connect(&form, &TForm1::Shown, &form, [&form] { form.Button14Click(); });
    if (options.quitWhenShown)
        QObject::connect(&form, &TForm1::Shown, &app, &QCoreApplication::quit);
    form.show();
    app.exec();
    return exitStatus;
}

// --view: the trend window alone with the records; the unit and the settings file are left alone.
int RunViewer(QApplication& app, const Options& options) {
    trend::TrendWindow viewer;
    for (const QString& problem : viewer.OpenRecords(options.view))
        std::fprintf(stderr, "tavrin: %s\n", qPrintable(problem));
    viewer.show();
    return app.exec() == 0 ? kExitNormal : kExitRunError;
}

// --list-units needs no display: it is answered before any window system is touched.
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    Options options;
    {
        // Help, version and command-line errors are answered before anything touches a window system.
        const QCoreApplication commandLine(argc, argv);
        if (auto status = ParseCommandLine(QCoreApplication::arguments(), options))
            return *status;
        if (options.listUnits) {
            std::fputs(device::ListEveryUnit().c_str(), stdout);
            return kExitNormal;
        }
    }
    if (!options.view.isEmpty()) {
        QApplication app(argc, argv);
        InstallFontSubstitutes();
        LoadTranslations(app, options);
        return RunViewer(app, options);
    }
    QString error;
    auto backend = device::MakeBackend(options.device, &error);
    if (!backend) {
        std::fprintf(stderr, "tavrin: %s\n", qPrintable(error));
        return kExitBadCommandLine;
    }
    SetD2xxBackend(std::move(backend));
    // Headless: Qt's off-screen platform, chosen here, so that no display is ever looked for.
    if (options.headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A reader of --record - that goes away is reported as a failed write, not a killed program.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    InstallFontSubstitutes();
    LoadTranslations(app, options);
    try {
        return RunApplication(app, options);
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("ombu1"), QString::fromLocal8Bit(e.what()));
        return kExitNormal;
    }
}
