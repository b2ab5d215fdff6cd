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
            call(*fed.sink);
            continue;
        } catch (const std::exception& e) {
            problem = QString::fromUtf8(e.what());
        } catch (...) {
            problem = QStringLiteral("A consumer of samples failed for an unknown reason; it is left out of this run.");
        }
        fed.failed = true;
        if (report_)
            report_(problem);
    }
}

void SampleFeed::RunStarted(const RunInfo& run) {
    started_ = Monotonic();
    sweep_ = 0;
    for (Fed& fed : sinks_)
        fed.failed = false;
    Each([&run](SampleSink& sink) { sink.RunStarted(run); });
}

void SampleFeed::Take(DecodedSample sample, const QDateTime& time, int x) {
    sample.time = time;
    sample.elapsedMs = (Monotonic() - started_).count();
    sample.sweep = sweep_;
    sample.x = x;
    Each([&sample](SampleSink& sink) { sink.Take(sample); });
}

void SampleFeed::SweepEnded() {
    Each([](SampleSink& sink) { sink.SweepEnded(); });
    ++sweep_;
}

void SampleFeed::RunEnded() {
    Each([](SampleSink& sink) { sink.RunEnded(); });
}

} // namespace acquisition
