#include "chart/annotation_texts.h"

namespace chart {

QString TimeStampText(const QDateTime& now, const QLocale& locale) {
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
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
    return result.trimmed();
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
