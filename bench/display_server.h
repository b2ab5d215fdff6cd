// A private X server (Xvfb) on a display of its own, so that the whole-program figures are measured
// with the real window painting to a real display server, as on a desktop, not off-screen.
#pragma once

#include "bench/child_process.h"

#include <memory>
#include <string>

namespace bench {

class DisplayServer {
public:
    // Starts Xvfb in `scratchFolder`. Throws std::runtime_error when it is not installed or does not
    // come up.
    explicit DisplayServer(const std::string& scratchFolder);

    // ":N", for DISPLAY.
    const std::string& Display() const { return display_; }

private:
    std::unique_ptr<ChildProcess> server_;
    std::string display_;
};

} // namespace bench
