// The unit emulator on a pseudo-terminal, the logger's real serial path without the hardware.
#pragma once

#include "bench/child_process.h"

#include <memory>
#include <string>

namespace bench {

class EmulatedUnit {
public:
    // Starts `emulator` in `scratchFolder`. Throws std::runtime_error when it does not come up.
    EmulatedUnit(const std::string& emulator, const std::string& scratchFolder);

    // The terminal the logger opens (--device tty:PATH).
    const std::string& PortPath() const { return path_; }

private:
    std::unique_ptr<ChildProcess> emulator_;
    std::string path_;
};

} // namespace bench
