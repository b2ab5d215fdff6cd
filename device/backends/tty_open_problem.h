// What to tell the user when a serial port cannot be opened.
#pragma once

#include <string>

namespace device {

// A plain-words explanation of why `path` could not be opened (errorNumber is the
// errno of the failed open), with what to do about it where there is something
// to do. A permission problem names the group that owns the port.
std::string TtyOpenProblem(const std::string& path, int errorNumber);

// The same when the port opened but is no terminal (a plain file, say).
std::string NotATerminalProblem(const std::string& path);

} // namespace device
