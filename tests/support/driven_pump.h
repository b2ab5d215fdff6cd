// A message pump for tests: instead of sleeping, each wait moves a virtual
// clock on to the next thing that would have woken the program — the next tick
// or the unit's next bytes — and delivers it. Runs are deterministic and take no
// wall-clock time.
#pragma once

#include "device/message_pump.h"

#include <QCoreApplication>
#include <chrono>
#include <functional>

namespace testing {

class DrivenPump : public device::MessagePump {
public:
    explicit DrivenPump(int tickMs = 100) : tick_(std::chrono::milliseconds(tickMs) ) , nextTick_(tick_) {}

    // What a tick does (the form's Timer1Timer) and what the test does after it.
    std::function<void()> tick;
    std::function<void(long tickNumber)> afterTick;

    std::chrono::microseconds Now() const { return now_; }
    long Ticks() const { return ticks_; }
    long Waits() const { return waits_; }

    void ProcessMessages() override {
        ++waits_;
        QCoreApplication::processEvents();
        auto next = nextTick_;
        if (watchMs_ >= 0)
            next = std::min(next, now_ + std::chrono::microseconds(std::max(1, watchMs_) * 1000));
        now_ = next;
        if (now_ >= nextTick_) {
            nextTick_ += tick_;
            ++ticks_;
            if (tick)
                tick();
            if (afterTick)
                afterTick(ticks_);
        }
    }
    void ProcessPending() override { QCoreApplication::processEvents(); }
    void WatchDevice(const DataWakeup& wakeup) override { watchMs_ = wakeup.fd >= 0 ? 1 : wakeup.pollMs; }
    void UnwatchDevice() override { watchMs_ = -1; }

private:
    std::chrono::microseconds tick_;
    std::chrono::microseconds now_{0};
    std::chrono::microseconds nextTick_;
    int watchMs_ = -1;
    long ticks_ = 0;
    long waits_ = 0;
};

} // namespace testing
