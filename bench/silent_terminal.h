// A pseudo-terminal that stands in for a unit which never answers: the logger opens
// its far end as a serial port, and nothing is ever written back.
#pragma once

#include <chrono>
#include <string>

namespace bench {

class SilentTerminal {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    SilentTerminal();
    ~SilentTerminal();
    SilentTerminal(const SilentTerminal&) = delete;
    SilentTerminal& operator=(const SilentTerminal&) = delete;

    // The port to open, as in --device tty:PATH.
    const std::string& PortPath() const { return portPath_; }
    // Waits at most `limit` for the first bytes the logger writes to the port (its first request);
    // false when none came.
    bool AwaitRequest(std::chrono::milliseconds limit) const;

private:
    int controller_ = -1; // kept open: a closed controller would end the port
    std::string portPath_;
};

} // namespace bench
