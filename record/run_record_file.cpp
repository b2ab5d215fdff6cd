#include "record/run_record_file.h"

#include "output/stale_temporaries.h"
#include "record/csv_row.h"
#include "report/reporter.h"
#include "storage/replace_file.h"
#include "storage/temporary_file.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace record {

namespace {

// Enough for every START of a day in the same second; beyond, the folder is taken as unusable.
constexpr int kMaxCopies = 9999;
constexpr mode_t kNewFileMode = 0666; // less the umask

QString FolderOrCurrent(const QString& folder) {
    return folder.isEmpty() ? QDir::currentPath() : folder;
}

// The new name must survive a power cut too, not only the file's rows.
void SyncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    storage::CurrentSaveCalls().fsync(fd);
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

report::Done CheckRecordFolder(const QString& folder) {
    const QString path = FolderOrCurrent(folder);
    const QByteArray name = QFile::encodeName(path);
    const auto cannot = [&path](int error) {
        return report::Fail(QStringLiteral("no run record can be created in %1 (%2)")
                                .arg(path, report::SystemErrorText(error)));
    };
    // A file without a name vanishes when closed; where none can be made, ask for the permissions.
    const int fd = storage::OpenUnnamed(name, kNewFileMode);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    if (const int error = errno; !storage::CannotMakeUnnamed(error))
        return cannot(error);
    struct stat st = {};
    if (::stat(name.constData(), &st) != 0)
        return cannot(errno);
    if (!S_ISDIR(st.st_mode))
        return cannot(ENOTDIR);
    if (::faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return cannot(errno);
    return {};
}

RunRecordFile::RunRecordFile(QString folder) : folder_(std::move(folder)) {
    row_.reserve(128);
}

RunRecordFile::~RunRecordFile() {
    Close();
}

void RunRecordFile::Close() {
    // Closing the descriptor also lets go of the lock.
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

const char* RunRecordFile::Module() const {
    return report::module::kRecord;
}

report::Failure RunRecordFile::Stop(const QString& what, int error) {
    Close();
    const QString reason = report::SystemErrorText(error);
    if (!shortfall_.isEmpty())
        shortfall_ += QStringLiteral("; ");
    if (created_) {
        shortfall_ +=
            QStringLiteral("the run record %1 stopped after %2 rows (%3)").arg(path_).arg(rows_).arg(reason);
        return report::Fail(
            QStringLiteral("The run record stopped: %1 (%2). The run goes on without it; the %3 rows "
                           "already written stay.")
                .arg(what, reason)
                .arg(rows_));
    }
    shortfall_ += QStringLiteral("no run record was made (%1: %2)").arg(what, reason);
    return report::Fail(
        QStringLiteral("The run record stopped: %1 (%2). The run goes on without it.").arg(what, reason));
}

report::Done RunRecordFile::RunStarted(const acquisition::RunInfo& run) {
    Close();
    rows_ = 0;
    size_ = 0;
    created_ = false;
    const QString folder = FolderOrCurrent(folder_);
    // A record's temporary that a kill left in a folder of its own goes (the session clears the
    // current folder's).
    if (!folder_.isEmpty())
        output::RemoveStaleTemporaries(run.baseName, folder);
    path_ = QDir(folder).filePath(RunRecordName(run.baseName, run.started));
    return Create(folder, run);
}

report::Done RunRecordFile::Create(const QString& folder, const acquisition::RunInfo& run) {
    // The header goes into a file without a name, or into a locked temporary where the file
    // system cannot make one; either way the record's name shows only a file with its header.
    QByteArray temporary;
    fd_ = storage::OpenUnnamed(QFile::encodeName(folder), kNewFileMode);
    if (fd_ < 0) {
        if (const int error = errno; !storage::CannotMakeUnnamed(error))
            return Stop(QStringLiteral("cannot create a file in %1").arg(folder), error);
        const storage::TemporaryFile made = storage::CreateTemporary(QFile::encodeName(path_), kNewFileMode);
        if (made.fd < 0)
            return Stop(QStringLiteral("cannot create a file in %1").arg(folder), made.error);
        fd_ = made.fd;
        temporary = made.path;
    }
    const auto dropTemporary = [&temporary] {
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
    };
    if (auto header = Write(std::string(kHeaderRow)); !header) {
        dropTemporary();
        return header;
    }
    if (auto synced = Sync(); !synced) {
        dropTemporary();
        return synced;
    }
    const QDir into(folder);
    int error = EEXIST;
    for (int copy = 1; copy <= kMaxCopies && error == EEXIST; ++copy) {
        path_ = into.filePath(RunRecordName(run.baseName, run.started, copy));
        const QByteArray name = QFile::encodeName(path_);
        // Neither call replaces a file or a link already at the name, nor follows it.
        if (temporary.isEmpty())
            error = storage::LinkUnnamed(fd_, name);
        else
            error = ::link(temporary.constData(), name.constData()) == 0 ? 0 : errno;
    }
    dropTemporary();
    if (error == EEXIST)
        return Stop(QStringLiteral("every name up to %1 is taken").arg(path_), EEXIST);
    if (error != 0)
        return Stop(QStringLiteral("cannot create %1").arg(path_), error);
    created_ = true;
    SyncFolder(folder);
    return {};
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
        const ssize_t n = storage::CurrentSaveCalls().write(fd_, bytes.data() + done, bytes.size() - done);
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
    if (fd_ >= 0 && storage::CurrentSaveCalls().fsync(fd_) != 0) {
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
