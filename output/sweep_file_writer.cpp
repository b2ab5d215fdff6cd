#include "output/sweep_file_writer.h"

#include "storage/replace_file.h"

#include <QBuffer>

namespace output {
namespace {

std::optional<WriteError> Written(const QString& fileName, const QString& fileKind, const QByteArray& bytes) {
    // A sweep file is a new output: a link planted at its name is replaced, never written through.
    if (auto reason = storage::ReplaceFile(fileName, bytes, storage::LinkHandling::ReplaceLink)) {
        return WriteError{fileName, *reason, fileKind};
    }
    return std::nullopt;
}

} // namespace

QString WriteError::Message() const {
    return QStringLiteral("Cannot write the %1 %2: %3").arg(fileKind, fileName, reason);
}

std::optional<WriteError> WriteChartFile(const QString& fileName, const QImage& picture) {
    const QString kind = QStringLiteral("chart file");
    if (picture.isNull()) {
        return WriteError{fileName, QStringLiteral("the chart picture is empty"), kind};
    }
    // 32-bit pixels make the BMP writer store 24-bit colour, which every viewer reads.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP")) {
        return WriteError{fileName, QStringLiteral("the picture cannot be encoded as BMP"), kind};
    }
    return Written(fileName, kind, bytes);
}

std::optional<WriteError> WriteLogFile(const QString& fileName, const QByteArray& fileBytes) {
    return Written(fileName, QStringLiteral("log file"), fileBytes);
}

} // namespace output
