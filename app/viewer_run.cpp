#include "app/viewer_run.h"

#include "app/stop_signals.h"
#include "app/window_run.h"
#include "report/reporter.h"
#include "trend/trend_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <unistd.h>

namespace app {

namespace {

// A file's name that is not UTF-8 reaches the program as text with U+FFFD in it, which names no file.
// Such a record is opened through a link named with that text, in a folder of the viewer's own, to
// the bytes the command line gave.
QStringList OpenableNames(QStringList paths, int argc, char** argv, const QTemporaryDir& links) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray given(argv[i]);
        const QString text = QFile::decodeName(given);
        const qsizetype at = paths.indexOf(text);
        if (at < 0 || QFile::encodeName(text) == given || !links.isValid())
            continue;
        const QByteArray target = given.startsWith('/') ? given : QFile::encodeName(QDir::currentPath()) + '/' + given;
        // A folder for each, so that the link has the file's own name.
        const QDir folder(QDir(links.path()).filePath(QString::number(i)));
        const QString link = folder.filePath(QFileInfo(text).fileName());
        if (QDir().mkpath(folder.path()) && ::symlink(target.constData(), QFile::encodeName(link).constData()) == 0)
            paths[at] = link;
    }
    return paths;
}

} // namespace

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
    // What the window says under its plot is said on standard error too.
    const auto sayAll = [](const QStringList& messages) {
        for (const QString& message : messages)
            report::WriteStandardError(report::module::kTrend, message);
    };
    QObject::connect(&viewer, &trend::TrendWindow::RecordsRead, &viewer, sayAll);
    QObject::connect(&viewer, &trend::TrendWindow::Said, &viewer, sayAll);
    const QTemporaryDir links;
    viewer.OpenRecords(OpenableNames(options.view, argc, argv, links));
    viewer.show();
    return app.exec() == 0 ? kExitNormal : kExitRunError;
}

} // namespace app
