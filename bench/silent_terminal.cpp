#include "bench/silent_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <thread>
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

bool SilentTerminal::AwaitRequest(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{controller_, POLLIN, 0};
        const int ready = poll(&p, 1, int(left.count()));
        if (ready > 0 && (p.revents & POLLIN))
            return true;
        // Until the logger has opened the port, the controller may report a hang-up: look again soon.
        if (ready > 0 || (ready < 0 && errno == EINTR))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        else if (ready < 0)
            return false;
    }
}

SilentTerminal::~SilentTerminal() {
    close(controller_);
}

} // namespace bench
