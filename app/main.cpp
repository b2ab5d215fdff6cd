// Entry point: the command line, then the window or a headless run.
#include "app/command_line.h"
#include "app/headless_run.h"
#include "app/stop_signals.h"
#include "app/viewer_run.h"
#include "app/window_run.h"
#include "device/backends/backend_factory.h"
#include "device/backends/unit_list.h"
#include "report/reporter.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A program started with standard input, output or error closed would hand out those numbers to the
// first files it opens, and a record header or a message would land in one of them. Returns whether
// standard output was closed: what it writes from now on goes to /dev/null.
bool KeepStandardStreamsOpen() {
    bool outputClosed = false;
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            outputClosed = outputClosed || fd == STDOUT_FILENO;
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    return outputClosed;
}

int Main(int argc, char* argv[], bool standardOutputClosed) {
    QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    app::Options options;
    {
        // Help, version and command-line errors are answered before anything touches a window system.
        const QCoreApplication commandLine(argc, argv);
        auto parsed = app::ParseCommandLine(QCoreApplication::arguments(), standardOutputClosed);
        if (const int* status = std::get_if<int>(&parsed))
            return *status;
        options = std::get<app::Options>(std::move(parsed));
        if (options.listUnits) {
            std::fputs(device::ListEveryUnit().c_str(), stdout);
            return app::kExitNormal;
        }
    }
    if (!options.view.isEmpty())
        return app::RunViewer(argc, argv, options);
    auto backend = device::MakeBackend(options.device);
    if (!backend) {
        report::WriteStandardError(report::module::kDevice, backend.Reason());
        return app::kExitBadCommandLine;
    }
    SetD2xxBackend(std::move(*backend));
    // A reader of --record - that goes away is reported as a failed write, not a killed program.
    std::signal(SIGPIPE, SIG_IGN);
    if (options.headless)
        return app::RunHeadless(argc, argv, options);
    return app::RunWindow(argc, argv, options);
}

// Qt's own warnings go to standard error by the reporter's queue as well, in Qt's form: a stalled
// standard error holds up no thread that warns. A fatal message is written at once, before Qt aborts.
void QtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QString line = qFormatLogMessage(type, context, message);
    if (type != QtFatalMsg) {
        report::WriteStandardErrorLine(line);
        return;
    }
    report::FinishStandardError(1000);
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    [[maybe_unused]] const ssize_t written =
        ::write(STDERR_FILENO, bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

int main(int argc, char* argv[]) {
    const bool standardOutputClosed = KeepStandardStreamsOpen();
    qInstallMessageHandler(QtMessage);
    // First thing: a stop signal from now on ends the program cleanly, never half way through its start.
    app::InstallStopSignalHandlers();
    int status = app::kExitRunError;
    try {
        status = Main(argc, argv, standardOutputClosed);
    } catch (const std::exception& e) {
        report::WriteStandardError(report::module::kApp, QString::fromLocal8Bit(e.what()));
    }
    // Standard error is written by a thread of its own: what waits for it gets a moment, never more.
    report::FinishStandardError();
    return status;
}
