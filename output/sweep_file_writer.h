// Writing the chart picture and the log of a sweep, each through storage::ReplaceFile: a failed
// write never leaves a half-written file under the final name nor harms an older one, and a
// link standing at the name is replaced rather than written through.
#pragma once

#include "report/failure.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace output {

// The whole picture as a 24-bit BMP.
report::Done WriteChartFile(const QString& fileName, const QImage& picture);

// fileBytes are the finished file contents (Shift-JIS text, CR LF line ends).
report::Done WriteLogFile(const QString& fileName, const QByteArray& fileBytes);

} // namespace output
