#include "record/progress_line.h"

#include "report/reporter.h"
#include "report/standing_line.h"

#include <cstdio>

namespace record {

std::string ProgressText(long long samples, int sweep, long long elapsedMs, int filesWritten) {
    const long long s = elapsedMs / 1000;
    char text[128];
    const int n = std::snprintf(text, sizeof text,
                                "samples %lld  sweep %d  elapsed %lld:%02lld:%02lld  files written %d",
                                samples, sweep, s / 3600, s / 60 % 60, s % 60, filesWritten);
    return std::string(text, std::size_t(n));
}

ProgressLine::ProgressLine(std::function<int()> filesWritten) : filesWritten_(std::move(filesWritten)) {}

const char* ProgressLine::Module() const {
    return report::module::kRecord;
}

report::Done ProgressLine::RunStarted(const acquisition::RunInfo&) {
    samples_ = 0;
    sweep_ = 0;
    elapsedMs_ = 0;
    shownAtMs_ = -1;
    return {};
}

report::Done ProgressLine::Take(const acquisition::DecodedSample& sample) {
    ++samples_;
    sweep_ = sample.sweep;
    elapsedMs_ = sample.elapsedMs;
    if (shownAtMs_ < 0 || elapsedMs_ - shownAtMs_ >= kIntervalMs) {
        shownAtMs_ = elapsedMs_;
        Show();
    }
    return {};
}

report::Done ProgressLine::RunEnded() {
    Show();
    report::EndStandingLine();
    return {};
}

void ProgressLine::Show() {
    report::ShowStandingLine(ProgressText(samples_, sweep_, elapsedMs_, filesWritten_ ? filesWritten_() : 0));
}

} // namespace record
