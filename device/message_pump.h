// Every wait in the logger (the reply wait, the interval wait, the pause between
// the two sweep files, the pump inside a plotted sample) goes through one
// MessagePump. Its ProcessMessages dispatches what is pending and, when nothing
// is, sleeps until the next event: a tick, a click, a repaint, or, while the
// reply wait watches the unit, data from it. So no wait spins the CPU, and all
// time-outs still count ticks.
#pragma once

#include "device/d2xx.h"

#include <QObject>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace device {

class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Dispatches what is pending; when nothing is, sleeps until the next event.
    virtual void ProcessMessages() = 0;
    // Dispatches what is pending and returns at once.
    virtual void ProcessPending() = 0;
    // While set, data from the unit also ends a ProcessMessages that sleeps.
    virtual void WatchDevice(const DataWakeup& wakeup) = 0;
    virtual void UnwatchDevice() = 0;
};

// The pump of the running program: Qt's event loop.
class EventLoopPump : public QObject, public MessagePump {
    Q_OBJECT

public:
    EventLoopPump();
    ~EventLoopPump() override;

    void ProcessMessages() override;
    void ProcessPending() override;
    void WatchDevice(const DataWakeup& wakeup) override;
    void UnwatchDevice() override;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer* pollTimer_;
};

} // namespace device
