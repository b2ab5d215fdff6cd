#include "output/run_header.h"

#include "chart/annotation_texts.h"

namespace output {

QStringList RunHeaderLines(const QDateTime& now, const QLocale& locale, const QString& samplingTimeText,
                           const QString& baseName, quint16 fileIndex) {
    return {
        chart::TimeStampText(now, locale),
        QStringLiteral("SamplingTime = ") + samplingTimeText + QStringLiteral("* 0.1S"),
        QStringLiteral("FileName = ") + baseName + QString::number(fileIndex),
    };
}

} // namespace output
