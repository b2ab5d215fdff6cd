// The language of the window: Japanese, the language the captions and status
// texts are written in, or English from the translation built beside them.
// Saved files (sweep logs, charts, the parameter file) never depend on it.
#pragma once

#include "report/failure.h"

#include <QString>
#include <QStringList>
#include <optional>

class QCoreApplication;

namespace translations {

enum class Language { Japanese, English };

// The value of --lang: "ja" or "en"; anything else is no language.
std::optional<Language> ParseLanguage(QStringView code);

// English when the user's UI languages (most preferred first, e.g. "en-US")
// name no Japanese before English, and name some language at all; Japanese
// with a Japanese UI language or none (the C/POSIX locale). A --lang choice
// overrides.
Language ChooseLanguage(const QStringList& uiLanguages, std::optional<Language> choice = std::nullopt);

// Where the English translation of the program's own texts is kept.
inline const QString kEnglishTranslation = QStringLiteral(":/i18n/tavrin_en.qm");

// Installs the translators for the language: the program's own texts and Qt's
// own dialogs. Fails with an explanation when the program's own translation
// could not be loaded (the window then stays Japanese).
report::Done InstallTranslators(QCoreApplication& app, Language language);

// The language the window is in: that of the last InstallTranslators that worked (Japanese before any).
Language InstalledLanguage();

// A status-line text as the user reads it. The status texts are marked with
// QT_TRANSLATE_NOOP("Status", ...) where they are defined.
QString StatusText(const QString& text);

} // namespace translations
