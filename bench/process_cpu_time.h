// CPU time of a process, user and system together, for CPU-over-wall-time figures.
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

} // namespace bench
