// Writing the chart picture and the log of a sweep, each through storage::ReplaceFile: a failed
// write never leaves a half-written file under the final name nor harms an older one, and a
// link standing at the name is replaced rather than written through.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace output {

struct WriteError {
    QString fileName;
    QString reason;
    QString fileKind = QStringLiteral("file"); // "chart file", "log file"

    // e.g. "Cannot write the chart file tavrin0.bmp: No such file or directory"
    QString Message() const;
};

// The whole picture as a 24-bit BMP.
std::optional<WriteError> WriteChartFile(const QString& fileName, const QImage& picture);

// fileBytes are the finished file contents (Shift-JIS text, CR LF line ends).
std::optional<WriteError> WriteLogFile(const QString& fileName, const QByteArray& fileBytes);

} // namespace output
