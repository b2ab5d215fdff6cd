// Names of the files saved under a base name: the pair saved at a sweep end, base name + number +
// extension, and the run records, base name + "-YYYYMMDD-HHMMSS" (+ "-N") + ".csv".
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace output {

inline constexpr QStringView kChartExtension = u".bmp";
inline constexpr QStringView kLogExtension = u".txt";
inline constexpr QStringView kRunRecordExtension = u".csv";

// The base name is used exactly as typed: a relative name resolves against the
// current directory when the file is opened, and a directory part in it is kept.
QString SweepFileName(const QString& baseName, quint16 fileIndex, QStringView extension);

enum class SavedFile { Chart, Log, RunRecord };

// Which file the logger saves under `prefix` (a base name's file part) is named `name`, if any:
// the prefix, a file index as the logger writes it (0 to 65535, no leading zeros), ".bmp" or
// ".txt"; or the prefix, "-YYYYMMDD-HHMMSS", optionally "-N" with N from 2 without leading zeros,
// ".csv". Case matters.
std::optional<SavedFile> SavedFileKind(QStringView name, QStringView prefix);

// A base name split into the folder its files go to and their names' prefix.
struct BaseNameParts {
    QString directoryPart; // as typed, with its trailing '/', or empty
    QString prefix;        // the file part
    QString folder;        // directoryPart resolved against the current directory
};
BaseNameParts SplitBaseName(const QString& baseName, const QString& currentDir);

} // namespace output
