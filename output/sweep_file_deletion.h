// FileDelite: removes the saved sweep files of a base name, the chart files
// first, then the logs. No shell is involved: the base name is matched
// literally, so blanks, quotes or wildcard characters in it neither run
// anything nor widen the match.
#pragma once

#include <QString>
#include <QStringList>

namespace output {

// Status texts, translated where the status line shows them.
inline constexpr QStringView kEmptyBaseNameMessage =
    u"" QT_TRANSLATE_NOOP("Status", "ファイル名が空です: 削除しません");

struct DeleteOutcome {
    bool refused = false; // the base name would have matched every sweep file
    QString message;      // for the status line; empty when all went well
    QStringList deleted;  // as named from the current directory, e.g. "out/tavrin0.bmp"
    QStringList failed;
};

// Deletes the regular files in the base name's directory (currentDir when it
// has none) whose names begin with the base name's file part and end in
// ".bmp", then ".txt". Matching is case-sensitive; sub-folders are left alone.
// A base name with no file part is refused: it would take every such file.
DeleteOutcome DeleteSweepFiles(const QString& baseName, const QString& currentDir);

} // namespace output
