#include "record/run_record_file.h"

#include "record/csv_row.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace record {

namespace {

// Enough for every START of a day in the same second; beyond, the folder is taken as unusable.
constexpr int kMaxCopies = 9999;

QString Reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

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

void RunRecordFile::Stop(const QString& what, int error) {
    Close();
    throw std::runtime_error(
        QStringLiteral("The run record stopped: %1 (%2). The run goes on without it; the %3 rows already written stay.")
            .arg(what, Reason(error))
            .arg(rows_)
            .toStdString());
}

void RunRecordFile::RunStarted(const acquisition::RunInfo& run) {
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
        if (errno != EEXIST)
            Stop(QStringLiteral("cannot create %1").arg(path_), errno);
    }
    if (fd_ < 0)
        Stop(QStringLiteral("every name up to %1 is taken").arg(path_), EEXIST);
    SyncFolder(folder.path());
    Write(std::string(kHeaderRow));
}

void RunRecordFile::Take(const acquisition::DecodedSample& sample) {
    if (fd_ < 0)
        return;
    row_.clear();
    AppendRow(row_, sample);
    Write(row_);
    ++rows_;
}

void RunRecordFile::Write(const std::string& bytes) {
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
        Stop(QStringLiteral("cannot write to %1").arg(path_), error);
    }
    size_ += (long long)bytes.size();
}

void RunRecordFile::Sync() {
    if (fd_ >= 0 && ::fsync(fd_) != 0)
        Stop(QStringLiteral("cannot sync %1").arg(path_), errno);
}

void RunRecordFile::SweepEnded() {
    Sync();
}

void RunRecordFile::RunEnded() {
    Sync();
    Close();
}

} // namespace record
