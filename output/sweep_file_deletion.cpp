#include "output/sweep_file_deletion.h"

#include "output/sweep_file_name.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace output {
namespace {

constexpr QStringView kRunRecordExtension = u".csv";

bool AllDigits(QStringView text) {
    if (text.isEmpty())
        return false;
    for (const QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return false;
    }
    return true;
}

// "-YYYYMMDD-HHMMSS" or "-YYYYMMDD-HHMMSS-N", N a number from 2 without leading zeros.
bool IsRunRecordStamp(QStringView stamp) {
    constexpr qsizetype kStampLength = 16;
    if (stamp.size() < kStampLength || stamp[0] != u'-' || stamp[9] != u'-' || !AllDigits(stamp.mid(1, 8)) ||
        !AllDigits(stamp.mid(10, 6)))
        return false;
    if (stamp.size() == kStampLength)
        return true;
    const QStringView number = stamp.mid(kStampLength + 1);
    return stamp[kStampLength] == u'-' && AllDigits(number) && number[0] != u'0' &&
           (number.size() > 1 || number[0] >= u'2');
}

// 0 charts, 1 logs, 2 run records; -1 for names that are not ours.
int SavedFileGroup(QStringView name, QStringView prefix) {
    if (!name.startsWith(prefix))
        return -1;
    const QStringView rest = name.mid(prefix.size());
    for (const auto& [group, extension] : {std::pair{0, kChartExtension}, std::pair{1, kLogExtension}}) {
        if (rest.endsWith(extension) && AllDigits(rest.chopped(extension.size())))
            return group;
    }
    if (rest.endsWith(kRunRecordExtension) && IsRunRecordStamp(rest.chopped(kRunRecordExtension.size())))
        return 2;
    return -1;
}

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
    const bool trashReady = HomeTrashReady();
    for (int group = 0; group < 3; ++group) {
        for (const QString& name : names) {
            if (SavedFileGroup(name, prefix) != group)
                continue;
            QFile file(directory.filePath(name));
            if (trashReady && file.moveToTrash()) {
                outcome.trashed << directoryPart + name;
                outcome.deleted << directoryPart + name;
            } else if (file.remove()) {
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
