#include "app/viewer_run.h"

#include "app/stop_signals.h"
#include "app/window_run.h"
#include "report/reporter.h"
#include "trend/trend_window.h"

#include <QApplication>

namespace app {

int RunViewer(int& argc, char** argv, const Options& options) {
    QApplication app(argc, argv);
    if (const Kept kept = StartWindowSystem(app, options); !kept.load.problem.isEmpty())
        report::WriteStandardError(report::module::kSettings, kept.load.problem);
    // Made before the check below, so that no signal falls between the check and the watching.
    StopSignals stopSignals;
    if (StopSignalPending())
        return kExitNormal;
    trend::TrendWindow viewer;
    // Every event loop ends, a file dialog's too; the window, as it goes, stops a read going on.
    QObject::connect(&stopSignals, &StopSignals::Received, &viewer, [&viewer] {
        viewer.CancelReading();
        QCoreApplication::exit(kExitNormal);
    });
    QObject::connect(&viewer, &trend::TrendWindow::RecordsRead, &viewer, [](const QStringList& problems) {
        for (const QString& problem : problems)
            report::WriteStandardError(report::module::kTrend, problem);
    });
    viewer.OpenRecords(options.view);
    viewer.show();
    return app.exec() == 0 ? kExitNormal : kExitRunError;
}

} // namespace app
