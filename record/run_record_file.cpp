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
#include <functional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace record {

namespace {

// Enough for every START of a day in the same second; beyond, the folder is taken as unusable.
constexpr int kMaxCopies = 9999;
constexpr mode_t kNewFileMode = 0666; // less the umask
// A folder with less room than this is not taken for a record at all.
constexpr long long kLeastFreeBytes = 1LL << 20;

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

// All of `bytes`, then to the disk; 0 or the errno.
int WriteAndSync(int fd, std::string_view bytes) {
    if (const int error = storage::WriteAll(fd, bytes.data(), bytes.size()); error != 0)
        return error;
    return storage::CurrentSaveCalls().fsync(fd) == 0 ? 0 : errno;
}

// A rename that cannot promise not to replace: the file system knows no RENAME_NOREPLACE.
bool NoSuchRename(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

struct Made {
    int fd = -1;   // open, locked, the header in it and on the disk; -1 when not made
    QString path;  // its name (or the name tried last)
    QString what;  // when not made: what could not be done
    int error = 0; // and the errno
};

// A new record with its header at the first free name of nameFor(1), nameFor(2), ... in `folder`.
// The header goes into a file without a name, or into a locked temporary where the file system
// cannot make one, and reaches the disk before the file gets its name, which never replaces
// anything standing there. A temporary is linked to its name, or where the file system knows no
// links (vfat, exFAT), renamed to it with RENAME_NOREPLACE. Only where neither works (some FUSE
// file systems) is the record made under its name at once, with O_EXCL, the header written
// straight after: a reader may then see it for a moment before its header.
Made MakeRecord(const QString& folder, const std::function<QString(int copy)>& nameFor) {
    const storage::SaveCalls& calls = storage::CurrentSaveCalls();
    const QDir into(folder);
    Made made;
    made.path = into.filePath(nameFor(1));
    const auto failed = [&made](int fd, QString what, int error) {
        if (fd >= 0)
            ::close(fd);
        made.fd = -1;
        made.what = std::move(what);
        made.error = error;
        return made;
    };
    QByteArray temporary;
    int fd = storage::OpenUnnamed(QFile::encodeName(folder), kNewFileMode);
    if (fd < 0) {
        if (const int error = errno; !storage::CannotMakeUnnamed(error))
            return failed(-1, QStringLiteral("cannot create a file in %1").arg(folder), error);
        const storage::TemporaryFile t = storage::CreateTemporary(QFile::encodeName(made.path), kNewFileMode);
        if (t.fd < 0)
            return failed(-1, QStringLiteral("cannot create a file in %1").arg(folder), t.error);
        fd = t.fd;
        temporary = t.path;
    }
    const auto dropTemporary = [&temporary] {
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
        temporary.clear();
    };
    if (const int error = WriteAndSync(fd, kHeaderRow); error != 0) {
        dropTemporary();
        return failed(fd, QStringLiteral("cannot write to %1").arg(made.path), error);
    }
    int error = EEXIST;
    bool noPlacing = false;
    for (int copy = 1; copy <= kMaxCopies && error == EEXIST; ++copy) {
        made.path = into.filePath(nameFor(copy));
        const QByteArray name = QFile::encodeName(made.path);
        // None of these replaces a file or a link already at the name, nor follows it.
        if (temporary.isEmpty()) {
            error = storage::LinkUnnamed(fd, name);
            continue;
        }
        error = calls.link(temporary.constData(), name.constData()) == 0 ? 0 : errno;
        if (error == 0 || error == EEXIST)
            continue;
        error = calls.renameNoReplace(temporary.constData(), name.constData()) == 0 ? 0 : errno;
        if (error == 0)
            temporary.clear(); // the record itself now
        else if (NoSuchRename(error)) {
            noPlacing = true;
            break;
        }
    }
    dropTemporary();
    if (noPlacing) {
        ::close(fd);
        fd = -1;
        for (int copy = 1; copy <= kMaxCopies; ++copy) {
            made.path = into.filePath(nameFor(copy));
            fd = ::open(QFile::encodeName(made.path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        kNewFileMode);
            error = fd >= 0 ? 0 : errno;
            if (error != EEXIST)
                break;
        }
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
            if (const int written = WriteAndSync(fd, kHeaderRow); written != 0) {
                ::unlink(QFile::encodeName(made.path).constData()); // ours, made a moment ago
                return failed(fd, QStringLiteral("cannot write to %1").arg(made.path), written);
            }
        }
    }
    if (error == EEXIST)
        return failed(fd, QStringLiteral("every name up to %1 is taken").arg(made.path), EEXIST);
    if (error != 0)
        return failed(fd, QStringLiteral("cannot create %1").arg(made.path), error);
    SyncFolder(folder);
    made.fd = fd;
    return made;
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
    const auto cannot = [&path](const QString& why) {
        return report::Fail(QStringLiteral("no run record can be created in %1 (%2)").arg(path, why));
    };
    const long long free = storage::CurrentSaveCalls().freeBytes(QFile::encodeName(path).constData());
    if (free < 0)
        return cannot(report::SystemErrorText(errno));
    if (free < kLeastFreeBytes)
        return cannot(QStringLiteral("less than 1 MiB free: %1 bytes").arg(free));
    // Made as a record is made, under a name of its own, and gone again.
    const Made made = MakeRecord(path, [](int copy) {
        return QStringLiteral(".tavrin-record-check-%1-%2.csv").arg(::getpid()).arg(copy);
    });
    if (made.fd < 0)
        return cannot(report::SystemErrorText(made.error));
    ::unlink(QFile::encodeName(made.path).constData());
    ::close(made.fd);
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

QString RunRecordFile::StoppedStatus() const {
    return QStringLiteral(QT_TRANSLATE_NOOP("Status", "記録を中止しました"));
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
    channels_ = run.channels;
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
    const Made made =
        MakeRecord(folder, [&run](int copy) { return RunRecordName(run.baseName, run.started, copy); });
    path_ = made.path;
    if (made.fd < 0)
        return Stop(made.what, made.error);
    fd_ = made.fd;
    size_ = (long long)kHeaderRow.size();
    created_ = true;
    return {};
}

report::Done RunRecordFile::Take(const acquisition::DecodedSample& sample) {
    if (fd_ < 0)
        return {};
    row_.clear();
    AppendRow(row_, sample, channels_);
    if (auto written = Write(row_); !written)
        return written;
    ++rows_;
    return {};
}

report::Done RunRecordFile::Write(const std::string& bytes) {
    if (const int error = storage::WriteAll(fd_, bytes.data(), bytes.size()); error != 0) {
        // A torn last row would read as a wrong sample: the file ends after the last whole one.
        if (::ftruncate(fd_, off_t(size_)) != 0) {
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
