// The logger started as a program of its own, for the figures that are about the
// whole process: its start-up time and its CPU use while it idles or samples.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class ChildProcess {
public:
    // Starts `program` with `arguments` in this process's environment and, unless empty, in
    // `workingFolder`; its standard output and error go to `outputFile`. Throws
    // std::runtime_error when it cannot start.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 std::string outputFile, const std::string& workingFolder = {});
    // Kills the process if it still runs, and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // False once it has ended; reaps it then.
    bool Running();
    // Its exit status, or -signal number when a signal ended it; empty while it still
    // runs after `limit`. Sleeps in poll() on a process descriptor until it ends.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);
    void Kill();
    // The most memory it held at once (resident set, in KiB), once it has ended and been reaped.
    std::optional<long> PeakRssKib() const { return peakRssKib_; }
    // The last `maxBytes` of what it wrote, to explain a failure.
    std::string OutputTail(std::size_t maxBytes = 2000) const;

private:
    // Reaps it (waiting when `block`); true once it has been.
    bool Reap(bool block);

    pid_t pid_ = -1;
    int pidFd_ = -1;
    std::optional<int> exitStatus_;
    std::optional<long> peakRssKib_;
    std::string outputFile_;
};

} // namespace bench
