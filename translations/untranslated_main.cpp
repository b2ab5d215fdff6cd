// untranslated-texts [SOURCE_DIR]: lists the Japanese texts of the sources
// that have no English translation yet, as file:line: "text". Exit status 1
// when there are any. Mark each (tr(), or QT_TRANSLATE_NOOP("Status", ...)),
// build the update_translations target and translate it in tavrin_en.ts.
#include "translations/untranslated_texts.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString sourceDir = arguments.size() > 1 ? arguments[1] : QStringLiteral(TAVRIN_SOURCE_DIR);
    if (!QDir(sourceDir).exists(QStringLiteral("translations/tavrin_en.ts"))) {
        std::fprintf(stderr, "untranslated-texts: %s holds no translations/tavrin_en.ts\n",
                     qPrintable(sourceDir));
        return 2;
    }
    const auto missing = translations::UntranslatedTexts(sourceDir);
    for (const auto& text : missing)
        std::printf("%s:%d: \"%s\"\n", qPrintable(text.file), text.line, qPrintable(text.text));
    if (missing.isEmpty())
        std::printf("untranslated-texts: every Japanese text has its English translation\n");
    return missing.isEmpty() ? 0 : 1;
}
