#include "record/row_stream.h"

#include "record/csv_row.h"
#include "report/reporter.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <unistd.h>

namespace record {

namespace {

// The rows wait in blocks of this size, so that the memory held stays close to the rows held.
constexpr std::size_t kBlockBytes = 64 * 1024;

long long RowEnds(const char* begin, const char* end) {
    return std::count(begin, end, '\n');
}

} // namespace

RowStream::~RowStream() = default;

RowStream::RowStream(int fd, std::size_t maxBacklogBytes, int stallLimitMs, bool countAtRunEnd)
    : fd_(fd), maxBacklogBytes_(maxBacklogBytes), stallLimitMs_(stallLimitMs), countAtRunEnd_(countAtRunEnd) {
    row_.reserve(128);
}

const char* RowStream::Module() const {
    return report::module::kRecord;
}

QString RowStream::StoppedStatus() const {
    return QStringLiteral(QT_TRANSLATE_NOOP("Status", "標準出力に届かなかった行があります"));
}

QString RowStream::Shortfall() const {
    if (lostRows_ == 0)
        return {};
    return QStringLiteral("%1 rows did not reach standard output (%2)").arg(lostRows_).arg(lossReason_);
}

void RowStream::Lose(long long rows, const QString& why) {
    lostRows_ += rows;
    lostInRun_ += rows;
    lossReason_ = why;
}

void RowStream::Queue(const std::string& bytes) {
    if (backlog_.empty() || backlog_.back().size() + bytes.size() > kBlockBytes) {
        backlog_.emplace_back();
        backlog_.back().reserve(std::max(kBlockBytes, bytes.size()));
    }
    backlog_.back() += bytes;
    backlogBytes_ += bytes.size();
}

report::Done RowStream::RunStarted(const acquisition::RunInfo& run) {
    channels_ = run.channels;
    lostInRun_ = 0;
    saidDropping_ = false;
    if (gone_)
        return {};
    if (!headerQueued_) {
        headerQueued_ = true;
        Queue(std::string(kHeaderRow));
    }
    Flush(0);
    return {};
}

report::Done RowStream::Take(const acquisition::DecodedSample& sample) {
    row_.clear();
    AppendRow(row_, sample, channels_);
    if (!gone_ && backlogBytes_ + row_.size() > maxBacklogBytes_)
        Flush(0);
    if (gone_) {
        Lose(1, lossReason_);
        return {};
    }
    if (backlogBytes_ + row_.size() > maxBacklogBytes_) {
        const QString limit = maxBacklogBytes_ >= (1u << 20)
                                  ? QStringLiteral("%1 MiB").arg(maxBacklogBytes_ >> 20)
                                  : QStringLiteral("%1 bytes").arg(maxBacklogBytes_);
        const QString why = QStringLiteral("its reader fell %1 behind").arg(limit);
        Lose(1, why);
        if (!saidDropping_) {
            saidDropping_ = true;
            report::Report(
                Module(),
                QStringLiteral("The record stream on standard output: %1. Rows are dropped from now on "
                               "until it catches up; their number is said at the run's end.")
                    .arg(why));
        }
        return {};
    }
    Queue(row_);
    Flush(0);
    return {};
}

report::Done RowStream::SweepEnded() {
    Flush(0);
    return {};
}

report::Done RowStream::RunEnded() {
    Flush(countAtRunEnd_ ? stallLimitMs_ : 0);
    if (lostInRun_ == 0 || !countAtRunEnd_)
        return {};
    return report::Fail(QStringLiteral("%1 rows of this run did not reach standard output: %2.")
                            .arg(lostInRun_)
                            .arg(lossReason_));
}

void RowStream::GiveUp(const QString& why) {
    // Rows not written whole are lost; the header is not a row.
    long long rows = 0;
    for (std::size_t i = 0; i < backlog_.size(); ++i) {
        const std::string& block = backlog_[i];
        rows += RowEnds(block.data() + (i == 0 ? frontSent_ : 0), block.data() + block.size());
    }
    if (bytesWritten_ < (long long)kHeaderRow.size() && rows > 0)
        --rows;
    gone_ = true;
    backlog_.clear();
    frontSent_ = 0;
    backlogBytes_ = 0;
    Lose(rows, why);
    report::Report(Module(),
                   QStringLiteral("The record stream on standard output stopped: %1. Rows from now on are "
                                  "lost; their number is said at the run's end.")
                       .arg(why));
}

void RowStream::Flush(int waitMs) {
    while (backlogBytes_ > 0) {
        pollfd ready{fd_, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, waitMs);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled < 0)
            return GiveUp(report::SystemErrorText(errno));
        if (polled == 0) {
            if (waitMs > 0)
                GiveUp(QStringLiteral("its reader took nothing for %1 seconds").arg(waitMs / 1000));
            return;
        }
        // Up to PIPE_BUF bytes go into a pipe that polls writable without blocking.
        const std::string& front = backlog_.front();
        const std::size_t chunk = std::min<std::size_t>(front.size() - frontSent_, PIPE_BUF);
        const ssize_t n = ::write(fd_, front.data() + frontSent_, chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return GiveUp(n < 0 && errno == EPIPE ? QStringLiteral("its reader is gone")
                                                  : report::SystemErrorText(n < 0 ? errno : EIO));
        frontSent_ += std::size_t(n);
        backlogBytes_ -= std::size_t(n);
        bytesWritten_ += n;
        if (frontSent_ == front.size()) {
            backlog_.pop_front();
            frontSent_ = 0;
        }
    }
}

void RowStream::Drain() {
    Flush(stallLimitMs_);
}

void RowStream::DrainThen(std::function<void()> done) {
    Flush(0);
    if (gone_ || backlogBytes_ == 0) {
        done();
        return;
    }
    drained_ = std::move(done);
    writable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    stall_ = std::make_unique<QTimer>();
    stall_->setSingleShot(true);
    QObject::connect(writable_.get(), &QSocketNotifier::activated, writable_.get(), [this] {
        const long long before = bytesWritten_;
        Flush(0);
        if (gone_ || backlogBytes_ == 0)
            Drained();
        else if (bytesWritten_ != before)
            stall_->start(stallLimitMs_);
    });
    QObject::connect(stall_.get(), &QTimer::timeout, stall_.get(), [this] {
        GiveUp(QStringLiteral("its reader took nothing for %1 seconds").arg(stallLimitMs_ / 1000));
        Drained();
    });
    stall_->start(stallLimitMs_);
}

void RowStream::Drained() {
    // Not deleted from inside their own signals.
    writable_->setEnabled(false);
    stall_->stop();
    writable_.release()->deleteLater();
    stall_.release()->deleteLater();
    const auto done = std::move(drained_);
    drained_ = nullptr;
    if (done)
        done();
}

} // namespace record
