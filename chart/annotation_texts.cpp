#include "chart/annotation_texts.h"

#include <QRegularExpression>

namespace chart {

QString TimeStampText(const QDateTime& now, const QLocale& locale) {
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    const QTime time = now.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return date;
    return date + QLatin1Char(' ') + locale.toString(time, LongTimeFormat(locale));
}

QString LongTimeFormat(const QLocale& locale) {
    // Drop the zone field ("t", "tt", ...) and the blank or bracket that joins it to the time.
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*[(（]?t+[)）]?\\s*")));
    return format.trimmed();
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
