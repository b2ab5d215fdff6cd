#include "alarm/limit_command.h"

#include "record/csv_row.h"
#include "report/reporter.h"

#include <unistd.h>

namespace alarms {

LimitCommand::LimitCommand(const QString& command, std::size_t maxWaiting, QObject* parent)
    : QObject(parent), maxWaiting_(maxWaiting) {
    arguments_ = QProcess::splitCommand(command);
    if (!arguments_.isEmpty())
        program_ = arguments_.takeFirst();
    finishWait_.setSingleShot(true);
    connect(&finishWait_, &QTimer::timeout, this, &LimitCommand::Drained);
}

LimitCommand::~LimitCommand() {
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
              << QString::fromStdString(record::TimeText(time));
    waiting_.push_back({std::move(arguments), QString::fromStdString(channels::Note(channel, crossing))});
    StartNext();
}

void LimitCommand::StartNext() {
    if (running_ || finished_)
        return;
    if (waiting_.empty()) {
        Drained();
        return;
    }
    current_ = std::move(waiting_.front());
    waiting_.pop_front();
    auto* process = new QProcess(this);
    running_ = process;
    process->setProgram(program_);
    process->setArguments(current_.arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // Its standard output goes where its errors go: ours may be the record's stream.
    process->setChildProcessModifier([] { ::dup2(STDERR_FILENO, STDOUT_FILENO); });
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
}

void LimitCommand::Ended(bool ok, const QString& why) {
    running_->deleteLater();
    running_ = nullptr;
    if (!ok)
        Fail(current_.crossing, current_.arguments, why);
    emit CommandEnded(current_.arguments, ok);
    // From the event loop, not from inside the process's own signal.
    QMetaObject::invokeMethod(this, &LimitCommand::StartNext, Qt::QueuedConnection);
}

void LimitCommand::Fail(const QString& crossing, const QStringList& arguments, const QString& why) {
    ++failed_;
    report::Report(
        Module(),
        QStringLiteral("%1: the --on-limit command %2 failed: %3").arg(crossing, Shown(arguments), why));
}

// The program and its arguments as one might type them: those with a blank or a quote in double quotes.
QString LimitCommand::Shown(const QStringList& arguments) const {
    QStringList words{program_};
    words << (arguments.isEmpty() ? arguments_ : arguments);
    for (QString& word : words)
        if (word.isEmpty() || word.contains(QLatin1Char(' ')) || word.contains(QLatin1Char('"')))
            word = QLatin1Char('"') + word.replace(QLatin1String("\""), QLatin1String("\"\"\"")) +
                   QLatin1Char('"');
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
    if (Idle() || finished_) {
        Drained();
        return;
    }
    finishWait_.start(wait);
}

void LimitCommand::Drained() {
    if (!then_)
        return;
    const auto then = std::move(then_);
    then_ = nullptr;
    Finish();
    then();
}

void LimitCommand::Finish() {
    finishWait_.stop();
    if (finished_)
        return;
    finished_ = true;
    if (running_) {
        running_->disconnect(this);
        running_->kill();
        running_ = nullptr; // a child of this: it goes with it
        Fail(current_.crossing, current_.arguments,
             QStringLiteral("it was still running when the program ended, and was stopped"));
    }
    if (!waiting_.empty()) {
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
}

} // namespace alarms
