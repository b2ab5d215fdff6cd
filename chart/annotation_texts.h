// The three annotations written along the top edge of the chart.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace chart {

// The date in the locale's short format, a blank and the time in its long format; in the first second
// after midnight the date alone.
QString TimeStampText(const QDateTime& now, const QLocale& locale);

// The locale's short date format with a two-digit year widened to four digits, so that a saved sweep
// never leaves the century to guess.
QString ShortDateFormat(const QLocale& locale);

// The locale's long time format without its time-zone part: the clock box and the stamps show the
// wall-clock time of day only. Where the format spells the units out after the numbers (Japanese
// "H時mm分ss秒", Korean, Thai...), the text would not fit the 68-pixel clock box, so "H:mm:ss" takes its
// place, the form those desktops show by default.
QString LongTimeFormat(const QLocale& locale);

// The time of day alone in the long time format, for the clock box.
QString TimeOfDayText(const QDateTime& now, const QLocale& locale);

// "SamplingTime = " + the sampling-time box's text + "×0.1S".
QString SamplingTimeText(const QString& samplingTime);

// "FileName = " + the base name + the file index as an unsigned decimal.
QString FileNameText(const QString& baseName, quint16 fileIndex);

} // namespace chart
