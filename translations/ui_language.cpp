#include "translations/ui_language.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QTranslator>

namespace translations {

std::optional<Language> ParseLanguage(QStringView code) {
    if (code == u"ja")
        return Language::Japanese;
    if (code == u"en")
        return Language::English;
    return std::nullopt;
}

Language ChooseLanguage(const QStringList& uiLanguages, std::optional<Language> choice) {
    if (choice)
        return *choice;
    bool anyLanguage = false;
    for (const QString& name : uiLanguages) {
        // "ja", "ja-JP", "ja_JP.UTF-8"; the C and POSIX locales name no language.
        const QString language =
            name.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (language.isEmpty() || language == u"c" || language == u"posix")
            continue;
        if (language == u"ja")
            return Language::Japanese;
        if (language == u"en")
            return Language::English;
        anyLanguage = true;
    }
    return anyLanguage ? Language::English : Language::Japanese;
}

namespace {

const QString kTranslatorName = QStringLiteral("tavrin-translator");

// The run shows the same few status texts sample after sample: each is looked up once a language.
QHash<QString, QString>& KnownStatusTexts() {
    static QHash<QString, QString> texts;
    return texts;
}

bool Install(QCoreApplication& app, const QString& file, const QString& folder = QString()) {
    auto* translator = new QTranslator(&app);
    translator->setObjectName(kTranslatorName);
    if (translator->load(file, folder) && QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

} // namespace

namespace {
Language& Installed() {
    static Language language = Language::Japanese;
    return language;
}
} // namespace

Language InstalledLanguage() {
    return Installed();
}

report::Done InstallTranslators(QCoreApplication& app, Language language) {
    // A second call replaces the translators of the first.
    KnownStatusTexts().clear();
    Installed() = Language::Japanese;
    for (QTranslator* earlier : app.findChildren<QTranslator*>(kTranslatorName, Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(earlier);
        delete earlier;
    }
    if (language == Language::Japanese) {
        // The program's texts are Japanese already; Qt's own dialogs need theirs.
        Install(app, QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        return {};
    }
    // Qt's own dialogs are English without a translation.
    if (!Install(app, kEnglishTranslation))
        return report::Fail(
            QStringLiteral("The English translation (%1) could not be loaded; the window stays Japanese.")
                .arg(kEnglishTranslation));
    Installed() = Language::English;
    return {};
}

QString StatusText(const QString& text) {
    auto& known = KnownStatusTexts();
    auto found = known.constFind(text);
    if (found != known.cend())
        return *found;
    if (known.size() > 64)
        known.clear();
    return *known.insert(text, QCoreApplication::translate("Status", text.toUtf8().constData()));
}

} // namespace translations
