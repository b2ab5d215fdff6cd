// Finds the Japanese texts of the program's sources that have no English
// translation yet: for the test that guards the English window, and for the
// untranslated-texts tool that lists them after a merge brought new ones.
#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace translations {

struct SourceText {
    QString file; // relative to the source folder
    int line;
    QString text;
};

// The string literals of one C++ source: comments and character literals
// skipped, adjacent literals joined as the compiler joins them.
QList<SourceText> StringLiterals(const QString& file, const QString& code);

// The string literals with Japanese in them in the program's own sources under
// sourceDir; the tests', the benchmarks' and build folders are left out.
QList<SourceText> JapaneseSourceTexts(const QString& sourceDir);

struct CatalogEntry {
    QString context;
    QString translation;
    bool finished; // neither unfinished nor vanished
};

// The messages of a .ts file, by source text.
QMultiHash<QString, CatalogEntry> ReadCatalog(const QString& tsPath);

// Japanese texts in the sources that no user reads, with the reason.
const QHash<QString, QString>& TextsNotTranslated();

// The Japanese texts of the sources under sourceDir without a finished English
// translation in its translations/tavrin_en.ts that the built-in translation
// also gives. Empty when every one is translated.
QList<SourceText> UntranslatedTexts(const QString& sourceDir);

} // namespace translations
