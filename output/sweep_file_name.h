// Names of the pair of files saved at a sweep end: base name + number + extension.
#pragma once

#include <QString>
#include <QStringView>

namespace output {

inline constexpr QStringView kChartExtension = u".bmp";
inline constexpr QStringView kLogExtension = u".txt";

// The base name is used exactly as typed: a relative name resolves against the
// current directory when the file is opened, and a directory part in it is kept.
QString SweepFileName(const QString& baseName, quint16 fileIndex, QStringView extension);

} // namespace output
