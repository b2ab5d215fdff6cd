// The clock box's text.
#pragma once

#include <QDateTime>
#include <QFontMetrics>
#include <QLocale>
#include <QString>

// The time of day in the locale's long time format (chart::TimeOfDayText). Where that is wider than
// the box can show (a 12-hour clock with its AM/PM, the hours-minutes-seconds form with kanji), the
// 24-hour "H:mm:ss", which fits, so the seconds are never cut off.
QString ClockText(const QDateTime& now, const QLocale& locale, const QFontMetrics& metrics, int textWidth);
