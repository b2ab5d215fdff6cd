// Entry point: the command line, the application, the one window.
#include "app/fonts.h"
#include "app/ombu1.h"
#include "device/backends/backend_factory.h"
#include "settings/parameter_file.h"
#include "settings/parameter_folder.h"
#include "translations/ui_language.h"

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
    std::optional<translations::Language> language; // none: from the user's UI languages
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
                       "simulated unit), tty, tty:PATH, ftdi (libftdi), d2xx or d2xx:LIBRARY."),
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
    // For timing the start-up (bench/): quit as soon as the window has been shown.
    QCommandLineOption quitWhenShown(QStringLiteral("quit-when-shown"),
                                     QStringLiteral("Quit once the window has been shown."));
    quitWhenShown.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption language(
        QStringLiteral("lang"),
        QStringLiteral("Language of the window: ja (Japanese) or en (English). Default: English unless the "
                       "user's languages are Japanese or unset."),
        QStringLiteral("CODE"));
    parser.addOptions({device, tickMs, start, exitAfterRun, parameterFolder, quitWhenShown, language});

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
    if (parser.isSet(language)) {
        options.language = translations::ParseLanguage(parser.value(language));
        if (!options.language) {
            std::fprintf(stderr, "tavrin: --lang wants ja or en, not '%s'\n",
                         qPrintable(parser.value(language)));
            return kExitBadCommandLine;
        }
    }
    options.device = parser.value(device);
    options.start = parser.isSet(start);
    options.exitAfterRun = parser.isSet(exitAfterRun);
    options.quitWhenShown = parser.isSet(quitWhenShown);
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

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    InstallFontSubstitutes();

    Options options;
    if (auto status = ParseCommandLine(QCoreApplication::arguments(), options))
        return *status;
    LoadTranslations(app, options);
    try {
        return RunApplication(app, options);
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("ombu1"), QString::fromLocal8Bit(e.what()));
        return kExitNormal;
    }
}
