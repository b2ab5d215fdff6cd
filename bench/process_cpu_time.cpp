#include "bench/process_cpu_time.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace bench {

namespace {

std::optional<std::chrono::nanoseconds> FromSchedstat(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator tasks(std::filesystem::path("/proc") / std::to_string(pid) / "task",
                                              error);
    if (error)
        return std::nullopt;
    long long total = 0;
    bool any = false;
    for (const auto& task : tasks) {
        std::ifstream schedstat(task.path() / "schedstat");
        long long runNs = 0;
        // A thread that ended between the listing and the read simply drops out.
        if (schedstat >> runNs) {
            total += runNs;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    return std::chrono::nanoseconds(total);
}

std::optional<std::chrono::nanoseconds> FromStat(pid_t pid) {
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    return CpuTimeFromStatLine(stat, sysconf(_SC_CLK_TCK));
}

} // namespace

std::optional<std::chrono::nanoseconds> CpuTimeFromStatLine(std::string_view stat, long ticksPerSecond) {
    // The fields start after the command name's last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos || ticksPerSecond <= 0)
        return std::nullopt;
    std::istringstream fields{std::string(stat.substr(close + 1))};
    std::string skipped;
    // Fields 3 to 13 (state ... cmajflt) come before utime and stime.
    for (int field = 3; field <= 13; ++field)
        if (!(fields >> skipped))
            return std::nullopt;
    unsigned long long userTicks = 0, systemTicks = 0;
    if (!(fields >> userTicks >> systemTicks))
        return std::nullopt;
    return std::chrono::nanoseconds(static_cast<long long>((userTicks + systemTicks) * 1'000'000'000ULL /
                                                           static_cast<unsigned long long>(ticksPerSecond)));
}

std::optional<std::chrono::nanoseconds> ProcessCpuTime(pid_t pid) {
    if (auto precise = FromSchedstat(pid))
        return precise;
    return FromStat(pid);
}

std::optional<ContextSwitches> ContextSwitchesFromStatus(std::string_view status) {
    std::optional<long long> voluntary, involuntary;
    std::istringstream lines{std::string(status)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string name;
        long long count = 0;
        if (!(fields >> name >> count))
            continue;
        if (name == "voluntary_ctxt_switches:")
            voluntary = count;
        else if (name == "nonvoluntary_ctxt_switches:")
            involuntary = count;
    }
    if (!voluntary || !involuntary)
        return std::nullopt;
    return ContextSwitches{*voluntary, *involuntary};
}

std::optional<ContextSwitches> ProcessContextSwitches(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator tasks(std::filesystem::path("/proc") / std::to_string(pid) / "task",
                                              error);
    if (error)
        return std::nullopt;
    ContextSwitches total;
    bool any = false;
    for (const auto& task : tasks) {
        std::ifstream file(task.path() / "status");
        const std::string status((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // A thread that ended between the listing and the read simply drops out.
        if (const auto counts = ContextSwitchesFromStatus(status)) {
            total.voluntary += counts->voluntary;
            total.involuntary += counts->involuntary;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    return total;
}

std::chrono::nanoseconds OwnCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace bench
