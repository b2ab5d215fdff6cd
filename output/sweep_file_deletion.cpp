#include "output/sweep_file_deletion.h"

#include "output/sweep_file_name.h"
#include "report/failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace output {
namespace {

// a run record being written was left in place
constexpr char kRecordKeptMessage[] = QT_TRANSLATE_NOOP("Status", "記録中のため削除しません: %1");

// Makes sure the user's own trash folder is there. Without it QFile::moveToTrash does not fail
// but moves the file into a "files" folder under the current directory, so a file is only
// handed to it once the folder exists.
bool HomeTrashReady() {
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome))
        return false;
    const QString trash = QDir(dataHome).filePath(QStringLiteral("Trash"));
    if (!QFileInfo(trash).isDir())
        QDir(dataHome).mkdir(QStringLiteral("Trash"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return QFileInfo(trash).isDir();
}

// Open on the record while it is looked at; -1 when a logger holds its lock, that is, still
// writes it. A record that cannot be opened to look is handled as any other file.
class RecordCheck {
public:
    explicit RecordCheck(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            beingWritten_ = true;
    }
    ~RecordCheck() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RecordCheck(const RecordCheck&) = delete;
    RecordCheck& operator=(const RecordCheck&) = delete;
    bool BeingWritten() const { return beingWritten_; }

private:
    int fd_;
    bool beingWritten_ = false;
};

} // namespace

DeleteOutcome DeleteSweepFiles(const QString& baseName, const QString& currentDir) {
    DeleteOutcome outcome;
    const BaseNameParts parts = SplitBaseName(baseName, currentDir);
    if (parts.prefix.isEmpty()) {
        outcome.refused = true;
        outcome.message = kEmptyBaseNameMessage.toString();
        return outcome;
    }

    const QDir directory(parts.folder);
    const QStringList names = directory.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    const bool trashReady = HomeTrashReady();
    QStringList messages;
    for (const SavedFile group : {SavedFile::Chart, SavedFile::Log, SavedFile::RunRecord}) {
        for (const QString& name : names) {
            if (SavedFileKind(name, parts.prefix) != group)
                continue;
            const QString shown = parts.directoryPart + name;
            QFile file(directory.filePath(name));
            // Held until the record is gone, so that the look and the removal see the same file.
            std::optional<RecordCheck> check;
            if (group == SavedFile::RunRecord && check.emplace(file.fileName()).BeingWritten()) {
                outcome.kept << shown;
                continue;
            }
            if (trashReady && file.moveToTrash()) {
                outcome.trashed << shown;
                outcome.deleted << shown;
            } else if (::unlink(QFile::encodeName(file.fileName()).constData()) == 0) {
                outcome.deleted << shown;
            } else {
                const int error = errno;
                if (outcome.failed.isEmpty())
                    messages << QCoreApplication::translate("Status", "削除できません: %1 (%2)")
                                    .arg(shown, report::SystemErrorText(error));
                outcome.failed << shown;
            }
        }
    }
    if (!outcome.kept.isEmpty())
        messages << QCoreApplication::translate("Status", kRecordKeptMessage)
                        .arg(outcome.kept.join(QStringLiteral(", ")));
    outcome.message = messages.join(QStringLiteral("  "));
    return outcome;
}

} // namespace output
