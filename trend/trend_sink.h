// The trend window's sample sink: it keeps every sample of the run going on,
// across sweep ends, in a trace of its own, with the run's names, units and
// scaling of the channels and the crossings of their limits; START begins a new
// trace (the run before stays in its record). Taking a sample only stores it and tells the
// window, which draws nothing while it is hidden.
#pragma once

#include "acquisition/decoded_sample.h"
#include "trend/trace.h"

#include <functional>
#include <memory>

namespace trend {

class TrendSink : public acquisition::SampleSink {
public:
    // A run keeps at most `mostSamples` samples (by default as many as a record opened); the
    // samples after them are in the run record only, and the sink says so.
    explicit TrendSink(std::size_t mostSamples = kMostTraceRows) : mostSamples_(mostSamples) {}

    const char* Module() const override { return "trend"; }
    QString StoppedStatus() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    report::Done RunEnded() override;

    // The run going on, or the last one; null before the first START.
    const std::shared_ptr<const Trace>& Live() const { return shown_; }
    bool Running() const { return running_; }

    // Told after each START (`newTrace`) and each sample; the window listens here.
    std::function<void(bool newTrace)> changed;

private:
    std::size_t mostSamples_;
    std::shared_ptr<Trace> live_;
    std::shared_ptr<const Trace> shown_;
    bool running_ = false;
};

} // namespace trend
