// The event loop as tests drive it: instead of sleeping, each step moves a
// virtual clock on to the next thing that would have woken the program — the
// next tick, or the moment the unit's readiness is looked at — and delivers it,
// after what was queued for the loop. Runs are deterministic and take no
// wall-clock time.
#pragma once

#include "device/ready_watch.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <chrono>
#include <functional>

namespace testing {

class DrivenLoop : public device::ReadyWatch {
public:
    explicit DrivenLoop(int tickMs = 100) : tick_(std::chrono::milliseconds(tickMs)), nextTick_(tick_) {}

    // What a tick does (the form's Timer1Timer) and what the test does after it.
    std::function<void()> tick;
    std::function<void(long tickNumber)> afterTick;

    std::chrono::microseconds Now() const { return now_; }
    long Ticks() const { return ticks_; }
    // How often the unit's readiness was looked at.
    long Wakeups() const { return wakeups_; }
    bool Watching() const { return bool(ready_); }

    void Watch(const DataWakeup& wakeup, std::function<void()> ready) override {
        // A descriptor is looked at again a millisecond on; nothing expected leaves it to the tick.
        watchMs_ = wakeup.fd >= 0 ? 1 : wakeup.pollMs;
        ready_ = watchMs_ >= 0 ? std::move(ready) : nullptr;
    }
    void Unwatch() override {
        watchMs_ = -1;
        ready_ = nullptr;
    }

    // What is queued for the loop, then the next wake-up.
    void Step() {
        QCoreApplication::processEvents();
        Advance();
    }

    // Steps while `going` holds (a run in progress, say), looking after what was queued each time.
    template <class Going> void RunWhile(const Going& going, long maxTicks = 10'000'000) {
        const long limit = ticks_ + maxTicks;
        for (;;) {
            QCoreApplication::processEvents();
            if (!going())
                return;
            if (ticks_ > limit)
                qFatal("DrivenLoop: still going after %ld ticks", maxTicks);
            Advance();
        }
    }
    // Moves on by whole ticks.
    void RunTicks(long count) {
        const long until = ticks_ + count;
        RunWhile([&] { return ticks_ < until; });
    }

private:
    // The virtual clock on to the next wake-up, which is delivered.
    void Advance() {
        if (ready_) {
            const auto due = now_ + std::chrono::microseconds(std::max(1, watchMs_) * 1000);
            if (due < nextTick_) {
                now_ = due;
                ++wakeups_;
                auto ready = std::exchange(ready_, nullptr);
                watchMs_ = -1;
                ready();
                return;
            }
        }
        now_ = nextTick_;
        nextTick_ += tick_;
        ++ticks_;
        if (tick)
            tick();
        if (afterTick)
            afterTick(ticks_);
    }

    std::chrono::microseconds tick_;
    std::chrono::microseconds now_{0};
    std::chrono::microseconds nextTick_;
    int watchMs_ = -1;
    std::function<void()> ready_;
    long ticks_ = 0;
    long wakeups_ = 0;
};

} // namespace testing
