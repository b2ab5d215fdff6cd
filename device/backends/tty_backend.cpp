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

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
constexpr std::size_t kMaxSerial = 63;
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
constexpr UCHAR kParityOdd = 1;
constexpr UCHAR kParityEven = 2;
constexpr UCHAR kParityMark = 3;
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

} // namespace

class TtyBackend::OpenPort {
public:
    OpenPort(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;
    ~OpenPort() { Close(); }

    int Fd() const { return fd_; }
    cc_t MinimumRead() const { return minimumRead_; }
    void SetMinimumRead(cc_t count) { minimumRead_ = count; }
    const std::string& Path() const { return path_; }
    bool Gone() const { return fd_ < 0; }
    // Why it was given up, when it was.
    const std::string& GoneReason() const { return goneReason_; }
    void SetGoneReason(std::string reason) { goneReason_ = std::move(reason); }

    // Gives the port up. The handle stays known, so later calls on it keep failing
    // with FT_IO_ERROR instead of looking like calls on a handle never opened.
    void Close() {
        if (fd_ < 0)
            return;
        // Exclusive use belongs to the terminal, not to this descriptor: a terminal
        // that outlives us (a pseudo-terminal held open by the unit emulator) would
        // otherwise refuse the next program.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    std::string path_;
    std::string goneReason_;
    cc_t minimumRead_ = 0; // as OpenEx sets it
};

TtyBackend::TtyBackend(std::string sysfsRoot, std::string devRoot, std::string registryFolder)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)),
      registryFolder_(std::move(registryFolder)) {}

std::unique_ptr<TtyBackend> TtyBackend::ForPort(const std::string& path) {
    auto backend = std::make_unique<TtyBackend>();
    backend->fixedPort_ = FtdiTty{SerialForPath(path), path, path, {}, {}};
    return backend;
}

TtyBackend::~TtyBackend() = default;

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

FT_STATUS TtyBackend::ListDevices(DWORD index, char* serialNumber, DWORD flags) {
    if (flags != kListFlags || serialNumber == nullptr)
        return FT_INVALID_PARAMETER;
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
    const std::string& serial = ports[index].serialNumber;
    std::memcpy(serialNumber, serial.c_str(), serial.size() + 1);
    problem_.clear();
    return FT_OK;
}

FT_STATUS TtyBackend::OpenEx(const char* serialNumber, DWORD flags, FT_HANDLE* handle) {
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || serialNumber == nullptr || handle == nullptr)
        return FT_INVALID_PARAMETER;
    const std::vector<FtdiTty> ports = Ports();
    const auto port = std::find_if(ports.begin(), ports.end(),
                                   [&](const FtdiTty& p) { return p.serialNumber == serialNumber; });
    if (port == ports.end()) {
        problem_ = std::string("No serial port with serial number ") + serialNumber;
        return FT_DEVICE_NOT_FOUND;
    }
    const std::string& path = port->devicePath;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        problem_ = TtyOpenProblem(path, error);
        return error == ENOENT ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
    }
    auto open = std::make_unique<OpenPort>(fd, path);
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
    *handle = open_.Add(std::move(open));
    problem_.clear();
    return FT_OK;
}

TtyBackend::OpenPort* TtyBackend::Live(FT_HANDLE handle, FT_STATUS& status) const {
    OpenPort* port = open_.Find(handle);
    if (port == nullptr)
        status = FT_INVALID_HANDLE;
    else if (port->Gone())
        status = FT_IO_ERROR;
    else
        return port;
    return nullptr;
}

FT_STATUS TtyBackend::Failed(OpenPort& port, int errorNumber) {
    if (MeansGone(errorNumber)) {
        problem_ = port.Path() + " has gone away (" + std::strerror(errorNumber) + ")";
        port.SetGoneReason(problem_);
        port.Close();
    }
    return FT_IO_ERROR;
}

FT_STATUS TtyBackend::SetBaudRate(FT_HANDLE handle, ULONG baud) {
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return status;
    const auto speed = SpeedFor(baud);
    if (!speed)
        return FT_INVALID_PARAMETER;
    termios tio{};
    if (::tcgetattr(port->Fd(), &tio) != 0)
        return Failed(*port, errno);
    ::cfsetispeed(&tio, *speed);
    ::cfsetospeed(&tio, *speed);
    return ::tcsetattr(port->Fd(), TCSANOW, &tio) == 0 ? FT_OK : Failed(*port, errno);
}

FT_STATUS TtyBackend::SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                             UCHAR parity) {
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return status;
    if ((wordLength != FT_BITS_8 && wordLength != kBits7) ||
        (stopBits != FT_STOP_BITS_1 && stopBits != kStopBits2) || parity > kParitySpace)
        return FT_INVALID_PARAMETER;
    termios tio{};
    if (::tcgetattr(port->Fd(), &tio) != 0)
        return Failed(*port, errno);
    tio.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    tio.c_cflag |= wordLength == FT_BITS_8 ? CS8 : CS7;
    if (stopBits == kStopBits2)
        tio.c_cflag |= CSTOPB;
    switch (parity) {
    case kParityOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case kParityEven:
        tio.c_cflag |= PARENB;
        break;
    case kParityMark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case kParitySpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    return ::tcsetattr(port->Fd(), TCSANOW, &tio) == 0 ? FT_OK : Failed(*port, errno);
}

FT_STATUS TtyBackend::ChangeModemLines(FT_HANDLE handle, unsigned long request) {
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return status;
    // A pseudo-terminal has no modem lines and refuses with ENOTTY; the caller
    // ignores the result, so the pulse simply does not happen there.
    int bits = TIOCM_RTS;
    return ::ioctl(port->Fd(), request, &bits) == 0 ? FT_OK : Failed(*port, errno);
}

FT_STATUS TtyBackend::SetRts(FT_HANDLE handle) {
    return ChangeModemLines(handle, TIOCMBIS);
}

FT_STATUS TtyBackend::ClrRts(FT_HANDLE handle) {
    return ChangeModemLines(handle, TIOCMBIC);
}

FT_STATUS TtyBackend::Purge(FT_HANDLE handle, ULONG mask) {
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return status;
    const bool rx = (mask & FT_PURGE_RX) != 0;
    const bool tx = (mask & FT_PURGE_TX) != 0;
    if (!rx && !tx)
        return FT_OK;
    const int queue = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    return ::tcflush(port->Fd(), queue) == 0 ? FT_OK : Failed(*port, errno);
}

FT_STATUS TtyBackend::Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    if (written)
        *written = 0;
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return status;
    if (buffer == nullptr && count > 0)
        return FT_INVALID_PARAMETER;
    const auto* bytes = static_cast<const char*>(buffer);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteWaitMs);
    DWORD done = 0;
    while (done < count) {
        const ssize_t n = ::write(port->Fd(), bytes + done, count - done);
        if (n > 0) {
            done += DWORD(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            status = Failed(*port, errno);
            break;
        }
        // The output queue is full: wait for room, but not for ever.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{port->Fd(), POLLOUT, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            break;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            status = Failed(*port, EIO);
            break;
        }
    }
    if (written)
        *written = done;
    return status;
}

FT_STATUS TtyBackend::GetStatus(FT_HANDLE handle, DWORD* rxQueue, DWORD* txQueue, DWORD* eventStatus) {
    if (rxQueue)
        *rxQueue = 0;
    if (txQueue)
        *txQueue = 0;
    if (eventStatus)
        *eventStatus = 0;
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return status;
    int queued = 0;
    if (::ioctl(port->Fd(), FIONREAD, &queued) != 0)
        return Failed(*port, errno);
    if (queued == 0 && HungUp(port->Fd()))
        return Failed(*port, EIO);
    if (rxQueue)
        *rxQueue = DWORD(std::max(queued, 0));
    int outgoing = 0;
    if (txQueue && ::ioctl(port->Fd(), TIOCOUTQ, &outgoing) == 0)
        *txQueue = DWORD(std::max(outgoing, 0));
    return FT_OK;
}

FT_STATUS TtyBackend::Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) {
    if (bytesRead)
        *bytesRead = 0;
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return status;
    if (buffer == nullptr && count > 0)
        return FT_INVALID_PARAMETER;
    auto* bytes = static_cast<char*>(buffer);
    DWORD done = 0;
    // Takes at most `count` bytes; whatever else is queued stays for the next read.
    while (done < count) {
        const ssize_t n = ::read(port->Fd(), bytes + done, count - done);
        if (n > 0) {
            done += DWORD(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            const int error = errno;
            // Bytes already taken are handed over; the failure shows at the next call.
            if (done == 0)
                status = Failed(*port, error);
            else
                Failed(*port, error);
            break;
        }
        // Nothing more queued (a raw port with no minimum count reads 0 then). A
        // port that was hung up reads 0 as well, for ever, so tell the two apart.
        if (done == 0 && HungUp(port->Fd()))
            status = Failed(*port, EIO);
        break;
    }
    if (bytesRead)
        *bytesRead = done;
    return status;
}

std::string TtyBackend::UnitGone(FT_HANDLE handle) const {
    const OpenPort* port = open_.Find(handle);
    if (port == nullptr)
        return kNoUnitOpen;
    if (port->Gone())
        return port->GoneReason().empty() ? std::string(kNoUnitOpen) : port->GoneReason();
    if (HungUp(port->Fd()))
        return port->Path() + " has gone away (hung up)";
    struct stat now {};
    struct stat opened {};
    if (::stat(port->Path().c_str(), &now) != 0)
        return port->Path() + " is not there any more";
    if (::fstat(port->Fd(), &opened) != 0 || now.st_rdev != opened.st_rdev)
        return port->Path() + " now leads to another terminal";
    return {};
}

void TtyBackend::Close(FT_HANDLE handle) {
    if (OpenPort* port = open_.Find(handle))
        port->Close();
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

DataWakeup TtyBackend::Wakeup(FT_HANDLE handle, DWORD awaitedBytes) {
    FT_STATUS status = FT_OK;
    OpenPort* port = Live(handle, status);
    if (port == nullptr)
        return {};
    // A terminal's minimum read count also decides when poll() finds it readable (reads never wait
    // here: the descriptor is non-blocking). Set to the awaited count, the descriptor stays quiet while
    // part of a reply is queued and wakes the wait once the rest has come.
    const auto wanted = cc_t(std::clamp<DWORD>(awaitedBytes, 1, 255));
    if (port->MinimumRead() != wanted) {
        termios tio{};
        if (::tcgetattr(port->Fd(), &tio) != 0)
            return {-1, kUncountedPollMs};
        tio.c_cc[VMIN] = wanted;
        if (::tcsetattr(port->Fd(), TCSANOW, &tio) != 0)
            return {-1, kUncountedPollMs};
        port->SetMinimumRead(wanted);
    }
    return {port->Fd(), -1};
}

} // namespace device
