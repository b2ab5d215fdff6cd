#include "acquisition/run_view_sinks.h"

#include "chart/sample_plot.h"

#include <algorithm>

namespace acquisition {

report::Done LogSink::Take(const DecodedSample& sample) {
    if (sample.reply)
        log_.AppendReply(*sample.reply);
    return {};
}

ChartPainter::ChartPainter(RunChart& chart, std::function<RunSettings()> settings, FileIndex fileIndex)
    : chart_(chart), settings_(std::move(settings)), fileIndex_(std::move(fileIndex)) {}

report::Done ChartPainter::Take(const DecodedSample& sample) {
    if (sample.note != SampleNote::None || !sample.frame.marker)
        return {};
    QImage* picture = chart_.Chart();
    if (!picture)
        return {};
    const RunSettings settings = settings_();
    chart::SampleMarks marks;
    marks.ad0On = settings.ad0On;
    marks.ad1On = settings.ad1On;
    marks.lineMode = settings.lineMode;
    marks.ad0Color = settings.ad0Color;
    marks.ad1Color = settings.ad1Color;
    // A channel's digits count only when it is on.
    marks.ad0 = settings.ad0On ? sample.frame.ad0.chart : 0;
    marks.ad1 = settings.ad1On ? sample.frame.ad1.chart : 0;
    QRegion changed = chart::DrawSampleAnalogMarks(*picture, sample.x, marks);
    changed += chart::DrawSampleDigitalAndFrame(*picture, quint16(sample.x + 1), sample.frame.status, LevelWasLow,
                                                {settings.samplingText, settings.baseName, fileIndex_(), sample.time},
                                                GridDrawn);
    chart_.ChartChanged(changed);
    return {};
}

void ChartPainter::ResetSweep() {
    GridDrawn = 0;
    std::fill(std::begin(LevelWasLow), std::end(LevelWasLow), std::uint8_t(0));
}

} // namespace acquisition
