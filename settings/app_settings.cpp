#include "settings/app_settings.h"

#include "storage/replace_file.h"

#include <QDir>
#include <QFile>

namespace settings {

namespace {

const QByteArray kReconnect = "reconnect";
const QByteArray kLanguage = "language";
const QByteArray kTrendSpan = "trend-span";

} // namespace

AppSettings ParseAppSettings(const QByteArray& text) {
    AppSettings settings;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype eq = line.indexOf('=');
        const QByteArray key = line.left(eq).trimmed();
        const QString value = QString::fromUtf8(eq < 0 ? QByteArray() : line.mid(eq + 1).trimmed());
        if (eq > 0 && key == kReconnect && (value == u"on" || value == u"off"))
            settings.reconnect = value == u"on";
        else if (eq > 0 && key == kLanguage && (value == u"ja" || value == u"en" || value.isEmpty()))
            settings.language = value;
        else if (eq > 0 && key == kTrendSpan)
            settings.trendSpan = value;
        else
            settings.otherLines << QString::fromUtf8(line);
    }
    return settings;
}

QByteArray AppSettingsText(const AppSettings& settings) {
    QByteArray text = "# Tavrin's settings beside the parameter file ombu01.par\n";
    text += kReconnect + '=' + (settings.reconnect ? "on" : "off") + '\n';
    text += kLanguage + '=' + settings.language.toUtf8() + '\n';
    if (!settings.trendSpan.isEmpty())
        text += kTrendSpan + '=' + settings.trendSpan.toUtf8() + '\n';
    for (const QString& line : settings.otherLines)
        if (!line.startsWith(u'#'))
            text += line.toUtf8() + '\n';
    return text;
}

AppSettingsLoad LoadAppSettings(const QString& folder) {
    AppSettingsLoad load;
    QFile file(QDir(folder).filePath(kAppSettingsFileName));
    if (!file.exists())
        return load;
    if (!file.open(QIODevice::ReadOnly)) {
        load.problem = QStringLiteral("The settings file %1 cannot be read (%2); the defaults are used.")
                           .arg(file.fileName(), file.errorString());
        return load;
    }
    // A settings file is a few lines; anything far larger is not one.
    load.settings = ParseAppSettings(file.read(64 * 1024));
    return load;
}

report::Done SaveAppSettings(const QString& folder, const AppSettings& settings) {
    if (!QDir().mkpath(folder))
        return report::Fail(QStringLiteral("The settings folder %1 cannot be made.").arg(folder));
    return storage::ReplaceFile(QDir(folder).filePath(kAppSettingsFileName), AppSettingsText(settings),
                                storage::LinkHandling::ReplaceTarget);
}

} // namespace settings
