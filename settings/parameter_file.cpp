#include "settings/parameter_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace settings {
namespace {

// The rename is only durable once the folder's entry reaches the disk as well.
void SyncFolder(const QString& folder) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

} // namespace

ParameterFile::ParameterFile(QString path) : path_(std::move(path)) {}

QString ParameterFile::Path() const {
    return path_;
}

QString ParameterFile::LastError() const {
    return lastError_;
}

LoadResult ParameterFile::Load(const ParamRecord& recordToCreate) {
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly)) {
        lastError_.clear();
        // A read that fails part-way counts as the end of the file: the rest reads as missing.
        return {LoadOutcome::Read, RecordFromFileContents(file.read(kRecordSize))};
    }
    const QString readError = file.errorString();
    if (Save(recordToCreate))
        return {LoadOutcome::Created, recordToCreate};
    lastError_ = QStringLiteral("Cannot read %1 (%2) nor create it (%3)")
                     .arg(QDir::toNativeSeparators(path_), readError, lastError_);
    return {LoadOutcome::Unavailable, recordToCreate};
}

bool ParameterFile::Save(const ParamRecord& record) {
    QSaveFile file(path_);
    const auto fail = [&](const QString& what) {
        lastError_ =
            QStringLiteral("Cannot %1 %2: %3").arg(what, QDir::toNativeSeparators(path_), file.errorString());
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("open"));
    if (file.write(reinterpret_cast<const char*>(record.data()), kRecordSize) != kRecordSize) {
        file.cancelWriting();
        return fail(QStringLiteral("write"));
    }
    if (!file.commit())
        return fail(QStringLiteral("replace"));
    SyncFolder(QFileInfo(path_).absolutePath());
    lastError_.clear();
    return true;
}

} // namespace settings
