// How the program ends after an unattended run: the exit status for the way
// the run ended, and the reasons on standard error.
#pragma once

#include "acquisition/session.h"

namespace app {

// Says on standard error why the run did not end normally, and what did not reach the sinks, and
// gives the exit status that tells it.
int EndOfUnattendedRun(const acquisition::Session& session);

} // namespace app
