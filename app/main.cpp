// Entry point: the command line, the application, the one window.
#include "app/fonts.h"
#include "app/ombu1.h"
#include "device/backends/backend_factory.h"
#include "device/backends/unit_list.h"
#include "settings/parameter_file.h"
#include "settings/parameter_folder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <exception>

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
    bool listUnits = false;
    bool reconnect = false;
};

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
    parser.addOptions({device, tickMs, start, exitAfterRun, parameterFolder, quitWhenShown});
    parser.addOptions({listUnits, reconnect});

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
    if (!parser.positionalArguments().isEmpty()) {
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
    options.device = parser.value(device);
    options.start = parser.isSet(start);
    options.exitAfterRun = parser.isSet(exitAfterRun);
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

void LoadTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
}

int RunApplication(QApplication& app, const Options& options) {
    QString error;
    auto backend = device::MakeBackend(options.device, &error);
    if (!backend) {
        std::fprintf(stderr, "tavrin: %s\n", qPrintable(error));
        return kExitBadCommandLine;
    }
    SetD2xxBackend(std::move(backend));

    FormSeams seams;
    seams.tickMs = options.tickMs;
    seams.parameterFolder = options.parameterFolder;
    seams.errorsToStandardError = options.exitAfterRun;
    seams.unattended = options.exitAfterRun;
    seams.reconnect = options.reconnect;
    TForm1 form(seams);
    Form1 = &form;

    int exitStatus = kExitNormal;
    if (options.start)
        QObject::connect(&form, &TForm1::Shown, &form, [&form] { QTimer::singleShot(0, &form, &TForm1::Button3Click); });
    if (options.exitAfterRun)
        QObject::connect(&form, &TForm1::RunEnded, &app, [&form, &exitStatus] {
            switch (form.LastRunEnd()) {
            case TForm1::LastRun::TimedOut: exitStatus = kExitTimedOut; break;
            case TForm1::LastRun::Error: exitStatus = kExitRunError; break;
            default: exitStatus = kExitNormal; break;
            }
            QCoreApplication::exit(exitStatus);
        });
    if (options.quitWhenShown)
        QObject::connect(&form, &TForm1::Shown, &app, &QCoreApplication::quit);
    form.show();
    app.exec();
    return exitStatus;
}

// --list-units needs no display: it is answered before any window system is touched.
bool AsksForUnitList(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--list-units") == 0)
            return true;
    return false;
}

int ListUnits(int argc, char* argv[]) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    Options options;
    if (auto status = ParseCommandLine(QCoreApplication::arguments(), options))
        return *status;
    std::fputs(device::ListEveryUnit().c_str(), stdout);
    return kExitNormal;
}

} // namespace

int main(int argc, char* argv[]) {
    if (AsksForUnitList(argc, argv))
        return ListUnits(argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    InstallFontSubstitutes();
    LoadTranslations(app);

    Options options;
    if (auto status = ParseCommandLine(QCoreApplication::arguments(), options))
        return *status;
    try {
        return RunApplication(app, options);
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("ombu1"), QString::fromLocal8Bit(e.what()));
        return kExitNormal;
    }
}
