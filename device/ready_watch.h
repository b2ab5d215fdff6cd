// How the run learns that the unit may have answered, without waiting for it:
// the tty's descriptor becomes readable once a reply's worth of bytes is
// queued (a socket notifier), and the ways without a descriptor (libftdi,
// FTDI's library, the simulated unit) are looked at again after a short poll.
// Either way the event loop calls back and nothing sleeps or spins in between.
#pragma once

#include "device/d2xx.h"

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace device {

class ReadyWatch {
public:
    virtual ~ReadyWatch() = default;
    // Calls `ready` once, when the unit may have data: when `wakeup.fd` is readable, or after
    // `wakeup.pollMs`; nothing with neither (the tick looks instead). A new Watch replaces the last.
    virtual void Watch(const DataWakeup& wakeup, std::function<void()> ready) = 0;
    virtual void Unwatch() = 0;
};

// The watch of the running program: Qt's event loop, under any modal dialog too.
class EventLoopWatch : public QObject, public ReadyWatch {
    Q_OBJECT

public:
    EventLoopWatch();
    ~EventLoopWatch() override;

    void Watch(const DataWakeup& wakeup, std::function<void()> ready) override;
    void Unwatch() override;

private:
    void Fire();

    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer* pollTimer_;
    std::function<void()> ready_;
};

} // namespace device
