#include "settings/parameter_file.h"

#include "report/failure.h"
#include "storage/file_kind.h"
#include "storage/replace_file.h"
#include "storage/temporary_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace settings {
namespace {

// Why a file cannot be made in a folder that does not exist: the first missing folder on its
// path, and why it could not be made where it would go.
QString MissingFolderCause(const QString& folder) {
    QString missing = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QString parent = QFileInfo(missing).path();
    while (!QFileInfo::exists(parent) && parent != missing) {
        missing = parent;
        parent = QFileInfo(missing).path();
    }
    const QString cause =
        QStringLiteral("the folder %1 does not exist").arg(QDir::toNativeSeparators(missing));
    const QByteArray parentName = QFile::encodeName(parent);
    if (!QFileInfo(parent).isDir())
        return QStringLiteral("%1, and %2 is not a folder").arg(cause, QDir::toNativeSeparators(parent));
    if (::faccessat(AT_FDCWD, parentName.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return QStringLiteral("%1, and it cannot be made in %2: %3")
            .arg(cause, QDir::toNativeSeparators(parent), report::SystemErrorText(errno));
    return cause;
}

const char* const kCannotRead = "Cannot read the settings file %1 in the folder %2: %3";
const char* const kLeftAlone = "Cannot read the settings file %1 in the folder %2: %3. It is left as it is, "
                               "and the default settings are used.";
const char* const kCannotCreate = "Cannot create the settings file %1 in the folder %2: %3";
const char* const kCannotSave =
    "Cannot save the settings file %1 in the folder %2: %3. The file is left as it was.";

} // namespace

ParameterFile::ParameterFile(QString path) : path_(std::move(path)) {}

QString ParameterFile::Path() const {
    return path_;
}

QString ParameterFile::LastError() const {
    return lastError_;
}

// message: one of the texts above, with %1 the file's name, %2 its folder and %3 the cause.
QString ParameterFile::Problem(const char* message, const QString& cause) const {
    const QFileInfo info(path_);
    return QString::fromUtf8(message).arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath()),
                                          cause);
}

void ParameterFile::RemoveStaleTemporaries() const {
    const QFileInfo info(path_);
    const QDir folder = info.absoluteDir();
    // Regular files only: a link or anything else of that name is not ours; nor is a temporary
    // that another logger's save still holds.
    const QStringList names = folder.entryList({info.fileName() + QStringLiteral(".tmp-*")},
                                               QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (storage::IsTemporaryOf(name, info.fileName()))
            storage::RemoveIfStale(QFile::encodeName(folder.filePath(name)));
    }
}

LoadResult ParameterFile::Load(const ParamRecord& recordToCreate) {
    RemoveStaleTemporaries();
    const QByteArray name = QFile::encodeName(path_);
    const auto leftAlone = [&](const QString& cause) {
        lastError_ = Problem(kLeftAlone, cause);
        return LoadResult{LoadOutcome::LeftAlone, recordToCreate};
    };

    // Look before opening: opening a FIFO for reading would wait for a writer.
    struct stat st = {};
    if (::stat(name.constData(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT) {
            lastError_ = Problem(kCannotRead, report::SystemErrorText(error));
            return {LoadOutcome::Unavailable, recordToCreate};
        }
        if (auto created = storage::ReplaceFile(
                path_, QByteArrayView(reinterpret_cast<const char*>(recordToCreate.data()), kRecordSize),
                storage::LinkHandling::ReplaceTarget);
            !created) {
            const QString folder = QFileInfo(path_).absolutePath();
            lastError_ =
                Problem(kCannotCreate, QFileInfo(folder).isDir() ? created.Reason() : MissingFolderCause(folder));
            return {LoadOutcome::Unavailable, recordToCreate};
        }
        lastError_.clear();
        return {LoadOutcome::Created, recordToCreate};
    }
    if (!S_ISREG(st.st_mode))
        return leftAlone(storage::NotRegularFileReason(st.st_mode, false));

    // Non-blocking in case something else has taken the name since the look.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return leftAlone(report::SystemErrorText(errno));
    QByteArray contents(kRecordSize, Qt::Uninitialized);
    qsizetype got = 0;
    int readError = 0;
    if (::fstat(fd, &st) != 0)
        readError = errno;
    else if (!S_ISREG(st.st_mode))
        readError = EINVAL;
    while (readError == 0 && got < kRecordSize) {
        const ssize_t count = ::read(fd, contents.data() + got, size_t(kRecordSize - got));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            readError = errno;
        if (count <= 0)
            break;
        got += count;
    }
    ::close(fd);
    if (readError != 0)
        return leftAlone(report::SystemErrorText(readError));
    contents.truncate(got);
    lastError_.clear();
    return {LoadOutcome::Read, RecordFromFileContents(contents)};
}

bool ParameterFile::Save(const ParamRecord& record) {
    // A link the user made to keep the file elsewhere keeps pointing where it points.
    if (auto saved = storage::ReplaceFile(path_,
                                          QByteArrayView(reinterpret_cast<const char*>(record.data()), kRecordSize),
                                          storage::LinkHandling::ReplaceTarget);
        !saved) {
        lastError_ = Problem(kCannotSave, saved.Reason());
        return false;
    }
    lastError_.clear();
    return true;
}

} // namespace settings
