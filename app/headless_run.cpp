#include "app/headless_run.h"

#include "acquisition/session.h"
#include "app/run_end.h"
#include "app/run_overrides.h"
#include "app/run_sinks.h"
#include "app/stop_signals.h"
#include "chart/chart_picture.h"
#include "device/ready_watch.h"
#include "printing/chart_printer.h"
#include "output/log/log_store.h"
#include "report/reporter.h"
#include "settings/kept_settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QTimer>
#include <memory>

namespace app {

namespace {

// The settings of the parameter file (the defaults when it cannot be read), with this run's overrides.
acquisition::RunSettings LoadSettings(const Options& options, std::uint16_t& samplingTime) {
    settings::ParameterFile file(
        QDir(options.parameterFolder).filePath(QString::fromLatin1(settings::kParameterFileName)));
    const settings::SettingsLoad loaded = settings::LoadSettings(file, settings::KeptSettings{});
    for (const QString& said : {loaded.problem, loaded.notice})
        if (!said.isEmpty())
            report::Report(report::module::kSettings, said);
    settings::KeptSettings kept = loaded.settings;
    ApplyRunOverrides(kept, options.overrides);
    acquisition::RunSettings s;
    s.ad0Color = kept.ad0Color;
    s.ad1Color = kept.ad1Color;
    s.ad0On = kept.Option(settings::kAd0TraceOption);
    s.ad1On = kept.Option(settings::kAd1TraceOption);
    s.lineMode = kept.Option(settings::kLineDotOption);
    s.continuous = kept.Option(settings::kContinuousOption);
    s.autoSave = kept.Option(settings::kAutoSaveOption);
    s.autoPrint = kept.Option(settings::kAutoPrintOption);
    samplingTime = kept.samplingTime;
    s.samplingText = QString::number(samplingTime);
    s.baseName = QStringLiteral("tavrin");
    // Unattended, the channels are the command line's alone, as the other run-only settings are.
    channels::Apply(s.channels, options.channels);
    return s;
}

// A run with no window: nothing to show, no beep; the chart and the log are kept only when the
// sweep files are saved or the chart printed.
class HeadlessView : public acquisition::SessionView, public acquisition::RunLog, public acquisition::RunChart {
public:
    explicit HeadlessView(acquisition::RunSettings settings)
        : settings_(std::move(settings)), keepsChart_(settings_.autoSave || settings_.autoPrint),
          keepsLog_(settings_.autoSave) {}

    acquisition::RunSettings Settings() const override { return settings_; }
    void ShowStatus(const QString&) override {}
    void Beep() override {}
    QImage* Chart() override { return keepsChart_ ? &picture_ : nullptr; }
    void ChartChanged(const QRegion&) override {}
    report::Done PrintChart() override {
        return printing::PrintPicture(printing::ProcessPrinter(), picture_, printing::kPrintScale);
    }
    void RunStateChanged(bool) override {}

    void Clear() override { log_.Clear(); }
    void SetSingleLine(const QByteArray& bytes) override {
        if (keepsLog_)
            log_.SetSingleLine(bytes);
    }
    void AppendReply(const QByteArray& reply) override {
        if (keepsLog_)
            log_.AppendBytes(reply);
    }
    void AppendText(const QString& line) override {
        if (keepsLog_)
            log_.AppendText(line);
    }
    QByteArray FileBytes() const override { return log_.FileBytes(); }

private:
    const acquisition::RunSettings settings_;
    const bool keepsChart_;
    const bool keepsLog_;
    QImage picture_;
    output::LogStore log_;
};

} // namespace

int RunHeadless(int& argc, char** argv, const Options& options) {
    if (auto ready = CheckBeforeStart(options); !ready) {
        report::WriteStandardError(report::module::kRecord, ready.Reason());
        return kExitRunError;
    }
    std::uint16_t samplingTime = 10;
    const acquisition::RunSettings settings = LoadSettings(options, samplingTime);
    // Pictures need fonts, and fonts a QGuiApplication: on the off-screen platform, so that no display
    // is ever looked for. Without sweep files or prints, the run needs no more than an event loop.
    std::unique_ptr<QCoreApplication> app;
    if (settings.autoSave || settings.autoPrint) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    if (StopSignalPending())
        return kExitNormal;

    device::EventLoopWatch watch;
    HeadlessView view(settings);
    acquisition::Session* running = nullptr;
    auto sinks = MakeRunSinks(
        options, [&running] { return running ? int(running->State().FileIndex) : 0; }, nullptr);
    if (!sinks) {
        report::WriteStandardError(report::module::kPublish, sinks.Reason());
        return kExitBadCommandLine;
    }
    acquisition::SessionSeams seams;
    seams.sinks = sinks->All();
    seams.framelessReplyLimit = acquisition::kUnattendedFramelessLimit;
    seams.unattended = true;
    seams.reconnect = options.reconnect;
    seams.tickMs = options.tickMs;
    device::Unit unit;
    acquisition::Session session(view, view, view, unit, watch, seams);
    running = &session;
    session.State().SamplingTime = samplingTime;

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&session] { session.Tick(); });
    tick.start(options.tickMs);

    session.ConnectDevice();
    // A stop signal ends the run as STOP does, but without waiting for a reply in flight; one that came
    // before the run began means no run.
    StopSignals stopSignals;
    bool stopped = StopSignalPending();
    QObject::connect(&stopSignals, &StopSignals::Received, [&session, &stopped] {
        stopped = true;
        if (session.Running())
            session.StopNow();
    });
    if (stopped)
        return kExitNormal;
    // The run goes on in the event loop; its end ends the program.
    int status = kExitNormal;
    QObject::connect(&session, &acquisition::Session::Ended, [&session, &sinks, &status] {
        sinks->FinishThen([&session, &status] {
            status = EndOfUnattendedRun(session);
            QCoreApplication::exit(status);
        });
    });
    if (!session.Start())
        return status;
    app->exec();
    return status;
}

} // namespace app
