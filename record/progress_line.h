// The progress of an unattended run on a terminal: the standing line of standard
// error (report/standing_line.h), rewritten in place at most once a second, with
// the samples taken, the sweep, the time since START and the files written;
// finished with a line end when the run ends. Reports written meanwhile appear
// above it, never glued to its end.
#pragma once

#include "acquisition/decoded_sample.h"

#include <functional>
#include <string>

namespace record {

// The line's text, without the carriage return that puts it in place.
std::string ProgressText(long long samples, int sweep, long long elapsedMs, int filesWritten);

class ProgressLine : public acquisition::SampleSink {
public:
    static constexpr long long kIntervalMs = 1000;

    // For standard error on a terminal; `filesWritten` counts the files so far.
    explicit ProgressLine(std::function<int()> filesWritten);

    const char* Module() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    report::Done RunEnded() override;

private:
    void Show();

    std::function<int()> filesWritten_;
    long long samples_ = 0;
    int sweep_ = 0;
    long long elapsedMs_ = 0;
    long long shownAtMs_ = -1;
};

} // namespace record
