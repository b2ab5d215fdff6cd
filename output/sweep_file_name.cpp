#include "output/sweep_file_name.h"

#include <QDir>

namespace output {
namespace {

constexpr int kMaxFileIndex = 65535;

bool AllDigits(QStringView text) {
    if (text.isEmpty())
        return false;
    for (const QChar ch : text) {
        if (ch < u'0' || ch > u'9')
            return false;
    }
    return true;
}

// As QString::number writes a 16-bit index: "0", "7", "65535"; never "00" nor "65536".
bool IsFileIndex(QStringView text) {
    return AllDigits(text) && text.size() <= 5 && (text.size() == 1 || text[0] != u'0') &&
           text.toInt() <= kMaxFileIndex;
}

// "-YYYYMMDD-HHMMSS" or "-YYYYMMDD-HHMMSS-N", N a number from 2 without leading zeros.
bool IsRunRecordStamp(QStringView stamp) {
    constexpr qsizetype kStampLength = 16;
    if (stamp.size() < kStampLength || stamp[0] != u'-' || stamp[9] != u'-' || !AllDigits(stamp.mid(1, 8)) ||
        !AllDigits(stamp.mid(10, 6)))
        return false;
    if (stamp.size() == kStampLength)
        return true;
    const QStringView number = stamp.mid(kStampLength + 1);
    return stamp[kStampLength] == u'-' && AllDigits(number) && number[0] != u'0' &&
           (number.size() > 1 || number[0] >= u'2');
}

} // namespace

QString SweepFileName(const QString& baseName, quint16 fileIndex, QStringView extension) {
    return baseName + QString::number(fileIndex) + extension.toString();
}

std::optional<SavedFile> SavedFileKind(QStringView name, QStringView prefix) {
    if (!name.startsWith(prefix))
        return std::nullopt;
    const QStringView rest = name.mid(prefix.size());
    if (rest.endsWith(kChartExtension) && IsFileIndex(rest.chopped(kChartExtension.size())))
        return SavedFile::Chart;
    if (rest.endsWith(kLogExtension) && IsFileIndex(rest.chopped(kLogExtension.size())))
        return SavedFile::Log;
    if (rest.endsWith(kRunRecordExtension) && IsRunRecordStamp(rest.chopped(kRunRecordExtension.size())))
        return SavedFile::RunRecord;
    return std::nullopt;
}

BaseNameParts SplitBaseName(const QString& baseName, const QString& currentDir) {
    const qsizetype split = baseName.lastIndexOf(u'/') + 1;
    BaseNameParts parts{baseName.left(split), baseName.mid(split), QString()};
    parts.folder =
        QDir(currentDir).filePath(parts.directoryPart.isEmpty() ? QStringLiteral(".") : parts.directoryPart);
    return parts;
}

} // namespace output
