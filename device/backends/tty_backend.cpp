#include "device/backends/tty_backend.h"

#include "device/backends/tty_open_problem.h"
#include "device/unit_registry.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace device {

namespace {

constexpr std::size_t kMaxSerial = kSerialNumberSize - 1;
// The description of a unit that made itself known through the unit registry.
constexpr const char* kEmulatedUnit = "unit emulator";
// How long a write may wait for room in a full output queue before it gives up
// and reports what it wrote, as the D2XX write time-out does.
constexpr int kWriteWaitMs = 100;
// Where the terminal cannot be told how many bytes the wait awaits, the wait looks again this often.
constexpr int kUncountedPollMs = 4;

// Values of FT_SetDataCharacteristics that the unit's protocol never uses but a
// serial port offers.
constexpr UCHAR kBits7 = 7;
constexpr UCHAR kStopBits2 = 2;
constexpr UCHAR kParitySpace = 4;

std::optional<speed_t> SpeedFor(ULONG baud) {
    static constexpr std::array<std::pair<ULONG, speed_t>, 23> kSpeeds{{
        {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
        {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
        {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
        {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
        {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    }};
    for (const auto& [rate, speed] : kSpeeds)
        if (rate == baud)
            return speed;
    return std::nullopt;
}

// A port the kernel has hung up (unplugged, or the other end of a pseudo-terminal
// closed) polls as hung up or in error.
bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Reads or writes with `io` until `count` bytes have moved or the descriptor takes or has
// no more for now; returns the error that stopped it, or 0.
template <typename Io> int Move(Io io, DWORD count, DWORD& moved) {
    while (moved < count) {
        const ssize_t n = io();
        if (n > 0)
            moved += DWORD(n);
        else if (n == 0 || errno == EAGAIN)
            return 0;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

bool MeansGone(int errorNumber) {
    return errorNumber == EIO || errorNumber == ENXIO || errorNumber == ENODEV || errorNumber == EBADF;
}

// Asks the FTDI driver to hand over bytes at once instead of after its 16 ms
// latency timer. Ports that are no FTDI chip (a pseudo-terminal) refuse; that is fine.
void AskForLowLatency(int fd) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
}

// An open terminal. Given up (closed) after an error that means it went away; it
// then fails every call with FT_IO_ERROR, and says why it went.
class TtyPort : public Port {
public:
    TtyPort(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    TtyPort(const TtyPort&) = delete;
    TtyPort& operator=(const TtyPort&) = delete;
    ~TtyPort() override { Close(); }

    FT_STATUS Usable() const override { return fd_ < 0 ? FT_IO_ERROR : FT_OK; }
    std::string Gone() const override;
    void Close() override {
        if (fd_ < 0)
            return;
        // Exclusive use belongs to the terminal, not to this descriptor: a terminal
        // that outlives us (a pseudo-terminal held open by the unit emulator) would
        // otherwise refuse the next program.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }

    FT_STATUS SetBaudRate(ULONG baud) override;
    FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) override;
    FT_STATUS SetRts(bool high) override {
        // A pseudo-terminal has no modem lines and refuses with ENOTTY; the caller
        // ignores the result, so the pulse simply does not happen there.
        int bits = TIOCM_RTS;
        return ::ioctl(fd_, high ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? FT_OK : Failed(errno);
    }
    FT_STATUS Purge(ULONG mask) override {
        const bool rx = (mask & FT_PURGE_RX) != 0;
        const bool tx = (mask & FT_PURGE_TX) != 0;
        if (!rx && !tx)
            return FT_OK;
        return ::tcflush(fd_, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0 ? FT_OK : Failed(errno);
    }
    FT_STATUS Write(const void* bytes, DWORD count, DWORD& written) override;
    FT_STATUS Queued(QueueCounts& counts) override;
    FT_STATUS Read(void* bytes, DWORD count, DWORD& got) override;
    DataWakeup Wakeup(DWORD awaitedBytes) override;

private:
    // Gives the port up when the error means it went away.
    FT_STATUS Failed(int errorNumber) {
        if (MeansGone(errorNumber)) {
            goneReason_ = path_ + " has gone away (" + std::strerror(errorNumber) + ")";
            Close();
        }
        return FT_IO_ERROR;
    }
    // Changes the terminal's settings as `change` says.
    template <typename Change> FT_STATUS Reset(Change change) {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0)
            return Failed(errno);
        change(tio);
        return ::tcsetattr(fd_, TCSANOW, &tio) == 0 ? FT_OK : Failed(errno);
    }

    int fd_;
    std::string path_;
    std::string goneReason_;
    cc_t minimumRead_ = 0; // as the open sets it
};

std::string TtyPort::Gone() const {
    if (fd_ < 0)
        return goneReason_.empty() ? std::string(kNoUnitOpen) : goneReason_;
    if (HungUp(fd_))
        return path_ + " has gone away (hung up)";
    struct stat now {};
    struct stat opened {};
    if (::stat(path_.c_str(), &now) != 0)
        return path_ + " is not there any more";
    if (::fstat(fd_, &opened) != 0 || now.st_rdev != opened.st_rdev)
        return path_ + " now leads to another terminal";
    return {};
}

FT_STATUS TtyPort::SetBaudRate(ULONG baud) {
    const auto speed = SpeedFor(baud);
    if (!speed)
        return FT_INVALID_PARAMETER;
    return Reset([&](termios& tio) {
        ::cfsetispeed(&tio, *speed);
        ::cfsetospeed(&tio, *speed);
    });
}

FT_STATUS TtyPort::SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    if ((wordLength != FT_BITS_8 && wordLength != kBits7) ||
        (stopBits != FT_STOP_BITS_1 && stopBits != kStopBits2) || parity > kParitySpace)
        return FT_INVALID_PARAMETER;
    // By D2XX parity: none, odd, even, mark, space.
    static constexpr tcflag_t kParityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                                PARENB | CMSPAR};
    return Reset([&](termios& tio) {
        tio.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
        tio.c_cflag |= (wordLength == FT_BITS_8 ? CS8 : CS7) | kParityFlags[parity];
        if (stopBits == kStopBits2)
            tio.c_cflag |= CSTOPB;
    });
}

FT_STATUS TtyPort::Write(const void* bytes, DWORD count, DWORD& written) {
    const auto* data = static_cast<const char*>(bytes);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteWaitMs);
    written = 0;
    while (true) {
        if (const int error =
                Move([&] { return ::write(fd_, data + written, count - written); }, count, written))
            return Failed(error);
        if (written == count)
            return FT_OK;
        // The output queue is full: wait for room, but not for ever.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
            return FT_OK;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return Failed(EIO);
    }
}

FT_STATUS TtyPort::Queued(QueueCounts& counts) {
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0)
        return Failed(errno);
    if (queued == 0 && HungUp(fd_))
        return Failed(EIO);
    counts.rx = DWORD(std::max(queued, 0));
    int outgoing = 0;
    if (::ioctl(fd_, TIOCOUTQ, &outgoing) == 0)
        counts.tx = DWORD(std::max(outgoing, 0));
    return FT_OK;
}

FT_STATUS TtyPort::Read(void* bytes, DWORD count, DWORD& got) {
    auto* data = static_cast<char*>(bytes);
    got = 0;
    // Takes what is queued, up to `count`: a raw port with no minimum count reads 0 when nothing is.
    if (const int error = Move([&] { return ::read(fd_, data + got, count - got); }, count, got)) {
        // Bytes already taken are handed over; the failure shows at the next call.
        const FT_STATUS status = Failed(error);
        return got == 0 ? status : FT_OK;
    }
    // A port that was hung up reads 0 as well, for ever, so tell the two apart.
    if (got == 0 && count > 0 && HungUp(fd_))
        return Failed(EIO);
    return FT_OK;
}

DataWakeup TtyPort::Wakeup(DWORD awaitedBytes) {
    // A terminal's minimum read count also decides when poll() finds it readable (reads never wait
    // here: the descriptor is non-blocking). Set to the awaited count, the descriptor stays quiet while
    // part of a reply is queued and wakes the wait once the rest has come.
    const auto wanted = cc_t(std::clamp<DWORD>(awaitedBytes, 1, 255));
    if (minimumRead_ != wanted) {
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0)
            return {-1, kUncountedPollMs};
        tio.c_cc[VMIN] = wanted;
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
            return {-1, kUncountedPollMs};
        minimumRead_ = wanted;
    }
    return {fd_, -1};
}

} // namespace

TtyBackend::TtyBackend(std::string sysfsRoot, std::string devRoot, std::string registryFolder)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)),
      registryFolder_(std::move(registryFolder)) {}

std::unique_ptr<TtyBackend> TtyBackend::ForPort(const std::string& path) {
    auto backend = std::make_unique<TtyBackend>();
    backend->fixedPort_ = FtdiTty{SerialForPath(path), path, path, {}, {}};
    return backend;
}

std::string TtyBackend::SerialForPath(const std::string& path) {
    return path.size() <= kMaxSerial ? path : path.substr(path.size() - kMaxSerial);
}

std::vector<FtdiTty> TtyBackend::Ports() const {
    if (fixedPort_)
        return {*fixedPort_};
    std::vector<FtdiTty> ports = ListFtdiTtys(sysfsRoot_, devRoot_);
    for (const RegisteredUnit& unit :
         RegisteredUnits(registryFolder_.empty() ? UnitRegistryFolder() : registryFolder_)) {
        const auto slash = unit.devicePath.rfind('/');
        ports.push_back(
            {unit.serialNumber, unit.devicePath.substr(slash + 1), unit.devicePath, kEmulatedUnit, {}});
    }
    return ports;
}

FT_STATUS TtyBackend::List(DWORD index, std::string& serialNumber) {
    const std::vector<FtdiTty> ports = Ports();
    if (fixedPort_) {
        struct stat info {};
        if (::stat(fixedPort_->devicePath.c_str(), &info) != 0) {
            problem_ = TtyOpenProblem(fixedPort_->devicePath, errno);
            return FT_DEVICE_NOT_FOUND;
        }
    } else if (ports.empty()) {
        problem_ = "No FTDI serial port found in " + sysfsRoot_ + "/class/tty: is the unit plugged in?";
        return FT_DEVICE_NOT_FOUND;
    }
    if (index >= ports.size())
        return FT_DEVICE_NOT_FOUND;
    serialNumber = ports[index].serialNumber;
    problem_.clear();
    return FT_OK;
}

FT_STATUS TtyBackend::Open(const std::string& serialNumber, std::unique_ptr<Port>& opened) {
    const std::vector<FtdiTty> ports = Ports();
    const auto port = std::find_if(ports.begin(), ports.end(),
                                   [&](const FtdiTty& p) { return p.serialNumber == serialNumber; });
    if (port == ports.end()) {
        problem_ = "No serial port with serial number " + serialNumber;
        return FT_DEVICE_NOT_FOUND;
    }
    const std::string& path = port->devicePath;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        problem_ = TtyOpenProblem(path, error);
        return error == ENOENT ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
    }
    auto open = std::make_unique<TtyPort>(fd, path);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        problem_ = NotATerminalProblem(path);
        return FT_DEVICE_NOT_OPENED;
    }
    // One unit, one logger. The exclusive-use flag keeps a second program from
    // opening the unit and taking its replies, but does not stop root; the lock
    // does, for every program that asks for it (another Tavrin among them).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        problem_ = TtyOpenProblem(path, errno == EWOULDBLOCK ? EBUSY : errno);
        return FT_DEVICE_NOT_OPENED;
    }
    ::ioctl(fd, TIOCEXCL);
    // Raw bytes at 38400 8N1, no modem control, reads that never wait (the
    // exchange waits by polling the queue count, not inside a read).
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B38400);
    ::cfsetospeed(&tio, B38400);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        problem_ = TtyOpenProblem(path, errno);
        return FT_DEVICE_NOT_OPENED;
    }
    AskForLowLatency(fd);
    opened = std::move(open);
    problem_.clear();
    return FT_OK;
}

std::vector<UnitListing> TtyBackend::Units() {
    std::vector<UnitListing> units;
    for (const FtdiTty& port : Ports()) {
        UnitListing unit{"tty", port.serialNumber, port.description, port.devicePath, true, {}};
        if (!port.usbPlace.empty())
            unit.place += " (USB " + port.usbPlace + ")";
        if (::access(port.devicePath.c_str(), R_OK | W_OK) != 0) {
            unit.mayOpen = false;
            unit.whyNot = TtyOpenProblem(port.devicePath, errno);
        }
        units.push_back(std::move(unit));
    }
    return units;
}

} // namespace device
