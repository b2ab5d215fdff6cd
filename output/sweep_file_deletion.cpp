#include "output/sweep_file_deletion.h"

#include "output/sweep_file_name.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace output {

DeleteOutcome DeleteSweepFiles(const QString& baseName, const QString& currentDir) {
    DeleteOutcome outcome;
    const qsizetype split = baseName.lastIndexOf(u'/') + 1;
    const QString directoryPart = baseName.left(split);
    const QString prefix = baseName.mid(split);
    if (prefix.isEmpty()) {
        outcome.refused = true;
        outcome.message = kEmptyBaseNameMessage.toString();
        return outcome;
    }

    const QDir directory(
        QDir(currentDir).filePath(directoryPart.isEmpty() ? QStringLiteral(".") : directoryPart));
    const QStringList names = directory.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    for (const QStringView extension : {kChartExtension, kLogExtension}) {
        for (const QString& name : names) {
            // base name, anything (maybe nothing), extension
            if (name.size() < prefix.size() + extension.size() || !name.startsWith(prefix) ||
                !name.endsWith(extension)) {
                continue;
            }
            QFile file(directory.filePath(name));
            if (file.remove()) {
                outcome.deleted << directoryPart + name;
            } else {
                outcome.failed << directoryPart + name;
                if (outcome.message.isEmpty()) {
                    outcome.message = QCoreApplication::translate("Status", "削除できません: %1 (%2)")
                                          .arg(directoryPart + name, file.errorString());
                }
            }
        }
    }
    return outcome;
}

} // namespace output
