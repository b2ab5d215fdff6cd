// One whole sample as the run handles it, through TForm1 on the simulated unit
// answering at once (no wire time), so only the logger's own work is timed:
//   exchange  request, queue query, read, log line (ExchangeSample)
//   plot      frame check, analog marks, the pump inside (which repaints the new
//             log line and chart column when the window is shown), digital lines,
//             frame redraw over the sample's columns (PlotReply)
//   status    the run's two status texts, and every 601 samples the sweep's wrap
//             (ResetSweep and ClearChart, as continuous measurement does)
//   repaint   what the waits dispatch: the reply wait the blank status, the
//             interval wait the window's repaint of the sample
// Target: PlotReply's median under 100 µs.
#include "app/log_pane/log_view.h"
#include "app/ombu1.h"
#include "bench/benchmark_main.h"
#include "bench/sample_spread.h"
#include "bench/shown_form.h"
#include "bench/target_report.h"
#include "device/exchange.h"
#include "device/simulated_unit.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <map>

namespace {

constexpr double kPlotTargetUs = 100;

enum Part { kExchange, kPlot, kStatus, kRepaint, kWhole, kPartCount };
constexpr std::array<const char*, kPartCount> kPartNames = {"exchange", "plot", "status", "repaint", "whole"};

using Clock = std::chrono::steady_clock;

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// The request and its reply, read as soon as the simulated unit (which answers at once) has it, and
// logged as the run logs it.
device::ExchangeResult ExchangeAtOnce(TForm1& f) {
    f.Unit().SendRequest();
    for (int look = 0; look < 1000; ++look)
        if (f.Unit().TakeReply(1, f.RxBuffer) == device::ExchangeResult::Replied) {
            if (f.Unit().Status() == FT_OK)
                f.Memo1->AppendReply(QByteArray(reinterpret_cast<const char*>(f.RxBuffer.data())));
            return device::ExchangeResult::Replied;
        }
    return device::ExchangeResult::TimedOut;
}

bench::ShownForm* form = nullptr;
// How the window takes part.
enum Window {
    kShown,         // as in the program: PlotReply's pump repaints the new log line and chart column
    kShownLogFirst, // the log line repainted before PlotReply, to tell its share
    kHidden,        // nothing repainted: the drawing alone
};
constexpr std::array<const char*, 3> kWindowNames = {"window shown", "window shown, log line painted first",
                                                     "window hidden"};

// The spread of every part, for each Window.
std::map<int, std::array<bench::SampleSpread, kPartCount>> spreads;

void OneSample(benchmark::State& state) {
    const auto window = Window(state.range(0));
    const bool shown = window != kHidden;
    TForm1& f = form->Form();
    f.setVisible(shown);
    QCoreApplication::processEvents();
    const QString blank(15, QLatin1Char(' '));
    const QString reading = QStringLiteral("データ読み込み中");

    std::array<std::vector<double>, kPartCount> times;
    for (auto& part : times)
        part.reserve(1 << 16);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        f.ShowStatus(blank);
        const auto t1 = Clock::now();
        // With any wire time the reply wait would dispatch this before the reply is read.
        QCoreApplication::processEvents();
        const auto t1Painted = Clock::now();
        if (ExchangeAtOnce(f) != device::ExchangeResult::Replied) {
            state.SkipWithError("the simulated unit did not reply");
            break;
        }
        const auto t2Read = Clock::now();
        if (window == kShownLogFirst)
            QCoreApplication::processEvents();
        const auto t2 = Clock::now();
        f.PlotReply();
        const auto t3 = Clock::now();
        f.ShowStatus(reading);
        if (f.SweepX > 600) {
            f.ResetSweep();
            f.ClearChart();
        }
        const auto t4 = Clock::now();
        QCoreApplication::processEvents();
        const auto t5 = Clock::now();

        times[kExchange].push_back(Microseconds(t2Read - t1Painted));
        times[kPlot].push_back(Microseconds(t3 - t2));
        times[kStatus].push_back(Microseconds((t1 - t0) + (t4 - t3)));
        times[kRepaint].push_back(Microseconds((t1Painted - t1) + (t2 - t2Read) + (t5 - t4)));
        times[kWhole].push_back(Microseconds(t5 - t0));
        state.SetIterationTime(std::chrono::duration<double>(t5 - t0).count());
    }
    auto& spread = spreads[window];
    for (int part = 0; part < kPartCount; ++part) {
        spread[part] = bench::SpreadOf(std::move(times[part]));
        state.counters[std::string(kPartNames[part]) + "_med_us"] = spread[part].median;
    }
    state.counters["plot_p99_us"] = spread[kPlot].p99;
    state.counters["plot_target_us"] = kPlotTargetUs;
    state.SetLabel(kWindowNames[window]);
}
BENCHMARK(OneSample)
    ->ArgName("window")
    ->DenseRange(kShown, kHidden)
    ->UseManualTime()
    ->MinTime(1.0)
    ->Unit(benchmark::kMicrosecond);

void Summarise() {
    auto& report = bench::Report();
    report.Note("simulated unit with no reply delay; no tick during the loop; log and chart as in a run");
    for (const auto& [window, spread] : spreads) {
        const char* name = kWindowNames[window];
        std::string parts;
        for (int part = 0; part < kPartCount; ++part)
            parts += bench::Format("%s%s %.1f", part ? ", " : "", kPartNames[part], spread[part].median);
        report.Note(bench::Format(
            "%s, medians of %zu samples in us: %s; whole sample mean %.1f us, p99 %.1f us", name,
            spread[kWhole].count, parts.c_str(), spread[kWhole].mean, spread[kWhole].p99));
        report.Add(bench::Format("PlotReply, %s (median)", name), bench::Format("< %.0f us", kPlotTargetUs),
                   bench::Format("%.1f us (p99 %.1f us)", spread[kPlot].median, spread[kPlot].p99),
                   spread[kPlot].median < kPlotTargetUs);
    }
    if (spreads.count(kShown)) {
        const auto& whole = spreads[kShown][kWhole];
        report.AddUntargeted("whole sample, window shown (median)",
                             bench::Format("%.1f us (mean %.1f us)", whole.median, whole.mean));
    }
    report.Print();
}

} // namespace

int main(int argc, char** argv) {
    std::unique_ptr<bench::ShownForm> shownForm; // made once the application exists, gone before it
    const auto prepare = [&] {
        device::SimulatedUnitOptions unit;
        unit.faults.replyDelayUs = 0;
        bench::ShownFormOptions options;
        options.runTimer = false;
        shownForm =
            std::make_unique<bench::ShownForm>(std::make_unique<device::SimulatedUnit>(unit), options);
        form = shownForm.get();
        // What START does before the first sample.
        TForm1& f = shownForm->Form();
        f.ClearChart();
        f.Memo1->Clear();
        f.WriteRunHeader();
        f.ResetSweep();
    };
    const auto summarise = [&] {
        Summarise();
        shownForm.reset();
    };
    return bench::BenchmarkMain(argc, argv, prepare, summarise);
}
