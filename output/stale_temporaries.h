// The temporaries that saves under a base name leave behind when the logger is
// killed in the middle of one: "<sweep file>.tmp-XXXXXX" beside a chart or log
// (storage::ReplaceFile) and "<run record>.tmp-XXXXXX" beside a run record made
// where the file system has no unnamed files. Called at start-up and at each
// START, with the base name of the moment.
#pragma once

#include <QString>
#include <QStringList>

namespace output {

// Removes, in the base name's directory (currentDir when it has none), the temporaries of the
// files the logger saves under the base name's file part (SavedFileKind), and nothing else: not
// a link, not a user's "tavrin0.bmp.backup", and not a temporary a save in progress still holds,
// in this logger or another. Returns those removed, as named from the current directory.
QStringList RemoveStaleTemporaries(const QString& baseName, const QString& currentDir);

} // namespace output
