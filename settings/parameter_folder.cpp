#include "settings/parameter_folder.h"

#include "settings/parameter_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace settings {

namespace {

constexpr char kFolderName[] = "tavrin";

// Root may write /usr/bin, yet a program installed there is shared by every user.
bool IsPortable(const QString& exeDir) {
    const QFileInfo folder(exeDir);
    const QString canonical = folder.canonicalFilePath();
    const bool installed =
        canonical.startsWith(QStringLiteral("/usr/")) || canonical == QStringLiteral("/usr") ||
        canonical.startsWith(QStringLiteral("/opt/")) || canonical == QStringLiteral("/opt");
    return !installed && folder.isDir() && folder.isWritable();
}

// The home folder the password database gives the user, or empty.
QString PasswordDatabaseHome() {
    std::vector<char> buffer(16384);
    passwd entry = {};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr)
        return {};
    return QFile::decodeName(found->pw_dir);
}

} // namespace

report::Result<QString> UserConfigFolder() {
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(configHome))
        return QDir::cleanPath(configHome + QLatin1Char('/') + QLatin1String(kFolderName));
    QString home = qEnvironmentVariable("HOME");
    if (!QDir::isAbsolutePath(home))
        home = PasswordDatabaseHome();
    if (!QDir::isAbsolutePath(home))
        return report::Fail(
            QStringLiteral("no home folder: HOME is not set to a folder, and the user has none in "
                           "the password database"));
    return QDir::cleanPath(home + QStringLiteral("/.config/") + QLatin1String(kFolderName));
}

QString ChooseParameterFolder(const QString& exeDir, const QString& configDir) {
    if (IsPortable(exeDir))
        return exeDir;
    // A folder that cannot be made shows up later, with its cause, when the file cannot be created in it.
    QDir().mkpath(configDir);
    return configDir;
}

report::Result<QString> DefaultParameterFolder() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (IsPortable(exeDir))
        return exeDir;
    const report::Result<QString> config = UserConfigFolder();
    if (!config)
        return config;
    return ChooseParameterFolder(exeDir, *config);
}

QString DefaultParameterFilePath() {
    const report::Result<QString> folder = DefaultParameterFolder();
    return folder ? QDir(*folder).filePath(QString::fromLatin1(kParameterFileName)) : QString();
}

QString ParameterFileInUse() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    const report::Result<QString> folder =
        IsPortable(exeDir) ? report::Result<QString>(exeDir) : UserConfigFolder();
    if (!folder)
        return QStringLiteral("none (%1)").arg(folder.Reason());
    return QDir(*folder).filePath(QString::fromLatin1(kParameterFileName));
}

} // namespace settings
