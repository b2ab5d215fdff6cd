#include "app/run_end.h"

#include "app/command_line.h"
#include "report/reporter.h"

namespace app {

int EndOfUnattendedRun(const acquisition::Session& session) {
    const acquisition::RunOutcome& outcome = session.LastOutcome();
    int status = kExitNormal;
    switch (outcome.end) {
    case acquisition::RunEnd::Normal:
        break;
    case acquisition::RunEnd::TimedOut:
        report::WriteStandardError(outcome.module, outcome.reason);
        status = kExitTimedOut;
        break;
    case acquisition::RunEnd::UnitLost:
        report::WriteStandardError(outcome.module,
                                   outcome.reason + QStringLiteral("; --reconnect waits for it to come back"));
        status = kExitRunError;
        break;
    case acquisition::RunEnd::Error:
        report::WriteStandardError(outcome.module, outcome.reason);
        status = kExitRunError;
        break;
    }
    const auto shortfalls = session.Shortfalls();
    for (const auto& [module, text] : shortfalls)
        report::WriteStandardError(module, text);
    if (status == kExitNormal && !shortfalls.empty())
        status = kExitDataShort;
    return status;
}

} // namespace app
