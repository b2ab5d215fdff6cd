// CPU time of a process, user and system together, for CPU-over-wall-time figures; and how often
// its threads stopped running, for wake-ups per sample.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>
#include <sys/types.h>

namespace bench {

// Every thread of process `pid`, from the scheduler's nanosecond accounting
// (/proc/PID/task/*/schedstat), or from /proc/PID/stat in clock ticks where that
// is missing. Empty when the process is gone.
std::optional<std::chrono::nanoseconds> ProcessCpuTime(pid_t pid);

// utime + stime of one /proc/PID/stat line, whose command name (in parentheses)
// may itself hold spaces and parentheses. Empty when the line is cut short.
std::optional<std::chrono::nanoseconds> CpuTimeFromStatLine(std::string_view stat, long ticksPerSecond);

// This process (CLOCK_PROCESS_CPUTIME_ID).
std::chrono::nanoseconds OwnCpuTime();

// How often threads stopped running: to wait (voluntary, each one a wake-up later) or because the
// scheduler put another task in their place (involuntary).
struct ContextSwitches {
    long long voluntary = 0;
    long long involuntary = 0;
    long long Total() const { return voluntary + involuntary; }
    ContextSwitches operator-(const ContextSwitches& earlier) const {
        return {voluntary - earlier.voluntary, involuntary - earlier.involuntary};
    }
};

// Every thread of process `pid` together (/proc/PID/task/*/status); empty when the process is gone.
// A thread that ends takes its own counts with it.
std::optional<ContextSwitches> ProcessContextSwitches(pid_t pid);

// The two counts of one /proc/.../status text; empty when either line is missing.
std::optional<ContextSwitches> ContextSwitchesFromStatus(std::string_view status);

} // namespace bench
