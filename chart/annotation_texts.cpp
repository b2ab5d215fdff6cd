#include "chart/annotation_texts.h"

namespace chart {

namespace {

bool IsQuote(QChar c) {
    return c == u'\'';
}

// Whether literal text that names a unit stands between the hour field and the minute field, as in
// "H時mm分", "h시 m분" or "HH 'h' mm". Separators such as ":" or "." name nothing.
bool SpellsUnitsOut(const QString& format) {
    bool quoted = false;
    bool afterHour = false;
    for (const QChar c : format) {
        if (IsQuote(c)) {
            quoted = !quoted;
            continue;
        }
        if (!quoted && (c == u'h' || c == u'H')) {
            afterHour = true;
            continue;
        }
        if (!quoted && c == u'm')
            return false;
        if (afterHour && c.isLetter())
            return true;
    }
    return false;
}

} // namespace

QString ShortDateFormat(const QLocale& locale) {
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    QString result;
    result.reserve(format.size() + 2);
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (IsQuote(c))
            quoted = !quoted;
        if (quoted || c != u'y') {
            result += c;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == u'y')
            ++run;
        result += QString(run == 2 ? 4 : run, u'y');
        i += run - 1;
    }
    return result;
}

QString TimeStampText(const QDateTime& now, const QLocale& locale) {
    const QString date = locale.toString(now.date(), ShortDateFormat(locale));
    const QTime time = now.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return date;
    return date + QLatin1Char(' ') + locale.toString(time, LongTimeFormat(locale));
}

QString LongTimeFormat(const QLocale& locale) {
    // Drop the zone field ("t", "tt", ...) with the blank, comma or brackets that join it to the time.
    // Quoted text is literal, so a "t" inside quotes stays. A plain scan: this runs at every sample.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    auto isOpening = [](QChar c) { return c == u'(' || c == u'（' || c == u'['; };
    auto isClosing = [](QChar c) { return c == u')' || c == u'）' || c == u']'; };
    auto chopBlanks = [](QString& text) {
        while (!text.isEmpty() && text.back().isSpace())
            text.chop(1);
    };
    QString result;
    result.reserve(format.size());
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            result += c;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't')
            ++i;
        if (!result.isEmpty() && isOpening(result.back()))
            result.chop(1);
        chopBlanks(result);
        if (!result.isEmpty() && (result.back() == u',' || result.back() == u'，')) {
            result.chop(1);
            chopBlanks(result);
        }
        if (i + 1 < format.size() && isClosing(format[i + 1]))
            ++i;
        while (i + 1 < format.size() && format[i + 1].isSpace())
            ++i;
    }
    result = result.trimmed();
    if (SpellsUnitsOut(result))
        return QStringLiteral("H:mm:ss");
    return result;
}

QString TimeOfDayText(const QDateTime& now, const QLocale& locale) {
    return locale.toString(now.time(), LongTimeFormat(locale));
}

QString SamplingTimeText(const QString& samplingTime) {
    return QStringLiteral("SamplingTime = ") + samplingTime + QStringLiteral("×0.1S");
}

QString FileNameText(const QString& baseName, quint16 fileIndex) {
    return QStringLiteral("FileName = ") + baseName + QString::number(uint(fileIndex));
}

} // namespace chart
