#include "device/ready_watch.h"

#include <QSocketNotifier>
#include <QTimer>

namespace device {

EventLoopWatch::EventLoopWatch() : pollTimer_(new QTimer(this)) {
    pollTimer_->setSingleShot(true);
    pollTimer_->setTimerType(Qt::PreciseTimer);
    connect(pollTimer_, &QTimer::timeout, this, &EventLoopWatch::Fire);
}

EventLoopWatch::~EventLoopWatch() = default;

void EventLoopWatch::Watch(const DataWakeup& wakeup, std::function<void()> ready) {
    ready_ = std::move(ready);
    if (wakeup.fd >= 0) {
        pollTimer_->stop();
        if (!notifier_ || notifier_->socket() != wakeup.fd) {
            notifier_ = std::make_unique<QSocketNotifier>(wakeup.fd, QSocketNotifier::Read);
            connect(notifier_.get(), &QSocketNotifier::activated, this, &EventLoopWatch::Fire);
        }
        notifier_->setEnabled(true);
        return;
    }
    if (notifier_)
        notifier_->setEnabled(false);
    if (wakeup.pollMs >= 0)
        pollTimer_->start(wakeup.pollMs);
    else
        pollTimer_->stop();
}

void EventLoopWatch::Unwatch() {
    pollTimer_->stop();
    if (notifier_)
        notifier_->setEnabled(false);
    ready_ = nullptr;
}

void EventLoopWatch::Fire() {
    // A readable descriptor stays readable until it is read: the notifier goes quiet once it has
    // called back, and the next Watch arms it again.
    if (notifier_)
        notifier_->setEnabled(false);
    pollTimer_->stop();
    if (auto ready = std::exchange(ready_, nullptr))
        ready();
}

} // namespace device
