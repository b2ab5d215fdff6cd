// unit-emulator: a stand-in for the measurement unit on a terminal, so that the
// logger's real serial path can be tried without the hardware.
//
// It makes a pseudo-terminal (or serves an existing terminal given with --path),
// prints the path the logger should open on its first line of standard output,
// and answers every request (0x41 0x4C 0x0D) with the frames of the simulated
// unit, misbehaving as the fault options say.
//
// The emulator keeps the terminal side of its pseudo-terminal open itself, so the
// terminal does not hang up when the logger closes it: several logger runs, one
// after another, can use the same emulator, and requests are counted over the
// emulator's whole life. Because the terminal outlives each client, the emulator
// clears its exclusive-use flag whenever a client closes it (it learns of closes
// through inotify); otherwise a client that set the flag and died would lock every
// later one out. With --exit-after it ends once the client closes the terminal
// after the last reply: closing the master side earlier would throw away a reply
// not yet read.
//
// It can be unplugged and plugged in again, as a USB unit can: unplugging closes
// the pseudo-terminal (the client sees it hang up and its path vanish), plugging
// in makes a new one and prints its path as a new line. With --serial it makes
// itself known under that serial number in the unit registry, so the logger lists
// it and finds it again after a plug-in; --link keeps a link at a fixed path that
// always leads to the current terminal.
//
//   unit-emulator [--path TTY] [--delay-us N] [--pieces N] [--leading N] [--garbage]
//                 [--silent-after N] [--trailing N] [--exit-after N]
//                 [--serial SERIAL] [--link PATH] [--unplug-after N] [--replug-after-ms MS]
//
// It waits in ppoll() for requests, due reply pieces, signals and closes, never
// spinning, and ends cleanly on SIGTERM or SIGINT. SIGUSR1 unplugs it, SIGUSR2
// plugs it in again.
#include "device/unit_model.h"
#include "device/unit_registry.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace tools {

namespace {

using Clock = std::chrono::steady_clock;

struct EmulatorOptions {
    QString path; // empty: make a pseudo-terminal
    device::UnitFaults faults;
    int exitAfter = -1; // requests to answer before ending (-1: never)
    QString serial;     // empty: not registered
    QString link;       // empty: no link
    int unplugAfter = -1;   // requests to answer before unplugging once (-1: never)
    int replugAfterMs = -1; // plug in again this long after an unplug (-1: on SIGUSR2 only)
};

void Complain(const std::string& text) {
    std::fprintf(stderr, "unit-emulator: %s\n", text.c_str());
}

void Complain(const std::string& what, int errorNumber) {
    Complain(what + ": " + std::strerror(errorNumber));
}

// SIGTERM and SIGINT end the emulator, SIGUSR1 unplugs it and SIGUSR2 plugs it in.
sigset_t StopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGUSR1);
    sigaddset(&stop, SIGUSR2);
    return stop;
}

bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B38400);
    ::cfsetospeed(&tio, B38400);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

class UnitEmulator {
public:
    explicit UnitEmulator(const EmulatorOptions& options) : options_(options), model_(options.faults) {}
    UnitEmulator(const UnitEmulator&) = delete;
    UnitEmulator& operator=(const UnitEmulator&) = delete;

    ~UnitEmulator() {
        Forget();
        for (int fd : {unitFd_, terminalFd_, closesFd_, signalFd_})
            if (fd >= 0)
                ::close(fd);
    }

    // Sets up the terminal and the signal descriptor; prints the terminal's path.
    // SIGTERM and SIGINT must already be blocked (main blocks them first).
    bool Start() {
        const sigset_t stopSignals = StopSignals();
        // The signals arrive as reads on a descriptor, so the wait sees them.
        if ((signalFd_ = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK)) < 0) {
            Complain("cannot take SIGTERM and SIGINT", errno);
            return false;
        }
        if (!(options_.path.isEmpty() ? OpenPseudoTerminal() : OpenGivenTerminal()))
            return false;
        return Announce();
    }

    // Serves requests until a stop signal, --exit-after, or the terminal going away.
    int Run() {
        while (true) {
            if (unitFd_ < 0) {
                const int result = WaitUnplugged();
                if (result >= 0)
                    return result;
                continue;
            }
            pollfd fds[3] = {{signalFd_, POLLIN, 0}, {unitFd_, POLLIN, 0}, {closesFd_, POLLIN, 0}};
            if (!outgoing_.empty())
                fds[1].events |= POLLOUT;
            const nfds_t count = closesFd_ >= 0 ? 3 : 2;
            timespec wait{};
            const timespec* timeout = nullptr;
            if (!inFlight_.empty()) {
                const auto left = std::max(Clock::duration::zero(), inFlight_.front().due - Clock::now());
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                wait = {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
                timeout = &wait;
            }
            if (::ppoll(fds, count, timeout, nullptr) < 0) {
                if (errno == EINTR)
                    continue;
                Complain("waiting failed", errno);
                return EXIT_FAILURE;
            }
            if (fds[0].revents) {
                const int signal = TakeSignal();
                if (signal == SIGTERM || signal == SIGINT)
                    return EXIT_SUCCESS;
                if (signal == SIGUSR1) {
                    Unplug();
                    continue;
                }
            }
            if (count == 3 && fds[2].revents) {
                ForgetExclusiveUse();
                if (lastReplySent_)
                    return EXIT_SUCCESS;
            }
            if (fds[1].revents & POLLIN) {
                if (!TakeRequests())
                    return EXIT_FAILURE;
            } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                Complain(path_ + " has gone away");
                return EXIT_FAILURE;
            }
            Deliver();
            if (!Send())
                return EXIT_FAILURE;
            if (options_.unplugAfter >= 0 && requests_ >= unsigned(options_.unplugAfter) && inFlight_.empty() &&
                outgoing_.empty()) {
                options_.unplugAfter = -1;
                ::tcdrain(unitFd_);
                Unplug();
                continue;
            }
            if (options_.exitAfter >= 0 && requests_ >= unsigned(options_.exitAfter) && inFlight_.empty() &&
                outgoing_.empty()) {
                // Closing a pseudo-terminal's master side throws away what the client
                // has not read yet, so the last reply is left until the client closes.
                if (closesFd_ < 0) {
                    ::tcdrain(unitFd_);
                    return EXIT_SUCCESS;
                }
                lastReplySent_ = true;
            }
        }
    }

private:
    struct Piece {
        Clock::time_point due;
        std::string bytes;
    };

    // Points the registry entry and the link at the terminal, then prints its path.
    bool Announce() {
        std::string problem;
        if (!options_.serial.isEmpty())
            problem = device::RegisterUnit(options_.serial.toStdString(), path_);
        if (problem.empty() && !options_.link.isEmpty())
            problem = device::PointLink(options_.link.toStdString(), path_);
        if (!problem.empty()) {
            Complain(problem);
            return false;
        }
        std::printf("%s\n", path_.c_str());
        std::fflush(stdout);
        return true;
    }

    // Takes the registry entry and the link away while they still lead to our terminal.
    void Forget() {
        if (path_.empty())
            return;
        if (!options_.serial.isEmpty())
            device::UnregisterUnit(options_.serial.toStdString(), path_);
        if (!options_.link.isEmpty()) {
            const QByteArray link = options_.link.toLocal8Bit();
            char target[4096];
            const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
            if (n > 0 && std::string(target, std::size_t(n)) == path_)
                ::unlink(link.constData());
        }
    }

    // The unit goes away: its terminal closes, and replies on their way are lost.
    void Unplug() {
        if (unitFd_ < 0 || !options_.path.isEmpty())
            return;
        Forget();
        for (int* fd : {&unitFd_, &terminalFd_, &closesFd_}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
        inFlight_.clear();
        outgoing_.clear();
        scanner_ = device::RequestScanner();
        path_.clear();
        unpluggedAt_ = Clock::now();
    }

    // Unplugged: waits for SIGUSR2, the time to plug in again, or the end.
    // Returns the exit status, or -1 while the emulator goes on.
    int WaitUnplugged() {
        pollfd signalWait{signalFd_, POLLIN, 0};
        timespec wait{};
        const timespec* timeout = nullptr;
        if (options_.replugAfterMs >= 0) {
            const auto due = unpluggedAt_ + std::chrono::milliseconds(options_.replugAfterMs);
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::max(Clock::duration::zero(), due - Clock::now()))
                                .count();
            wait = {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
            timeout = &wait;
        }
        const int ready = ::ppoll(&signalWait, 1, timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                return -1;
            Complain("waiting failed", errno);
            return EXIT_FAILURE;
        }
        if (ready > 0) {
            const int signal = TakeSignal();
            if (signal == SIGTERM || signal == SIGINT)
                return EXIT_SUCCESS;
            if (signal != SIGUSR2)
                return -1;
        }
        return OpenPseudoTerminal() && Announce() ? -1 : EXIT_FAILURE;
    }

    // The signal waiting on the signal descriptor, or 0.
    int TakeSignal() {
        signalfd_siginfo info{};
        if (::read(signalFd_, &info, sizeof info) != ssize_t(sizeof info))
            return 0;
        return int(info.ssi_signo);
    }

    bool OpenPseudoTerminal() {
        unitFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (unitFd_ < 0 || ::grantpt(unitFd_) != 0 || ::unlockpt(unitFd_) != 0) {
            Complain("cannot make a pseudo-terminal", errno);
            return false;
        }
        const char* name = ::ptsname(unitFd_);
        if (name == nullptr) {
            Complain("cannot name the pseudo-terminal", errno);
            return false;
        }
        path_ = name;
        // Held open for the emulator's whole life: see the note at the top.
        terminalFd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminalFd_ < 0) {
            Complain("cannot open " + path_, errno);
            return false;
        }
        // Raw on both sides: no echo, no line editing, no CR/LF translation.
        if (!MakeRaw(unitFd_) || !MakeRaw(terminalFd_)) {
            Complain("cannot make " + path_ + " raw", errno);
            return false;
        }
        closesFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (closesFd_ >= 0 &&
            ::inotify_add_watch(closesFd_, path_.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
            ::close(closesFd_);
            closesFd_ = -1;
        }
        return true;
    }

    bool OpenGivenTerminal() {
        path_ = options_.path.toStdString();
        unitFd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (unitFd_ < 0) {
            Complain("cannot open " + path_, errno);
            return false;
        }
        if (!MakeRaw(unitFd_)) {
            Complain(path_ + " is not a terminal that can be set to 38400 baud raw", errno);
            return false;
        }
        return true;
    }

    void ForgetExclusiveUse() {
        char events[4096];
        while (::read(closesFd_, events, sizeof events) > 0) {
        }
        ::ioctl(terminalFd_, TIOCNXCL);
    }

    bool TakeRequests() {
        char bytes[512];
        while (true) {
            const ssize_t n = ::read(unitFd_, bytes, sizeof bytes);
            if (n > 0) {
                Schedule(scanner_.Feed(bytes, std::size_t(n)));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return true;
            // A pseudo-terminal reads EIO when no terminal side is open, which
            // cannot happen while the emulator holds one; a given terminal that
            // reads EOF or fails has gone.
            Complain(path_ + " has gone away", n < 0 ? errno : EIO);
            return false;
        }
    }

    // Queues the replies to `complete` new requests, each after its delay, in pieces.
    void Schedule(int complete) {
        const auto now = Clock::now();
        for (int i = 0; i < complete; ++i) {
            if (options_.exitAfter >= 0 && requests_ >= unsigned(options_.exitAfter))
                return;
            const std::string reply = model_.ReplyFor(requests_++);
            if (reply.empty())
                continue;
            const device::UnitFaults& f = model_.Faults();
            const int delayUs =
                f.replyDelayUs >= 0 ? f.replyDelayUs : device::UnitModel::WireTimeUs(reply.size() + 3);
            const int pieces = std::clamp(f.pieces, 1, int(reply.size()));
            const auto start = inFlight_.empty() ? now : std::max(now, inFlight_.back().due);
            std::size_t at = 0;
            for (int p = 1; p <= pieces; ++p) {
                const std::size_t end = reply.size() * std::size_t(p) / std::size_t(pieces);
                inFlight_.push_back({start + std::chrono::microseconds(std::int64_t(delayUs) * p / pieces),
                                     reply.substr(at, end - at)});
                at = end;
            }
        }
    }

    void Deliver() {
        const auto now = Clock::now();
        while (!inFlight_.empty() && inFlight_.front().due <= now) {
            outgoing_ += inFlight_.front().bytes;
            inFlight_.pop_front();
        }
    }

    // Writes what is due; what the terminal cannot take yet waits for POLLOUT.
    bool Send() {
        while (!outgoing_.empty()) {
            const ssize_t n = ::write(unitFd_, outgoing_.data(), outgoing_.size());
            if (n > 0) {
                outgoing_.erase(0, std::size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return true;
            Complain("cannot write to " + path_, errno);
            return false;
        }
        return true;
    }

    EmulatorOptions options_;
    device::UnitModel model_;
    device::RequestScanner scanner_;
    std::deque<Piece> inFlight_;
    std::string outgoing_;
    std::string path_;
    unsigned requests_ = 0;
    bool lastReplySent_ = false; // --exit-after reached: end when the client closes
    Clock::time_point unpluggedAt_{};
    int unitFd_ = -1;            // the unit's end: the pseudo-terminal's master side, or the given terminal
    int terminalFd_ = -1;        // the pseudo-terminal's terminal side, held open
    int closesFd_ = -1;          // inotify: clients closing the terminal
    int signalFd_ = -1;
};

// Reads option `name` into `value` when given: a whole number of at least `least`.
bool NumberOption(const QCommandLineParser& parser, const QString& name, int least, int& value) {
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const QString text = parser.value(name);
    const int number = text.toInt(&ok);
    if (!ok || number < least) {
        Complain(QStringLiteral("--%1 needs a whole number of at least %2, not \"%3\"")
                     .arg(name)
                     .arg(least)
                     .arg(text)
                     .toStdString());
        return false;
    }
    value = number;
    return true;
}

// The options of the command line, or nothing after saying what is wrong with them.
std::optional<EmulatorOptions> ParseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Answers the measurement unit's requests on a pseudo-terminal (or on the terminal given "
        "with --path). Prints the terminal to open on its first line, then serves until SIGTERM "
        "or SIGINT."));
    parser.addHelpOption();
    const auto option = [&](const char* name, const char* help, const char* valueName = nullptr) {
        parser.addOption(valueName ? QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help),
                                                        QString::fromLatin1(valueName))
                                   : QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help)));
    };
    option("path", "Serve this existing terminal instead of making a pseudo-terminal.", "tty");
    option("delay-us", "Answer after this many microseconds (default: the reply's wire time at 38400 baud).",
           "n");
    option("pieces", "Send each reply in this many pieces, spread over the delay (default 1).", "n");
    option("leading", "Put this many bytes of noise before each frame.", "n");
    option("garbage", "Send replies without any \"A\".");
    option("silent-after", "Stop answering after this many requests.", "n");
    option("trailing", "Put this many extra bytes after each frame.", "n");
    option("exit-after", "End after answering this many requests.", "n");
    option("serial",
           "Make the unit known under this serial number, so that tavrin --list-units shows it and "
           "tavrin --device SERIAL finds it, after a plug-in too.",
           "serial");
    option("link", "Keep a link at this path that leads to the current terminal.", "path");
    option("unplug-after", "Unplug once after answering this many requests (SIGUSR1 unplugs at any time).",
           "n");
    option("replug-after-ms", "Plug in again this many ms after an unplug (SIGUSR2 plugs in at any time).",
           "ms");
    parser.process(app); // --help, and unknown options, end here
    if (!parser.positionalArguments().isEmpty()) {
        Complain("unexpected argument \"" + parser.positionalArguments().first().toStdString() + "\"");
        return std::nullopt;
    }

    EmulatorOptions options;
    options.path = parser.value(QStringLiteral("path"));
    if (parser.isSet(QStringLiteral("path")) && options.path.isEmpty()) {
        Complain("--path needs the path of a terminal");
        return std::nullopt;
    }
    device::UnitFaults& f = options.faults;
    f.garbage = parser.isSet(QStringLiteral("garbage"));
    const bool ok = NumberOption(parser, QStringLiteral("delay-us"), 0, f.replyDelayUs) &&
                    NumberOption(parser, QStringLiteral("pieces"), 1, f.pieces) &&
                    NumberOption(parser, QStringLiteral("leading"), 0, f.leadingBytes) &&
                    NumberOption(parser, QStringLiteral("silent-after"), 0, f.silentAfter) &&
                    NumberOption(parser, QStringLiteral("trailing"), 0, f.trailingBytes) &&
                    NumberOption(parser, QStringLiteral("exit-after"), 1, options.exitAfter) &&
                    NumberOption(parser, QStringLiteral("unplug-after"), 0, options.unplugAfter) &&
                    NumberOption(parser, QStringLiteral("replug-after-ms"), 0, options.replugAfterMs);
    if (!ok)
        return std::nullopt;
    options.serial = parser.value(QStringLiteral("serial"));
    options.link = parser.value(QStringLiteral("link"));
    if (!options.path.isEmpty() && (options.unplugAfter >= 0 || options.replugAfterMs >= 0)) {
        Complain("only the emulator's own pseudo-terminal can be unplugged: leave out --path");
        return std::nullopt;
    }
    return options;
}

} // namespace

} // namespace tools

int main(int argc, char** argv) {
    // Blocked before any thread starts, so that no thread takes them the default
    // way: they are read from a descriptor in the wait instead.
    const sigset_t stopSignals = tools::StopSignals();
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    // Stdout may be a pipe whose reader goes away; the path was all it was for.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("unit-emulator"));
    const std::optional<tools::EmulatorOptions> options = tools::ParseOptions(app);
    if (!options)
        return 2;
    tools::UnitEmulator emulator(*options);
    if (!emulator.Start())
        return EXIT_FAILURE;
    return emulator.Run();
}
