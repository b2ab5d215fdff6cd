#include "output/sweep_file_writer.h"

#include "storage/replace_file.h"

#include <QBuffer>

namespace output {
namespace {

// "Cannot write the chart file tavrin0.bmp: No such file or directory"
report::Failure CannotWrite(const QString& fileKind, const QString& fileName, const QString& reason) {
    return report::Fail(QStringLiteral("Cannot write the %1 %2: %3").arg(fileKind, fileName, reason));
}

report::Done Written(const QString& fileName, const QString& fileKind, const QByteArray& bytes) {
    // A sweep file is a new output: a link planted at its name is replaced, never written through.
    if (auto replaced = storage::ReplaceFile(fileName, bytes, storage::LinkHandling::ReplaceLink); !replaced)
        return CannotWrite(fileKind, fileName, replaced.Reason());
    return {};
}

} // namespace

report::Done WriteChartFile(const QString& fileName, const QImage& picture) {
    const QString kind = QStringLiteral("chart file");
    if (picture.isNull())
        return CannotWrite(kind, fileName, QStringLiteral("the chart picture is empty"));
    // 32-bit pixels make the BMP writer store 24-bit colour, which every viewer reads.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP"))
        return CannotWrite(kind, fileName, QStringLiteral("the picture cannot be encoded as BMP"));
    return Written(fileName, kind, bytes);
}

report::Done WriteLogFile(const QString& fileName, const QByteArray& fileBytes) {
    return Written(fileName, QStringLiteral("log file"), fileBytes);
}

} // namespace output
