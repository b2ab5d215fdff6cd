#include "bench/silent_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace bench {

SilentTerminal::SilentTerminal() {
    controller_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (controller_ < 0)
        throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
    const char* name = nullptr;
    if (grantpt(controller_) != 0 || unlockpt(controller_) != 0 || (name = ptsname(controller_)) == nullptr) {
        const int error = errno;
        close(controller_);
        throw std::runtime_error(std::string("cannot set up the pseudo-terminal: ") + std::strerror(error));
    }
    portPath_ = name;
}

SilentTerminal::~SilentTerminal() {
    close(controller_);
}

} // namespace bench
