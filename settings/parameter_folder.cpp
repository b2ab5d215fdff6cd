#include "settings/parameter_folder.h"

#include "settings/parameter_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace settings {

QString ChooseParameterFolder(const QString& exeDir, const QString& configDir) {
    const QFileInfo folder(exeDir);
    // Root may write /usr/bin, yet a program installed there is shared by every user.
    const QString canonical = folder.canonicalFilePath();
    const bool installed =
        canonical.startsWith(QStringLiteral("/usr/")) || canonical == QStringLiteral("/usr") ||
        canonical.startsWith(QStringLiteral("/opt/")) || canonical == QStringLiteral("/opt");
    if (!installed && folder.isDir() && folder.isWritable())
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
