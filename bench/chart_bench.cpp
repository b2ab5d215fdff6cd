// The cost of drawing one sample on the chart, frame included, and of a whole frame redraw.
#include "bench/benchmark_main.h"
#include "chart/chart_frame.h"
#include "chart/chart_picture.h"
#include "chart/digital_levels.h"
#include "chart/sample_plot.h"
#include "chart/sweep_state.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

namespace {

const chart::FrameTexts kTexts{QStringLiteral("10"), QStringLiteral("tavrin"), 12,
                               QDateTime(QDate(2024, 5, 1), QTime(10, 30, 0))};

chart::SampleMarks MarksFor(unsigned n) {
    chart::SampleMarks marks;
    marks.ad0 = quint16((n * 7) % 601);
    marks.ad1 = quint16((n * 13) % 601);
    marks.status = quint8('0' + (n / 8) % 16);
    return marks;
}

// One sample as the acquisition run draws it: analog marks, digital lines one column right, frame.
// The sweep starts again every 601 samples, as in continuous measurement.
void BM_OneSample(benchmark::State& state) {
    QImage picture;
    chart::ClearChart(picture);
    chart::SweepState sweep;
    unsigned n = 0;
    for (auto _ : state) {
        if (sweep.sweepX > chart::kChartRight) {
            chart::ResetSweep(sweep);
            chart::ClearChart(picture);
        }
        chart::PlotSample(picture, MarksFor(n++), sweep, kTexts);
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_OneSample);

// The worst case for the annotations: the time stamp shows a new second at every sample.
void BM_OneSampleNewSecond(benchmark::State& state) {
    QImage picture;
    chart::ClearChart(picture);
    chart::SweepState sweep;
    chart::FrameTexts texts = kTexts;
    unsigned n = 0;
    for (auto _ : state) {
        if (sweep.sweepX > chart::kChartRight) {
            chart::ResetSweep(sweep);
            chart::ClearChart(picture);
        }
        texts.now = kTexts.now.addSecs(n);
        chart::PlotSample(picture, MarksFor(n++), sweep, texts);
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_OneSampleNewSecond);

// The same sample with the frame redrawn whole, for comparison.
void BM_OneSampleFullFrame(benchmark::State& state) {
    QImage picture;
    chart::ClearChart(picture);
    chart::SweepState sweep;
    unsigned n = 0;
    for (auto _ : state) {
        if (sweep.sweepX > chart::kChartRight) {
            chart::ResetSweep(sweep);
            chart::ClearChart(picture);
        }
        const chart::SampleMarks marks = MarksFor(n++);
        chart::DrawSampleAnalogMarks(picture, sweep.sweepX, marks);
        ++sweep.sweepX;
        chart::PlotDigitalLevels(picture, sweep.sweepX, marks.status, sweep.levelWasLow);
        chart::DrawChartFrame(picture, kTexts, sweep.gridDrawn);
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_OneSampleFullFrame);

void BM_DrawChartFrame(benchmark::State& state) {
    QImage picture;
    chart::ClearChart(picture);
    quint8 gridDrawn = 0;
    for (auto _ : state) {
        chart::DrawChartFrame(picture, kTexts, gridDrawn);
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_DrawChartFrame);

// The frame with its digital-area grid, as at the first sample of a sweep.
void BM_DrawChartFrameFirstSample(benchmark::State& state) {
    QImage picture;
    chart::ClearChart(picture);
    for (auto _ : state) {
        quint8 gridDrawn = 0;
        chart::DrawChartFrame(picture, kTexts, gridDrawn);
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_DrawChartFrameFirstSample);

} // namespace

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv);
}
