#include "settings/parameter_folder.h"

#include "settings/parameter_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace settings {

QString ChooseParameterFolder(const QString& exeDir, const QString& configDir) {
    const QFileInfo folder(exeDir);
    if (QFileInfo::exists(QDir(exeDir).filePath(QString::fromLatin1(kParameterFileName))) ||
        (folder.isDir() && folder.isWritable()))
        return exeDir;
    // A folder that cannot be made shows up later, when the file cannot be created in it.
    QDir().mkpath(configDir);
    return configDir;
}

QString DefaultParameterFilePath() {
    const QString folder =
        ChooseParameterFolder(QCoreApplication::applicationDirPath(),
                              QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    return QDir(folder).filePath(QString::fromLatin1(kParameterFileName));
}

} // namespace settings
