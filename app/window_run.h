// The program with its window: the form, its run and, with --exit-after-run,
// the exit status of that run.
#pragma once

#include "app/command_line.h"

namespace app {

int RunWindow(int& argc, char** argv, const Options& options);

// --view: the trend window alone with the run records; the unit and the settings file are left alone.
int RunViewer(int& argc, char** argv, const Options& options);

} // namespace app
