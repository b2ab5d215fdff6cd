// FileDelite: removes the sweep files the logger saved under a base name, the
// chart files first, then the logs. The run records of the base name stay: each
// is the only whole copy of a run. No shell is involved: the base name is matched
// literally, so blanks, quotes or wildcard characters in it neither run anything
// nor widen the match. Files go to the user's trash, so a mistaken click can be
// undone; only a file no trash can take is deleted.
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
    QStringList deleted;  // removed, as named from the current directory, e.g. "out/tavrin0.bmp"
    QStringList trashed;  // those of deleted that went to the trash
    QStringList failed;
};

// Removes the regular files in the base name's directory (currentDir when it has
// none) that the logger saves under the base name's file part (SavedFileKind in
// output/sweep_file_name.h), run records aside. Charts go first, then logs.
// Sub-folders and links are left alone. A base name with no file part is refused.
DeleteOutcome DeleteSweepFiles(const QString& baseName, const QString& currentDir);

} // namespace output
