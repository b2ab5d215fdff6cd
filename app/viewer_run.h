// The program as a viewer of run records (--view): the trend window alone.
#pragma once

#include "app/command_line.h"

namespace app {

// --view: the trend window alone with the run records; the unit and the settings file are left alone.
// What cannot be read is said on standard error. SIGINT, SIGTERM and SIGHUP end it as closing it does,
// also while a record is being read or a file dialog is open.
int RunViewer(int& argc, char** argv, const Options& options);

} // namespace app
