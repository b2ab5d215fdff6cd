#include "alarm/limit_command.h"

#include "acquisition/sample_words.h"
#include "alarm/command_words.h"
#include "report/reporter.h"

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace alarms {

namespace {

// The child's set-up runs between fork and exec, and QProcess may start the child as vfork does, on the
// parent's memory with a small stack of its own: no sanitiser's bookkeeping may run there.
#define TAVRIN_IN_CHILD __attribute__((no_sanitize("address", "undefined")))

TAVRIN_IN_CHILD void CloseOnExec(int fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC))
        ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// Every descriptor above 2 closes at exec. In the child between fork and exec: system calls only
// (no allocation), and the descriptors are marked rather than closed, so that the pipe on which
// QProcess learns that exec failed still works. QProcess may start the child as vfork does, on a
// small stack of its own: little of it is used.
TAVRIN_IN_CHILD void CloseOnExecAbove2() {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
#endif
    // An older kernel: the descriptors open, as /proc lists them.
    const int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        alignas(dirent64) char buffer[320];
        for (;;) {
            const ssize_t got = ::getdents64(folder, buffer, sizeof buffer);
            if (got <= 0)
                break;
            for (ssize_t at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
                at += entry->d_reclen;
                int fd = 0;
                const char* c = entry->d_name;
                for (; *c >= '0' && *c <= '9'; ++c)
                    fd = fd * 10 + (*c - '0');
                if (*c == '\0' && c != entry->d_name && fd > 2 && fd != folder)
                    CloseOnExec(fd);
            }
        }
        ::close(folder);
        return;
    }
    // No /proc either: every descriptor there may be.
    rlimit open{};
    const rlim_t most = ::getrlimit(RLIMIT_NOFILE, &open) == 0 && open.rlim_cur != RLIM_INFINITY
                            ? std::min<rlim_t>(open.rlim_cur, 1 << 20)
                            : 1 << 16;
    for (rlim_t fd = 3; fd < most; ++fd)
        CloseOnExec(int(fd));
}

// In the child, before exec.
TAVRIN_IN_CHILD void SetUpChild() {
    ::setsid(); // a session and process group of its own, with no controlling terminal
    // Its standard output goes where its errors go: ours may be the record's stream.
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    CloseOnExecAbove2();
}

QString Seconds(std::chrono::milliseconds span) {
    if (span.count() % 1000 != 0)
        return QStringLiteral("%1 s").arg(double(span.count()) / 1000.0);
    return QStringLiteral("%1 s").arg(span.count() / 1000);
}

} // namespace

LimitCommand::LimitCommand(const QString& command, std::chrono::milliseconds limit, std::size_t maxWaiting,
                           QObject* parent)
    : QObject(parent), limit_(limit), maxWaiting_(maxWaiting) {
    if (auto words = SplitCommandWords(command); words && !words->isEmpty()) {
        arguments_ = *words;
        program_ = arguments_.takeFirst();
    }
    limitTimer_.setSingleShot(true);
    connect(&limitTimer_, &QTimer::timeout, this, [this] {
        if (!running_ || ending_)
            return;
        report::Report(Module(), QStringLiteral("%1: the --on-limit command %2 is still running after its "
                                                "time limit of %3: it is ended (SIGTERM now, SIGKILL %4 "
                                                "later if it is still running)")
                                     .arg(current_.crossing, Shown(current_.arguments), Seconds(limit_),
                                          Seconds(kKillAfter)));
        ++failed_;
        Terminate();
    });
    killTimer_.setSingleShot(true);
    connect(&killTimer_, &QTimer::timeout, this, [this] {
        if (!running_)
            return;
        Signal(SIGKILL);
        // SIGKILL cannot be caught: the command is over whether or not its end is ever reported, and
        // neither the next crossing nor the program's end waits for that report.
        LetGo();
        Ended(false, QString());
    });
    finishWait_.setSingleShot(true);
    connect(&finishWait_, &QTimer::timeout, this, &LimitCommand::EndNow);
}

LimitCommand::~LimitCommand() {
    then_ = nullptr;
    Finish();
}

const char* LimitCommand::Module() const {
    return report::module::kLimits;
}

report::Done LimitCommand::RunStarted(const acquisition::RunInfo& run) {
    channels_ = run.channels;
    saidDropping_ = false;
    return {};
}

report::Done LimitCommand::Take(const acquisition::DecodedSample& sample) {
    if (!channels::Any(sample.crossings))
        return {};
    for (int channel = 0; channel < channels::kChannelCount; ++channel) {
        const auto& crossing = sample.crossings[std::size_t(channel)];
        const auto& hundredths = channel == 0 ? sample.ad0 : sample.ad1;
        if (crossing && hundredths)
            Queue(channel, *crossing, *hundredths, sample.time);
    }
    return {};
}

void LimitCommand::Queue(int channel, channels::Crossing crossing, int hundredths, const QDateTime& time) {
    if (finished_) {
        ++notRun_;
        return;
    }
    if (waiting_.size() >= maxWaiting_) {
        ++dropped_;
        if (!saidDropping_) {
            saidDropping_ = true;
            report::Report(
                Module(),
                QStringLiteral("%1 crossings wait for the --on-limit command %2: later crossings run "
                               "no command until it catches up; their number is said at the end")
                    .arg(waiting_.size())
                    .arg(Shown({})));
        }
        return;
    }
    const channels::Channel& settings = channels_[std::size_t(channel)];
    QStringList arguments = arguments_;
    arguments << channels::Key(channel) << QString::fromLatin1(channels::CrossingWord(crossing))
              << QString::fromStdString(channels::ValueText(settings.scale, hundredths)) << settings.unit
              << QString::fromStdString(acquisition::TimeText(time));
    const QString note = QString::fromStdString(channels::Note(channel, crossing));
    if (running_ && !saidWaiting_) {
        saidWaiting_ = true;
        report::Report(Module(),
                       QStringLiteral("%1 waits: the --on-limit command for %2 is still running (its "
                                      "time limit %3); crossings run their commands in turn "
                                      "once it has ended")
                           .arg(note, current_.crossing, Seconds(limit_)));
    }
    waiting_.push_back({std::move(arguments), note});
    StartNext();
}

void LimitCommand::StartNext() {
    if (running_ || finished_)
        return;
    if (waiting_.empty()) {
        saidWaiting_ = false;
        if (then_)
            EndNow();
        return;
    }
    current_ = std::move(waiting_.front());
    waiting_.pop_front();
    auto* process = new QProcess(this);
    running_ = process;
    ending_ = false;
    process->setProgram(program_);
    process->setArguments(current_.arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setChildProcessModifier(SetUpChild);
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process == running_)
            Ended(false, QStringLiteral("it could not start: %1").arg(process->errorString()));
    });
    connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus status) {
        if (process != running_)
            return;
        if (status == QProcess::CrashExit)
            Ended(false, QStringLiteral("it was killed by a signal, or crashed"));
        else if (code != 0)
            Ended(false, QStringLiteral("it ended with status %1").arg(code));
        else
            Ended(true, QString());
    });
    process->start();
    if (process != running_) // it could not start, and that has been said
        return;
    pid_ = process->processId();
    limitTimer_.start(limit_);
}

void LimitCommand::Ended(bool ok, const QString& why) {
    limitTimer_.stop();
    killTimer_.stop();
    if (running_)
        running_->deleteLater();
    running_ = nullptr;
    pid_ = 0;
    // One that was ended has been said already, and counted.
    if (!ok && !ending_)
        Fail(current_.crossing, current_.arguments, why);
    ending_ = false;
    emit CommandEnded(current_.arguments, ok);
    if (finished_) {
        Done();
        return;
    }
    // From the event loop, not from inside the process's own signal.
    QMetaObject::invokeMethod(this, &LimitCommand::StartNext, Qt::QueuedConnection);
}

void LimitCommand::Fail(const QString& crossing, const QStringList& arguments, const QString& why) {
    ++failed_;
    report::Report(
        Module(),
        QStringLiteral("%1: the --on-limit command %2 failed: %3").arg(crossing, Shown(arguments), why));
}

void LimitCommand::Terminate() {
    ending_ = true;
    Signal(SIGTERM);
    killTimer_.start(kKillAfter);
}

void LimitCommand::Signal(int signal) {
    if (pid_ <= 0)
        return;
    // The whole group: whatever the command started goes with it. A command still starting may not
    // have its group yet.
    if (::kill(-pid_t(pid_), signal) != 0)
        ::kill(pid_t(pid_), signal);
}

// The program and its arguments as one might type them: a word holding a blank or a character a shell
// would take for its own in single quotes.
QString LimitCommand::Shown(const QStringList& arguments) const {
    QStringList words{program_};
    words << (arguments.isEmpty() ? arguments_ : arguments);
    static const QString special = QStringLiteral(" \t\n'\"\\$`*?[]~#|;&<>(){}");
    for (QString& word : words)
        if (word.isEmpty() ||
            std::any_of(word.begin(), word.end(), [](QChar c) { return special.contains(c); }))
            word = QLatin1Char('\'') + word.replace(QLatin1String("'"), QLatin1String("'\\''")) +
                   QLatin1Char('\'');
    return words.join(QLatin1Char(' '));
}

QString LimitCommand::Shortfall() const {
    QStringList parts;
    if (failed_ > 0)
        parts << QStringLiteral("%1 --on-limit commands failed").arg(failed_);
    if (dropped_ > 0)
        parts << QStringLiteral("%1 crossings ran no --on-limit command, too many waiting").arg(dropped_);
    if (notRun_ > 0)
        parts << QStringLiteral("%1 crossings ran no --on-limit command, the program ending first")
                     .arg(notRun_);
    return parts.join(QStringLiteral("; "));
}

void LimitCommand::FinishWithin(std::chrono::milliseconds wait, std::function<void()> then) {
    then_ = std::move(then);
    if (finished_ && !running_) {
        Done();
        return;
    }
    if (Idle()) {
        EndNow();
        return;
    }
    if (!finished_)
        finishWait_.start(std::min(wait, limit_));
}

void LimitCommand::EndNow() {
    finishWait_.stop();
    finished_ = true;
    SayNotRun();
    if (running_ && !ending_) {
        report::Report(Module(),
                       QStringLiteral("%1: the --on-limit command %2 was still running when the "
                                      "program ended: it is ended (SIGTERM now, SIGKILL %3 later if "
                                      "it is still running)")
                           .arg(current_.crossing, Shown(current_.arguments), Seconds(kKillAfter)));
        ++failed_;
        Terminate();
    }
    if (!running_)
        Done();
}

void LimitCommand::Done() {
    if (!then_)
        return;
    const auto then = std::move(then_);
    then_ = nullptr;
    then();
}

void LimitCommand::SayNotRun() {
    if (waiting_.empty())
        return;
    QStringList crossings;
    for (const Waiting& w : waiting_)
        crossings << w.crossing;
    notRun_ += (long long)waiting_.size();
    report::Report(Module(),
                   QStringLiteral("the --on-limit command %1 did not run for %2 crossings (%3): the "
                                  "program ended first")
                       .arg(Shown({}))
                       .arg(waiting_.size())
                       .arg(crossings.join(QStringLiteral(", "))));
    waiting_.clear();
}

void LimitCommand::Finish() {
    finishWait_.stop();
    limitTimer_.stop();
    killTimer_.stop();
    finished_ = true;
    SayNotRun();
    if (!running_)
        return;
    if (!ending_)
        Fail(current_.crossing, current_.arguments,
             QStringLiteral("it was still running when the program ended, and was killed"));
    Signal(SIGKILL);
    LetGo();
}

void LimitCommand::LetGo() {
    // Left to end on its own: a QProcess destroyed while its process runs would wait for it, and Qt
    // would say so. If the event loop turns again, it goes once it has ended.
    QProcess* process = running_;
    process->disconnect(this);
    process->setParent(nullptr);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    running_ = nullptr;
    pid_ = 0;
}

} // namespace alarms
