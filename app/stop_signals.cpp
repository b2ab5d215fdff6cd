#include "app/stop_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace app {

namespace {

int pipeEnds[2] = {-1, -1};

void Caught(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up; nothing is lost by dropping this byte.
    if (::write(pipeEnds[1], &byte, 1) < 0) {
    }
    errno = saved;
}

} // namespace

void InstallStopSignalHandlers() {
    if (pipeEnds[0] >= 0 || ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = Caught;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the program was started with ignored stays ignored: nohup's SIGHUP, a background
        // job's SIGINT.
        struct sigaction before {};
        if (::sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

bool StopSignalPending() {
    pollfd ready{pipeEnds[0], POLLIN, 0};
    return pipeEnds[0] >= 0 && ::poll(&ready, 1, 0) > 0;
}

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    InstallStopSignalHandlers();
    if (pipeEnds[0] < 0)
        return;
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::Drain);
}

void StopSignals::Drain() {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(pipeEnds[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            emit Received(bytes[i]);
}

} // namespace app
