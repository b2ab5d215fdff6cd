// The one line that may stand at the foot of standard error on a terminal: the
// progress line of an unattended run, rewritten in place. Every report written
// to standard error first clears it and then draws it again below the report, so
// that a report never runs on from the end of the progress text.
#pragma once

#include <string_view>

namespace report {

// Puts `text` as the standing line on standard error, in place of the one standing.
void ShowStandingLine(std::string_view text);

// Ends the standing line with a line end: it stays on the screen as last shown, and
// nothing stands any more.
void EndStandingLine();

} // namespace report
