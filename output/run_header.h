// The three lines that begin every log: when the run (or sweep) began, the
// sampling time as shown on the window, and the name its log will be saved as.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace output {

// samplingTimeText is the text of Edit2, baseName the text of Edit3, both used
// exactly as typed.
QStringList RunHeaderLines(const QDateTime& now, const QLocale& locale, const QString& samplingTimeText,
                           const QString& baseName, quint16 fileIndex);

} // namespace output
