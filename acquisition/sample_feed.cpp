#include "acquisition/sample_feed.h"

#include <exception>

namespace acquisition {

SampleFeed::SampleFeed(std::vector<SampleSink*> sinks, MonotonicClock clock, Report report)
    : clock_(std::move(clock)), report_(std::move(report)) {
    for (SampleSink* sink : sinks)
        if (sink)
            sinks_.push_back({sink});
}

std::chrono::milliseconds SampleFeed::Monotonic() const {
    if (clock_)
        return clock_();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

template <class Call> void SampleFeed::Each(const Call& call) {
    for (Fed& fed : sinks_) {
        if (fed.failed)
            continue;
        QString problem;
        try {
            const report::Done done = call(*fed.sink);
            if (done)
                continue;
            problem = done.Reason();
        } catch (const std::exception& e) {
            // Only what the library throws (memory running out, say): the sinks answer with a result.
            problem = QStringLiteral("A consumer of samples failed (%1); it is left out of this run.")
                          .arg(QString::fromUtf8(e.what()));
        }
        fed.failed = true;
        if (report_)
            report_(*fed.sink, problem);
    }
}

void SampleFeed::RunStarted(const RunInfo& run) {
    started_ = Monotonic();
    sweep_ = 0;
    channels_ = run.channels;
    for (std::size_t i = 0; i < watches_.size(); ++i)
        watches_[i].Reset(channels_[i]);
    for (Fed& fed : sinks_)
        fed.failed = false;
    Each([&run](SampleSink& sink) { return sink.RunStarted(run); });
}

channels::Crossings SampleFeed::Take(DecodedSample sample, const QDateTime& time, int x) {
    sample.time = time;
    sample.elapsedMs = (Monotonic() - started_).count();
    sample.sweep = sweep_;
    sample.x = x;
    if (sample.note == SampleNote::None) {
        sample.crossings[0] = watches_[0].Take(sample.ad0, sample.elapsedMs);
        sample.crossings[1] = watches_[1].Take(sample.ad1, sample.elapsedMs);
    }
    Each([&sample](SampleSink& sink) { return sink.Take(sample); });
    return sample.crossings;
}

void SampleFeed::SwitchedOff(int channel) {
    watches_[std::size_t(channel)].SwitchedOff(ElapsedMs());
}

void SampleFeed::SweepEnded() {
    Each([](SampleSink& sink) { return sink.SweepEnded(); });
    ++sweep_;
}

void SampleFeed::RunEnded() {
    Each([](SampleSink& sink) { return sink.RunEnded(); });
}

} // namespace acquisition
