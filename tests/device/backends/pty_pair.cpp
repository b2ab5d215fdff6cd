#include "pty_pair.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

int MsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<std::int64_t>(0, left.count()));
}

} // namespace

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        return;
    termios tio{};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname(master_) == nullptr ||
        ::tcgetattr(master_, &tio) != 0) {
        CloseMaster();
        return;
    }
    path_ = ::ptsname(master_);
    ::cfmakeraw(&tio);
    ::tcsetattr(master_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

QByteArray PtyPair::ReadMaster(int count, int timeoutMs) {
    QByteArray got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(deadline)) <= 0)
            break;
        char bytes[512];
        const ssize_t n =
            ::read(master_, bytes, std::min<std::size_t>(sizeof bytes, std::size_t(count - got.size())));
        if (n <= 0 && errno != EAGAIN && errno != EINTR)
            break;
        if (n > 0)
            got.append(bytes, n);
    }
    return got;
}

bool PtyPair::WriteMaster(const QByteArray& bytes) {
    return ::write(master_, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
}

DWORD WaitForQueued(device::CheckedD2xx& backend, FT_HANDLE handle, DWORD moreThan, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    DWORD rx = 0, tx = 0, events = 0;
    while (true) {
        if (backend.GetStatus(handle, &rx, &tx, &events) != FT_OK || rx > moreThan || MsLeft(deadline) == 0)
            return rx;
        const DataWakeup wakeup = backend.Wakeup(handle, moreThan + 1);
        pollfd p{wakeup.fd, POLLIN, 0};
        ::poll(&p, wakeup.fd >= 0 ? 1 : 0,
               std::min(MsLeft(deadline), wakeup.pollMs >= 0 ? wakeup.pollMs : 50));
    }
}
