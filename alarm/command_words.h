// --on-limit's COMMAND split into a program and its arguments as a POSIX shell
// splits the words of a simple command, without running one:
//  - blanks (spaces, tabs, line ends) outside quotes separate words;
//  - '…' keeps everything between the single quotes as it is, a backslash included;
//  - "…" keeps everything between the double quotes as it is, except that a
//    backslash before $ ` " \ stands for that character, and a backslash before
//    a line end removes both;
//  - outside quotes a backslash stands for the character after it, and a
//    backslash before a line end removes both;
//  - quotes make a word even when empty: '' and "" are an empty argument;
//  - nothing else is special: $, `, *, ?, ~, #, |, ;, &, <, > are taken as
//    written; nothing is expanded, and there are no pipes or redirections.
// A quote that is never closed is refused.
#pragma once

#include "report/failure.h"

#include <QStringList>

namespace alarms {

report::Result<QStringList> SplitCommandWords(const QString& command);

} // namespace alarms
