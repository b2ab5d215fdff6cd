// Hands each decoded sample of a run to every sink, stamped with the run's
// elapsed time, sweep number and column, and with each channel's crossing of
// its limits. A sink that fails (it answers with the
// reason) is reported once, left out for the rest of the run, and the run goes
// on; it is fed again from the next START.
#pragma once

#include "acquisition/decoded_sample.h"

#include "channels/limit_watch.h"

#include <array>
#include <chrono>
#include <functional>
#include <vector>

namespace acquisition {

class SampleFeed {
public:
    using MonotonicClock = std::function<std::chrono::milliseconds()>;
    // Told once for each sink that fails, with the sink and its reason.
    using Report = std::function<void(const SampleSink& sink, const QString& reason)>;

    // A null clock reads std::chrono::steady_clock.
    SampleFeed(std::vector<SampleSink*> sinks, MonotonicClock clock, Report report);

    bool Empty() const { return sinks_.empty(); }
    int Sweep() const { return sweep_; }
    // The run's channels, and how each stands against its limits.
    const channels::Channels& Channels() const { return channels_; }
    const channels::LimitWatch& Watch(int channel) const { return watches_[std::size_t(channel)]; }
    // Since START, now.
    std::int64_t ElapsedMs() const { return (Monotonic() - started_).count(); }

    void RunStarted(const RunInfo& run);
    // `sample` holds its values and note; the feed adds the rest. Says the crossings the sample made.
    channels::Crossings Take(DecodedSample sample, const QDateTime& time, int x);
    // A channel the run no longer reads (its box unticked): see channels::LimitWatch::SwitchedOff.
    void SwitchedOff(int channel);
    void SweepEnded();
    void RunEnded();

private:
    struct Fed {
        SampleSink* sink;
        bool failed = false;
    };
    template <class Call> void Each(const Call& call);
    std::chrono::milliseconds Monotonic() const;

    std::vector<Fed> sinks_;
    MonotonicClock clock_;
    Report report_;
    std::chrono::milliseconds started_{0};
    int sweep_ = 0;
    channels::Channels channels_ = channels::DefaultChannels();
    std::array<channels::LimitWatch, channels::kChannelCount> watches_;
};

} // namespace acquisition
