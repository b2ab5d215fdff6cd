// The run without the window (--headless), started as users start an unattended run:
//   start-up  from starting the program to its first request reaching the unit: a pseudo-terminal
//             that watches for it stands in for the unit, and the run records into a folder. One start
//             warms the caches; then the median of kStarts. Target: under 100 ms, about what the
//             hidden window that --headless used to be took.
//   memory    the peak resident set (from wait4) of a whole run of one sweep, 601 samples at sampling
//             time 1 on a 20 ms tick, on the unit emulator: without the sweep files (an event loop and
//             the record) and with them (the chart and the log kept and saved at the sweep end).
//             Targets: 28 and 36 MiB, below the 39 and 40 MiB of the hidden window.
// TAVRIN_PROGRAM=PATH measures another build of the logger the same way.
#include "bench/benchmark_main.h"
#include "bench/child_process.h"
#include "bench/emulated_unit.h"
#include "bench/program_under_test.h"
#include "bench/repeated_starts.h"
#include "bench/sample_spread.h"
#include "bench/settings_folder.h"
#include "bench/silent_terminal.h"
#include "bench/target_report.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kStarts = 10;
constexpr double kStartTargetSeconds = 0.1;
constexpr auto kGiveUpAfter = 20s;
// One sweep of 601 samples, a sample a tick: about 12 s. The reply wait is 10 ticks (200 ms), far
// longer than the emulator's answer, even on a loaded machine.
constexpr int kSweepTickMs = 20;
constexpr auto kSweepGiveUpAfter = 120s;
constexpr double kPeakTargetMib = 28;
constexpr double kPeakWithSweepFilesTargetMib = 36;

const std::string program = bench::ProgramUnderTest(TAVRIN_EXECUTABLE);

bench::RepeatedStarts starts;

struct Peak {
    bool sweepFiles;
    double mib;
    double seconds;
};
std::vector<Peak> peaks;

// Seconds from starting the program to its first request on a fresh silent unit.
double StartOnce(const bench::SettingsFolder& settings, const QTemporaryDir& scratch) {
    const bench::SilentTerminal unit;
    const auto start = Clock::now();
    bench::ChildProcess child(program,
                              {"--headless", "--device", "tty:" + unit.PortPath(), "--param-dir",
                               settings.PathString(), "--record", scratch.path().toStdString()},
                              QDir(scratch.path()).filePath("output").toStdString(),
                              scratch.path().toStdString());
    if (!unit.AwaitRequest(kGiveUpAfter))
        throw std::runtime_error("no request within 20 s:\n" + child.OutputTail());
    const auto polled = Clock::now();
    child.Kill();
    return std::chrono::duration<double>(polled - start).count();
}

void HeadlessStartToFirstRequest(benchmark::State& state) {
    starts.Time(state, StartOnce);
}
BENCHMARK(HeadlessStartToFirstRequest)->Iterations(kStarts)->UseManualTime()->Unit(benchmark::kMillisecond);

// range(0): 1 with the sweep files saved.
void HeadlessSweepPeakMemory(benchmark::State& state) {
    const bool sweepFiles = state.range(0) != 0;
    for (auto _ : state) {
        try {
            const QTemporaryDir scratch;
            const bench::SettingsFolder settings({1, false});
            const bench::EmulatedUnit unit(UNIT_EMULATOR, scratch.path().toStdString());
            const auto start = Clock::now();
            bench::ChildProcess child(
                program,
                {"--headless", "--device", "tty:" + unit.PortPath(), "--param-dir", settings.PathString(),
                 "--record", scratch.path().toStdString(), "--tick-ms", std::to_string(kSweepTickMs),
                 "--auto-save", sweepFiles ? "on" : "off"},
                QDir(scratch.path()).filePath("output").toStdString(), scratch.path().toStdString());
            const auto status = child.WaitForExit(kSweepGiveUpAfter);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (!status || *status != 0 || !child.PeakRssKib())
                throw std::runtime_error("the run did not end normally (status " +
                                         (status ? std::to_string(*status) : std::string("none")) + "):\n" +
                                         child.OutputTail());
            const double mib = double(*child.PeakRssKib()) / 1024;
            peaks.push_back({sweepFiles, mib, seconds});
            state.SetIterationTime(seconds);
            state.counters["peak_mib"] = mib;
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
}
BENCHMARK(HeadlessSweepPeakMemory)
    ->ArgName("sweep_files")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void Summarise() {
    auto& report = bench::Report();
    report.Note("logger: " + program);
    if (!starts.seconds.empty()) {
        const auto spread = bench::SpreadOf(starts.seconds);
        report.Note("tavrin --headless --device tty:PTY --record DIR; " + starts.Summary());
        report.Add(bench::Format("headless start-up to the first request (median of %zu)", spread.count),
                   bench::Format("< %.0f ms", 1000 * kStartTargetSeconds),
                   bench::Format("%.0f ms", 1000 * spread.median), spread.median < kStartTargetSeconds);
    }
    for (const Peak& peak : peaks) {
        const double target = peak.sweepFiles ? kPeakWithSweepFilesTargetMib : kPeakTargetMib;
        report.Add(bench::Format("peak memory of a headless sweep (601 samples on the unit emulator), %s",
                                 peak.sweepFiles ? "sweep files saved" : "no sweep files"),
                   bench::Format("< %.0f MiB", target),
                   bench::Format("%.1f MiB resident (run of %.1f s)", peak.mib, peak.seconds),
                   peak.mib < target);
    }
    report.Print();
}

} // namespace

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv, {}, Summarise);
}
