#include "device/message_pump.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

namespace device {

EventLoopPump::EventLoopPump() : pollTimer_(new QTimer(this)) {
    pollTimer_->setSingleShot(true);
    pollTimer_->setTimerType(Qt::PreciseTimer);
    // The timer only has to wake the event loop; the wait looks at the queue itself.
    connect(pollTimer_, &QTimer::timeout, this, [] {});
}

EventLoopPump::~EventLoopPump() = default;

void EventLoopPump::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void EventLoopPump::ProcessPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void EventLoopPump::WatchDevice(const DataWakeup& wakeup) {
    if (wakeup.fd >= 0) {
        pollTimer_->stop();
        if (!notifier_ || notifier_->socket() != wakeup.fd) {
            notifier_ = std::make_unique<QSocketNotifier>(wakeup.fd, QSocketNotifier::Read);
            // A readable descriptor stays readable until it is read: switch the
            // notifier off once it has woken the wait, which arms it again after
            // looking at the queue.
            connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                    [n = notifier_.get()] { n->setEnabled(false); });
        }
        notifier_->setEnabled(true);
    } else {
        if (notifier_)
            notifier_->setEnabled(false);
        if (wakeup.pollMs >= 0)
            pollTimer_->start(wakeup.pollMs);
        else
            pollTimer_->stop();
    }
}

void EventLoopPump::UnwatchDevice() {
    pollTimer_->stop();
    if (notifier_)
        notifier_->setEnabled(false);
}

} // namespace device
