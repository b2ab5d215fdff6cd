// Start-up time: from starting the program to its first shown window, FormShow done
// (parameter file read, unit opened), and back out. The program runs off-screen on
// the simulated unit with --quit-when-shown, so the time includes its exit as well:
// an upper bound. One start warms the caches first; then the median of kStarts.
// Target: under 1 s. TAVRIN_PROGRAM=PATH measures another build of the logger the same way.
#include "bench/benchmark_main.h"
#include "bench/child_process.h"
#include "bench/program_under_test.h"
#include "bench/repeated_starts.h"
#include "bench/sample_spread.h"
#include "bench/settings_folder.h"
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
constexpr double kTargetSeconds = 1.0;
constexpr auto kGiveUpAfter = 20s;

const std::string program = bench::ProgramUnderTest(TAVRIN_EXECUTABLE);
bench::RepeatedStarts starts;

double StartOnce(const bench::SettingsFolder& settings, const QTemporaryDir& scratch) {
    const auto start = Clock::now();
    bench::ChildProcess child(program,
                              {"--device", "sim", "--param-dir", settings.PathString(), "--quit-when-shown"},
                              QDir(scratch.path()).filePath("output").toStdString());
    const auto status = child.WaitForExit(kGiveUpAfter);
    const auto end = Clock::now();
    if (!status)
        throw std::runtime_error("the window was not shown within 20 s:\n" + child.OutputTail());
    if (*status != 0)
        throw std::runtime_error("the program ended with status " + std::to_string(*status) + ":\n" +
                                 child.OutputTail());
    return std::chrono::duration<double>(end - start).count();
}

void StartToShownWindow(benchmark::State& state) {
    starts.Time(state, StartOnce);
    state.counters["target_ms"] = 1000 * kTargetSeconds;
}
BENCHMARK(StartToShownWindow)->Iterations(kStarts)->UseManualTime()->Unit(benchmark::kMillisecond);

void Summarise() {
    auto& report = bench::Report();
    if (starts.seconds.empty())
        return;
    const auto spread = bench::SpreadOf(starts.seconds);
    report.Note(program + " --device sim --quit-when-shown, off-screen; " + starts.Summary());
    report.Add(bench::Format("start-up to the shown window (median of %zu)", spread.count),
               bench::Format("< %.0f ms", 1000 * kTargetSeconds),
               bench::Format("%.0f ms", 1000 * spread.median), spread.median < kTargetSeconds);
    report.Print();
}

} // namespace

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv, {}, Summarise);
}
