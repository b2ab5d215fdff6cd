#include "output/sweep_file_deletion.h"

#include "output/sweep_file_name.h"
#include "report/failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <unistd.h>

namespace output {
namespace {

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
    // The run records are not sweep files: the only whole copy of a run, they stay.
    for (const SavedFile group : {SavedFile::Chart, SavedFile::Log}) {
        for (const QString& name : names) {
            if (SavedFileKind(name, parts.prefix) != group)
                continue;
            const QString shown = parts.directoryPart + name;
            QFile file(directory.filePath(name));
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
    outcome.message = messages.join(QStringLiteral("  "));
    return outcome;
}

} // namespace output
