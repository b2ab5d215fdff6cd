#include "record/run_record_file.h"

#include "record/csv_row.h"
#include "report/reporter.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace record {

namespace {

// Enough for every START of a day in the same second; beyond, the folder is taken as unusable.
constexpr int kMaxCopies = 9999;

// The new name must survive a power cut too, not only the file's rows.
void SyncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QString RunRecordName(const QString& baseName, const QDateTime& started, int copy) {
    const QDate d = started.date();
    const QTime t = started.time();
    QString name = baseName + QString::asprintf("-%04d%02d%02d-%02d%02d%02d", d.year(), d.month(), d.day(),
                                                t.hour(), t.minute(), t.second());
    if (copy > 1)
        name += QLatin1Char('-') + QString::number(copy);
    return name + QStringLiteral(".csv");
}

RunRecordFile::RunRecordFile(QString folder) : folder_(std::move(folder)) {
    row_.reserve(128);
}

RunRecordFile::~RunRecordFile() {
    Close();
}

void RunRecordFile::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

const char* RunRecordFile::Module() const {
    return report::module::kRecord;
}

report::Failure RunRecordFile::Stop(const QString& what, int error) {
    Close();
    return report::Fail(
        QStringLiteral("The run record stopped: %1 (%2). The run goes on without it; the %3 rows already written stay.")
            .arg(what, report::SystemErrorText(error))
            .arg(rows_));
}

report::Done RunRecordFile::RunStarted(const acquisition::RunInfo& run) {
    Close();
    rows_ = 0;
    size_ = 0;
    const QDir folder(folder_.isEmpty() ? QDir::currentPath() : folder_);
    for (int copy = 1; copy <= kMaxCopies; ++copy) {
        path_ = folder.filePath(RunRecordName(run.baseName, run.started, copy));
        // O_EXCL: a file or a link already at the name makes the open fail, never followed.
        fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     0666);
        if (fd_ >= 0)
            break;
        if (const int error = errno; error != EEXIST)
            return Stop(QStringLiteral("cannot create %1").arg(path_), error);
    }
    if (fd_ < 0)
        return Stop(QStringLiteral("every name up to %1 is taken").arg(path_), EEXIST);
    SyncFolder(folder.path());
    return Write(std::string(kHeaderRow));
}

report::Done RunRecordFile::Take(const acquisition::DecodedSample& sample) {
    if (fd_ < 0)
        return {};
    row_.clear();
    AppendRow(row_, sample);
    if (auto written = Write(row_); !written)
        return written;
    ++rows_;
    return {};
}

report::Done RunRecordFile::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : ENOSPC;
        // A torn last row would read as a wrong sample: the file ends after the last whole one.
        if (done > 0 && ::ftruncate(fd_, off_t(size_)) != 0) {
            // The torn row stays; the message below still says why the record stopped.
        }
        return Stop(QStringLiteral("cannot write to %1").arg(path_), error);
    }
    size_ += (long long)bytes.size();
    return {};
}

report::Done RunRecordFile::Sync() {
    if (fd_ >= 0 && ::fsync(fd_) != 0) {
        const int error = errno;
        return Stop(QStringLiteral("cannot sync %1").arg(path_), error);
    }
    return {};
}

report::Done RunRecordFile::SweepEnded() {
    return Sync();
}

report::Done RunRecordFile::RunEnded() {
    report::Done synced = Sync();
    Close();
    return synced;
}

} // namespace record
