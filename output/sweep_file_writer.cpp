#include "output/sweep_file_writer.h"

#include <QBuffer>
#include <QSaveFile>

namespace output {
namespace {

// QSaveFile keeps the data under a temporary name until commit(). A short write
// (file size limit, full disk) is not an error to QIODevice, so keep writing
// until the system names the failure.
std::optional<QString> WriteAtomically(const QString& fileName, const QByteArray& bytes) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return reason;
        }
        written += count;
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

std::optional<WriteError> Written(const QString& fileName, const QString& fileKind, const QByteArray& bytes) {
    if (auto reason = WriteAtomically(fileName, bytes)) {
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
