// The run's own consumers of samples, fed like every other: the log, which
// takes each reply as it was read, and the chart, which draws each sample with
// a frame at its column. They never fail, so the feed never leaves them out.
#pragma once

#include "acquisition/decoded_sample.h"
#include "acquisition/session_view.h"

#include <cstdint>
#include <functional>

namespace acquisition {

class LogSink : public SampleSink {
public:
    explicit LogSink(RunLog& log) : log_(log) {}
    const char* Module() const override { return "log"; }
    report::Done RunStarted(const RunInfo&) override { return {}; }
    report::Done Take(const DecodedSample& sample) override;

private:
    RunLog& log_;
};

class ChartPainter : public SampleSink {
public:
    // What the frame's annotation shows besides the settings: the sweep files' index.
    using FileIndex = std::function<std::uint16_t()>;
    // The settings the sample was taken with (the session reads them once a sample): a change applies
    // from the next sample.
    ChartPainter(RunChart& chart, std::function<RunSettings()> settings, FileIndex fileIndex);
    const char* Module() const override { return "chart"; }
    report::Done RunStarted(const RunInfo&) override { return {}; }
    // The analog marks at the sample's column, the digital lines at the next one, then the frame over
    // everything; the chart is told once what the two halves changed. A note or a reply without a
    // frame draws nothing.
    report::Done Take(const DecodedSample& sample) override;
    // A new sweep: the grid is drawn afresh and no digital line continues from before.
    void ResetSweep();

    // Whether the sweep's grid has been drawn, and each digital line's last level.
    std::uint8_t GridDrawn = 0;
    std::uint8_t LevelWasLow[4] = {0, 0, 0, 0};

private:
    RunChart& chart_;
    std::function<RunSettings()> settings_;
    FileIndex fileIndex_;
};

} // namespace acquisition
