#include "app/run_sinks.h"

#include "alarm/desktop_notice.h"
#include "alarm/limit_command.h"
#include "publish/mqtt_publisher.h"
#include "record/progress_line.h"
#include "record/row_stream.h"
#include "record/run_record_file.h"
#include "report/reporter.h"

#include <unistd.h>

namespace app {

void RunSinks::Finish() {
    if (limitCommand)
        limitCommand->Finish();
    if (finishing_)
        return; // the rest is under way, and ends with the sinks
    if (publisher)
        publisher->Finish();
    if (rowStream)
        rowStream->Drain();
}

void RunSinks::FinishThen(std::function<void()> then) {
    if (finishing_) {
        if (left_ == 0)
            then();
        else
            thens_.push_back(std::move(then));
        return;
    }
    finishing_ = std::make_unique<QObject>();
    thens_.push_back(std::move(then));
    left_ = 1; // until all three have begun
    auto oneOver = [this] {
        if (--left_ > 0)
            return;
        const auto thens = std::move(thens_);
        thens_.clear();
        for (const auto& t : thens)
            t();
    };
    if (publisher) {
        ++left_;
        publisher->FinishThen([context = finishing_.get(), oneOver] {
            QMetaObject::invokeMethod(context, oneOver, Qt::QueuedConnection);
        });
    }
    if (rowStream) {
        ++left_;
        rowStream->DrainThen(oneOver);
    }
    if (limitCommand) {
        ++left_;
        limitCommand->FinishWithin(kCommandsAtExit, oneOver);
    }
    oneOver();
}

report::Done CheckBeforeStart(const Options& options) {
    if (!options.exitAfterRun || options.record == kRecordOff || options.record == kRecordToStandardOutput)
        return {};
    return record::CheckRecordFolder(options.record);
}

std::vector<acquisition::SampleSink*> RunSinks::All() const {
    std::vector<acquisition::SampleSink*> all;
    for (const auto& sink : owned)
        all.push_back(sink.get());
    return all;
}

report::Result<RunSinks> MakeRunSinks(const Options& options, std::function<int()> sweepsSaved,
                                      std::function<void(const QString& status)> showStatus,
                                      bool desktopNotices) {
    RunSinks sinks;
    // An unattended run ends the program, which then says each sink's shortfall (EndOfUnattendedRun): the
    // sinks do not say the same counts at the run's end as well.
    const bool shortfallsSaidAtExit = options.exitAfterRun;
    if (options.record == kRecordToStandardOutput) {
        auto stream =
            std::make_unique<record::RowStream>(STDOUT_FILENO, record::RowStream::kMaxBacklogBytes,
                                                record::RowStream::kStallLimitMs, !shortfallsSaidAtExit);
        sinks.rowStream = stream.get();
        sinks.owned.push_back(std::move(stream));
    } else if (options.record != kRecordOff) {
        auto file = std::make_unique<record::RunRecordFile>(options.record);
        sinks.recordFile = file.get();
        sinks.owned.push_back(std::move(file));
    }
    if (options.exitAfterRun && ::isatty(STDERR_FILENO)) {
        record::RunRecordFile* recordFile = sinks.recordFile;
        sinks.owned.push_back(
            std::make_unique<record::ProgressLine>([sweepsSaved = std::move(sweepsSaved), recordFile] {
                return 2 * sweepsSaved() + (recordFile && recordFile->Rows() > 0 ? 1 : 0);
            }));
    }
    if (!options.publishUrl.isEmpty()) {
        // Said by the reporter (the log pane, or standard error) and on the status line; the counts of the
        // end (dropped in all, not delivered) are the publisher's shortfall.
        auto notify = [showStatus = std::move(showStatus),
                       shortfallsSaidAtExit](const publish::PublishNotice& notice) {
            const bool endCount = notice.kind == publish::PublishNotice::Kind::Dropped ||
                                  notice.kind == publish::PublishNotice::Kind::Undelivered;
            if (!(endCount && shortfallsSaidAtExit))
                report::Report(report::module::kPublish, notice.message);
            if (showStatus)
                showStatus(notice.status);
        };
        auto publisher = publish::MakePublisher(options.publishUrl, std::move(notify));
        if (!publisher)
            return publisher.Error();
        sinks.publisher = publisher->get();
        sinks.owned.push_back(std::move(*publisher));
    }
    if (!options.onLimit.isEmpty()) {
        auto command = std::make_unique<alarms::LimitCommand>(options.onLimit, options.onLimitTimeout);
        sinks.limitCommand = command.get();
        sinks.owned.push_back(std::move(command));
    }
    if (desktopNotices)
        sinks.owned.push_back(std::make_unique<alarms::DesktopNotice>());
    return sinks;
}

} // namespace app
