#include "app/window_run.h"

#include "app/ombu1.h"
#include "app/run_end.h"
#include "app/run_sinks.h"
#include "app/stop_signals.h"
#include "report/reporter.h"
#include "settings/app_settings.h"
#include "settings/parameter_folder.h"
#include "translations/ui_language.h"
#include "trend/trend_window.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>

namespace app {

namespace {

void LoadTranslations(QApplication& app, const Options& options, const settings::AppSettings& kept) {
    // --lang first, then the language kept in the settings, then the user's languages.
    auto choice = options.language;
    if (!choice)
        choice = translations::ParseLanguage(kept.language);
    const auto language = translations::ChooseLanguage(QLocale::system().uiLanguages(), choice);
    if (auto installed = translations::InstallTranslators(app, language); !installed)
        report::WriteStandardError(report::module::kApp, installed.Reason());
}

} // namespace

Kept StartWindowSystem(QApplication& app, const Options& options) {
    Kept kept;
    if (const auto folder = settings::UserConfigFolder()) {
        kept.folder = *folder;
        kept.load = settings::LoadAppSettings(kept.folder);
    }
    LoadTranslations(app, options, kept.load.settings);
    return kept;
}

int RunWindow(int& argc, char** argv, const Options& options) {
    if (auto ready = CheckBeforeStart(options); !ready) {
        report::WriteStandardError(report::module::kRecord, ready.Reason());
        return kExitRunError;
    }
    QApplication app(argc, argv);
    const Kept kept = StartWindowSystem(app, options);

    TForm1* shownForm = nullptr;
    auto sinks = MakeRunSinks(
        options, [&shownForm] { return shownForm ? int(shownForm->FileIndex) : 0; },
        [&shownForm](const QString& status) {
            if (shownForm)
                QMetaObject::invokeMethod(
                    shownForm, [&shownForm, status] { shownForm->ShowStatus(status); }, Qt::QueuedConnection);
        },
        true);
    if (!sinks) {
        report::WriteStandardError(report::module::kPublish, sinks.Reason());
        return kExitBadCommandLine;
    }

    FormSeams seams;
    seams.tickMs = options.tickMs;
    seams.parameterFolder = options.parameterFolder;
    seams.errorsToStandardError = options.exitAfterRun;
    seams.framelessReplyLimit = options.exitAfterRun ? acquisition::kUnattendedFramelessLimit : 0;
    seams.sampleSinks = sinks->All();
    seams.unattended = options.exitAfterRun;
    seams.reconnect = options.reconnect || kept.load.settings.reconnect;
    seams.settingsFolder = kept.folder;
    seams.kept = kept.load.settings;
    seams.runChannels = options.channels;
    TForm1 form(seams);
    // Said once the log pane holds what the start-up puts there.
    if (!kept.load.problem.isEmpty())
        QObject::connect(&form, &TForm1::Shown, &form, [problem = kept.load.problem] {
            report::Report(report::module::kSettings, problem);
        });
    // The values the file holds that are not taken, one line each.
    if (!kept.load.notices.isEmpty())
        QObject::connect(&form, &TForm1::Shown, &form, [notices = kept.load.notices] {
            for (const QString& notice : notices)
                report::Report(report::module::kSettings, notice);
        });
    Form1 = &form;
    shownForm = &form;

    int exitStatus = kExitNormal;
    bool stopSignalled = StopSignalPending();
    // Before START: the parameter file has been read by now, and the run takes these instead.
    QObject::connect(&form, &TForm1::Shown, &form,
                     [&form, &options] { ApplyRunOverrides(form, options.overrides); });
    if (options.start)
        QObject::connect(&form, &TForm1::Shown, &form, [&form, &stopSignalled] {
            QTimer::singleShot(0, &form, [&form, &stopSignalled] {
                if (!stopSignalled)
                    form.Button3Click();
            });
        });
    // The program ends once its sinks have: an --on-limit command still running is given its time and
    // ended, and the event loop turns meanwhile.
    auto endProgram = [&sinks] { sinks->FinishThen([] { QCoreApplication::exit(kExitNormal); }); };
    // A stop signal ends a run as STOP ends it, with its record complete, and then the program; unlike
    // STOP, it does not wait for a reply in flight.
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::Received, &form, [&form, &stopSignalled, endProgram] {
        stopSignalled = true;
        if (form.RunInProgress())
            form.Session().StopNow();
        else
            endProgram();
    });
    QObject::connect(&form, &TForm1::RunEnded, &app,
                     [&form, &stopSignalled, &exitStatus, &options, &sinks, endProgram] {
                         if (options.exitAfterRun) {
                             sinks->FinishThen([&form, &exitStatus] {
                                 exitStatus = EndOfUnattendedRun(form.Session());
                                 QCoreApplication::exit(exitStatus);
                             });
                         } else if (stopSignalled) {
                             endProgram();
                         }
                     });
    if (options.trend)
        QObject::connect(&form, &TForm1::Shown, &form, [&form] { form.Button14Click(); });
    // The program ends with the main window, whatever else (the trend window, the manual) is open, once
    // its sinks have: not at once when the last window closes.
    app.setQuitOnLastWindowClosed(false);
    QObject::connect(&form, &TForm1::Closed, &app, endProgram);
    if (options.quitWhenShown)
        QObject::connect(&form, &TForm1::Shown, &app, &QCoreApplication::quit);
    if (stopSignalled)
        return kExitNormal;
    form.show();
    app.exec();
    if (!options.exitAfterRun)
        sinks->Finish();
    return exitStatus;
}

} // namespace app
