#include "app/clock_text.h"

#include "chart/annotation_texts.h"

QString ClockText(const QDateTime& now, const QLocale& locale, const QFontMetrics& metrics, int textWidth) {
    QString text = chart::TimeOfDayText(now, locale);
    if (metrics.horizontalAdvance(text) > textWidth)
        text = now.time().toString(QStringLiteral("H:mm:ss"));
    return text;
}
