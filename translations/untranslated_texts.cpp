#include "translations/untranslated_texts.h"

#include "translations/ui_language.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTranslator>
#include <QXmlStreamReader>
#include <algorithm>

namespace translations {

namespace {

// Kana, kanji, Japanese punctuation and full-width forms; not the ideographic
// space alone, which English headings use too.
bool IsJapanese(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x3001 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) ||
           (u >= 0xFF01 && u <= 0xFFEF);
}

// Reads an ordinary literal whose opening quote is at i; leaves i on its closing quote.
QString ReadLiteral(const QString& code, qsizetype& i) {
    QString text;
    for (++i; i < code.size() && code[i] != u'"'; ++i) {
        if (code[i] != u'\\' || i + 1 == code.size()) {
            text += code[i];
            continue;
        }
        const QChar e = code[++i];
        if (e == u'n')
            text += u'\n';
        else if (e == u't')
            text += u'\t';
        else if (e == u'"' || e == u'\\' || e == u'\'')
            text += e;
        else
            text += QString(u'\\') + e;
    }
    return text;
}

} // namespace

QList<SourceText> StringLiterals(const QString& file, const QString& code) {
    QList<SourceText> found;
    qsizetype lastEnd = -1;
    int line = 1;
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = code[i];
        const QChar next = i + 1 < n ? code[i + 1] : QChar();
        if (c == u'\n') {
            ++line;
        } else if (c == u'/' && next == u'/') {
            while (i + 1 < n && code[i + 1] != u'\n')
                ++i;
        } else if (c == u'/' && next == u'*') {
            const qsizetype end = code.indexOf(QStringLiteral("*/"), i + 2);
            const qsizetype stop = end < 0 ? n : end + 1;
            line += int(QStringView(code).mid(i, stop - i).count(u'\n'));
            i = stop;
        } else if (c == u'\'' && !(i > 0 && code[i - 1].isDigit())) { // not a digit separator
            for (++i; i < n && code[i] != u'\''; ++i)
                i += code[i] == u'\\' ? 1 : 0;
        } else if (c == u'"') {
            qsizetype start = i;
            while (start > 0 && QStringLiteral("uUL8R").contains(code[start - 1]))
                --start;
            const qsizetype quote = i;
            QString text;
            if (i > 0 && code[i - 1] == u'R') {
                // R"delimiter(...)delimiter"
                const qsizetype open = code.indexOf(u'(', i);
                const QString close = u')' + code.mid(i + 1, open - i - 1) + u'"';
                const qsizetype end = open < 0 ? -1 : code.indexOf(close, open);
                if (end < 0)
                    break;
                text = code.mid(open + 1, end - open - 1);
                i = end + close.size() - 1;
            } else {
                text = ReadLiteral(code, i);
            }
            if (lastEnd >= 0 && !found.isEmpty() &&
                QStringView(code).mid(lastEnd, start - lastEnd).trimmed().isEmpty())
                found.last().text += text;
            else
                found.append({file, line, text});
            line += int(QStringView(code).mid(quote, i - quote).count(u'\n'));
            lastEnd = i + 1;
        }
    }
    return found;
}

QList<SourceText> JapaneseSourceTexts(const QString& sourceDir) {
    QList<SourceText> japanese;
    const QDir root(sourceDir);
    QDirIterator it(sourceDir, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = root.relativeFilePath(it.next());
        const QString top = relative.section(u'/', 0, 0);
        if (top == u"tests" || top == u"bench" || top.startsWith(u"build") || top.startsWith(u'.'))
            continue;
        QFile f(root.filePath(relative));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const SourceText& literal : StringLiterals(relative, QString::fromUtf8(f.readAll())))
            if (std::any_of(literal.text.begin(), literal.text.end(), IsJapanese))
                japanese.append(literal);
    }
    return japanese;
}

QMultiHash<QString, CatalogEntry> ReadCatalog(const QString& tsPath) {
    QMultiHash<QString, CatalogEntry> catalog;
    QFile f(tsPath);
    if (!f.open(QIODevice::ReadOnly))
        return catalog;
    QXmlStreamReader xml(&f);
    QString context, source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            const bool finished = xml.attributes().value(QStringLiteral("type")).isEmpty();
            catalog.insert(source, {context, xml.readElementText(), finished});
        }
    }
    return catalog;
}

const QHash<QString, QString>& TextsNotTranslated() {
    static const QHash<QString, QString> texts = {
        {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("the window font's family name, never shown")},
        {QStringLiteral("IPA Pゴシック"), QStringLiteral("a substitute font's family name, never shown")},
    };
    return texts;
}

QList<SourceText> UntranslatedTexts(const QString& sourceDir) {
    const auto catalog = ReadCatalog(QDir(sourceDir).filePath(QStringLiteral("translations/tavrin_en.ts")));
    QTranslator builtIn;
    const bool builtInLoaded = builtIn.load(kEnglishTranslation); // without it nothing is translated
    QList<SourceText> missing;
    for (const SourceText& literal : JapaneseSourceTexts(sourceDir)) {
        if (TextsNotTranslated().contains(literal.text))
            continue;
        const QByteArray source = literal.text.toUtf8();
        const auto entries = catalog.values(literal.text);
        const bool translated = std::any_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) {
            return builtInLoaded && e.finished && !e.translation.isEmpty() &&
                   builtIn.translate(e.context.toUtf8().constData(), source.constData()) == e.translation;
        });
        if (!translated)
            missing.append(literal);
    }
    return missing;
}

} // namespace translations
