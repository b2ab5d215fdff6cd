#include "record/row_stream.h"

#include "record/csv_row.h"
#include "report/reporter.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace record {

RowStream::RowStream(int fd) : fd_(fd) {}

const char* RowStream::Module() const {
    return report::module::kRecord;
}

report::Failure RowStream::Stop(const QString& why) {
    stopped_ = true;
    backlog_.clear();
    sent_ = 0;
    return report::Fail(
        QStringLiteral("The record stream on standard output stopped: %1. The run goes on without it.").arg(why));
}

report::Done RowStream::RunStarted(const acquisition::RunInfo&) {
    if (stopped_ || headerWritten_)
        return {};
    headerWritten_ = true;
    backlog_.append(kHeaderRow);
    return Flush(0);
}

report::Done RowStream::Take(const acquisition::DecodedSample& sample) {
    if (stopped_)
        return {};
    AppendRow(backlog_, sample);
    if (backlog_.size() - sent_ > kMaxBacklogBytes)
        return Stop(QStringLiteral("its reader fell more than %1 MB behind").arg(kMaxBacklogBytes >> 20));
    return Flush(0);
}

report::Done RowStream::SweepEnded() {
    if (stopped_)
        return {};
    return Flush(0);
}

report::Done RowStream::RunEnded() {
    if (stopped_)
        return {};
    return Flush(kRunEndWaitMs);
}

report::Done RowStream::Flush(int waitMs) {
    while (sent_ < backlog_.size()) {
        pollfd ready{fd_, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, waitMs);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0) {
            if (waitMs > 0)
                return Stop(QStringLiteral("its reader took nothing for %1 seconds").arg(waitMs / 1000));
            break;
        }
        // Up to PIPE_BUF bytes go into a pipe that polls writable without blocking.
        const std::size_t chunk = std::min<std::size_t>(backlog_.size() - sent_, PIPE_BUF);
        const ssize_t n = ::write(fd_, backlog_.data() + sent_, chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return Stop(report::SystemErrorText(n < 0 ? errno : EIO));
        sent_ += std::size_t(n);
    }
    if (sent_ == backlog_.size()) {
        backlog_.clear();
        sent_ = 0;
    } else if (sent_ > backlog_.size() / 2) {
        backlog_.erase(0, sent_);
        sent_ = 0;
    }
    return {};
}

} // namespace record
