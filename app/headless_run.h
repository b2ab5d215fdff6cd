// --headless: the same session as the window's, with no window at all. No
// QApplication and no widget is made: a QCoreApplication, or a QGuiApplication
// on the off-screen platform when the run draws sweep pictures (auto-save or
// auto-print). Problems and the end go to standard error.
#pragma once

#include "app/command_line.h"

namespace app {

// Runs once, on the settings of the parameter file and the command line, and gives the exit status.
int RunHeadless(int& argc, char** argv, const Options& options);

} // namespace app
