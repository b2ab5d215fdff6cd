// CPU time over wall time while the logger should be doing next to nothing:
//   idle      the program with its window and the 100 ms tick, no run
//   silent    reply waits on a unit that never answers, each ending in the 10-tick
//             time-out, in this process through TForm1 with Qt's event loop as the
//             pump and the real tick: on a pseudo-terminal (woken by its descriptor)
//             and on the simulated unit (woken by the tick alone)
//   sampling  the program in a continuous run at the default sampling time (10 ticks)
//             on the simulated unit, whose replies take their wire time
// Target for each: under 1 % of one core; a wait that spins would use 100 %.
//
// And as a user runs it: the program's real window on a real X server (Xvfb), polling the unit
// emulator on a pseudo-terminal, its whole process measured over 20 s:
//   idle      unit connected, no run, 100 ms tick            target 0.03 % of a core
//   10/s      sampling time 1 on the 100 ms tick             target 0.30 %
//   100/s     sampling time 1 on a 10 ms tick (--tick-ms 10) target 3 %
// And the same 10/s with the trend window shown beside the main window and following the run
// (--trend): target at most 1.5 times the main window's figure alone.
// Beside them, on the same X server: a bare Qt window whose only work is one label's text, changed
// once a second (as the clock box is), every 100 ms and every 10 ms. No target: it is the floor the
// toolkit and the display server set for one repaint on this machine.
//
// Over the same 20 s, the wake-ups: the context switches of every thread of the process (each time
// one stopped, to wait or because the scheduler ran another task), from /proc, per sample taken (the
// rows the run record gained) or per repaint of the bare window. A sample has to wait for its tick,
// for the unit's reply and, like the bare window's repaint, for the display server; the target is
// the bare window's count at the same rate plus one.
// The same 10/s again with the logger on a core of its own and the X server and the unit emulator on
// another: what is left are the logger's own wake-ups, without the preemptions by the two processes
// each sample wakes (on a real unit the request goes to the kernel's USB driver, not to a process).
// Target: 5 a sample. Needs two cores; skipped on one.
//
// TAVRIN_PROGRAM=PATH measures another build of the logger the same way.
#include "app/ombu1.h"
#include "bench/benchmark_main.h"
#include "bench/child_process.h"
#include "bench/display_server.h"
#include "bench/emulated_unit.h"
#include "bench/process_cpu_time.h"
#include "bench/program_under_test.h"
#include "bench/settings_folder.h"
#include "bench/shown_form.h"
#include "bench/silent_terminal.h"
#include "bench/target_report.h"
#include "device/backends/tty_backend.h"
#include "device/simulated_unit.h"

#include <QEventLoop>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sched.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kTargetPercent = 1.0;
// Start-up and the first paint are not part of the figure.
constexpr auto kSettle = 2s;
constexpr auto kIdleWindow = 4s;
// Five whole sampling intervals of 9 ticks: requests go out 0.9 s apart.
constexpr auto kSamplingWindow = 4500ms;
// At the default tick a wait lasts 0.9 to 1.0 s.
constexpr auto kWaitWindow = 3s;
// A shorter tick (as --tick-ms 20 gives) packs five times the waits into less time,
// each still 10 ticks long, but also runs the tick five times as often.
constexpr int kShortTickMs = 20;
constexpr auto kShortTickWaitWindow = 2s;
// The window on a display server, as a user runs it.
constexpr auto kDisplayWindow = 20s;
// A new X server and a window painted for the first time: fonts, the first sweep's whole chart.
constexpr auto kDisplaySettle = 5s;
constexpr double kDisplayIdleTarget = 0.03;
constexpr double kTenPerSecondTarget = 0.30;
constexpr double kHundredPerSecondTarget = 3.0;
constexpr double kTrendWindowFactor = 1.5;
// A sample's exchange with the unit: one wake-up more than the bare window's repaint.
constexpr double kExchangeWakeups = 1.0;
// The logger's wake-ups a sample when nothing else shares its core: the tick, the reply, the flush
// to the X server and its answer, and a little more.
constexpr double kCoreOfItsOwnWakeups = 5.0;

const std::string logger = bench::ProgramUnderTest(TAVRIN_EXECUTABLE);

struct Usage {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    bench::ContextSwitches switches; // every thread's, over the measurement
    long samples = 0;                // samples taken (or repaints) over the measurement; 0: not counted
    double Percent() const { return wallSeconds > 0 ? 100.0 * cpuSeconds / wallSeconds : 0; }
    double PerSample(long long count) const { return samples > 0 ? double(count) / double(samples) : 0; }
};

struct Figure {
    std::string name;
    std::string detail;
    Usage usage;
    double target; // per cent of one core; 0: none
};
std::vector<Figure> figures;

// Wake-ups per sample of the window on Xvfb, and per repaint of the bare window.
struct Wakeups {
    std::string name;
    Usage usage;
    int periodMs; // a sample or a repaint every periodMs
    bool bareWindow;
    bool coreOfItsOwn = false;
};
std::vector<Wakeups> wakeups;

template <class Duration> double Seconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}

// Rows in the run records of `folder`: the samples taken so far.
long RecordRows(const QString& folder) {
    long rows = 0;
    const QDir records(folder);
    for (const QString& name : records.entryList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile file(records.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            rows += long(file.readAll().count('\n'));
    }
    return rows;
}

// Starts the program (the logger unless told), lets it settle, and measures it over `window`;
// `samplesSoFar`, when given, counts what it has done.
Usage MeasureProgram(const std::vector<std::string>& arguments, Clock::duration window,
                     Clock::duration settle = kSettle, const std::string& program = logger,
                     const std::function<long()>& samplesSoFar = {}) {
    QTemporaryDir scratch;
    bench::ChildProcess child(program, arguments, QDir(scratch.path()).filePath("output").toStdString());
    const auto failed = [&child, program](const std::string& when) {
        const auto status = child.WaitForExit(0ms);
        return std::runtime_error(std::string(program) + " ended " + when + " (status " +
                                  (status ? std::to_string(*status) : std::string("unknown")) + "):\n" +
                                  child.OutputTail());
    };
    std::this_thread::sleep_for(settle);
    const long samples0 = samplesSoFar ? samplesSoFar() : 0;
    const auto switches0 = bench::ProcessContextSwitches(child.Pid());
    const auto cpu0 = bench::ProcessCpuTime(child.Pid());
    const auto wall0 = Clock::now();
    if (!child.Running() || !cpu0 || !switches0)
        throw failed("while starting");
    std::this_thread::sleep_for(window);
    const auto cpu1 = bench::ProcessCpuTime(child.Pid());
    const auto wall1 = Clock::now();
    const auto switches1 = bench::ProcessContextSwitches(child.Pid());
    const long samples1 = samplesSoFar ? samplesSoFar() : 0;
    if (!child.Running() || !cpu1 || !switches1)
        throw failed("during the measurement");
    child.Kill();
    return {Seconds(*cpu1 - *cpu0), Seconds(wall1 - wall0), *switches1 - *switches0, samples1 - samples0};
}

// Reply waits back to back on a unit that never answers: runs that each end by the time-out, one
// START after another, in the program's own event loop.
Usage MeasureSilentWaits(std::unique_ptr<device::Backend> unit, int tickMs, int& waits) {
    bench::ShownFormOptions options;
    options.tickMs = tickMs;
    const auto window = tickMs == kShortTickMs ? kShortTickWaitWindow : kWaitWindow;
    bench::ShownForm shown(std::move(unit), options);
    TForm1& form = shown.Form();
    QEventLoop loop;
    QObject::connect(&form, &TForm1::RunEnded, &loop, &QEventLoop::quit);
    const auto wait = [&] {
        form.Button3Click();
        if (form.RunInProgress())
            loop.exec();
        if (form.LastRunEnd() != TForm1::LastRun::TimedOut)
            throw std::runtime_error("the silent unit replied");
    };
    // The first wait lines the waits up with the tick.
    wait();
    waits = 0;
    const auto cpu0 = bench::OwnCpuTime();
    const auto wall0 = Clock::now();
    while (Clock::now() - wall0 < window) {
        wait();
        ++waits;
    }
    const auto cpu1 = bench::OwnCpuTime();
    const auto wall1 = Clock::now();
    return {Seconds(cpu1 - cpu0), Seconds(wall1 - wall0), {}, 0};
}

void Record(benchmark::State& state, const std::string& name, const Usage& usage, std::string detail,
            bool targeted = true, double target = kTargetPercent) {
    state.SetIterationTime(usage.wallSeconds);
    state.counters["cpu_percent"] = usage.Percent();
    if (targeted)
        state.counters["target_percent"] = target;
    figures.push_back({name, std::move(detail), usage, targeted ? target : 0});
}

// While it lives, programs started go to the X server of `display` instead of running off-screen.
class OnDisplay {
public:
    explicit OnDisplay(const bench::DisplayServer& display)
        : display_(qgetenv("DISPLAY")), platform_(qgetenv("QT_QPA_PLATFORM")) {
        qputenv("DISPLAY", QByteArray::fromStdString(display.Display()));
        qunsetenv("QT_QPA_PLATFORM");
    }
    ~OnDisplay() {
        Restore("DISPLAY", display_);
        Restore("QT_QPA_PLATFORM", platform_);
    }
    OnDisplay(const OnDisplay&) = delete;
    OnDisplay& operator=(const OnDisplay&) = delete;

private:
    static void Restore(const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    QByteArray display_, platform_;
};

// The processes this thread starts while it lives run on one core (a child takes the affinity of the
// thread that forks it); the thread's own affinity comes back at the end.
class ChildrenOnCore {
public:
    explicit ChildrenOnCore(int core) {
        CPU_ZERO(&before_);
        if (::sched_getaffinity(0, sizeof before_, &before_) != 0)
            throw std::runtime_error("cannot read this thread's cores");
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(core, &one);
        if (::sched_setaffinity(0, sizeof one, &one) != 0)
            throw std::runtime_error("cannot keep the started processes on core " + std::to_string(core));
    }
    ~ChildrenOnCore() { ::sched_setaffinity(0, sizeof before_, &before_); }
    ChildrenOnCore(const ChildrenOnCore&) = delete;
    ChildrenOnCore& operator=(const ChildrenOnCore&) = delete;

private:
    cpu_set_t before_;
};

// The program with its window on Xvfb, on the unit emulator, with sampling time 1 and continuous
// measurement; `start` presses START (and ends the program, failing the figure, should the run end);
// `trend` opens the trend window beside it; `coreOfItsOwn` puts the X server and the emulator on core
// 1 and the logger on core 0.
Usage MeasureOnDisplay(int tickMs, bool start, bool trend = false, bool coreOfItsOwn = false) {
    QTemporaryDir scratch;
    const std::string folder = scratch.path().toStdString();
    std::optional<ChildrenOnCore> cores;
    if (coreOfItsOwn)
        cores.emplace(1);
    bench::DisplayServer display(folder);
    bench::EmulatedUnit unit(UNIT_EMULATOR, folder);
    if (coreOfItsOwn) {
        cores.reset();
        cores.emplace(0);
    }
    bench::SettingsFolder settings({1, true});
    std::vector<std::string> arguments = {"--device",    "tty:" + unit.PortPath(),
                                          "--param-dir", settings.PathString(),
                                          "--tick-ms",   std::to_string(tickMs)};
    if (start) {
        // The run record is written as users have it, into the settings folder rather than here.
        for (const char* argument : {"--start", "--exit-after-run", "--record"})
            arguments.push_back(argument);
        arguments.push_back(settings.PathString());
    }
    if (trend)
        arguments.push_back("--trend");
    OnDisplay onDisplay(display);
    return MeasureProgram(arguments, kDisplayWindow, kDisplaySettle, logger,
                          [&settings] { return RecordRows(settings.Path()); });
}

// The bare window on its own X server, its label changed every `periodMs`.
Usage MeasureBareWindowOnDisplay(int periodMs) {
    QTemporaryDir scratch;
    bench::DisplayServer display(scratch.path().toStdString());
    OnDisplay onDisplay(display);
    Usage usage = MeasureProgram({std::to_string(periodMs)}, kDisplayWindow, kDisplaySettle, BARE_WINDOW);
    usage.samples = std::lround(1000 * usage.wallSeconds / periodMs);
    return usage;
}

// The waits at the default tick carry the target; at the short tick they only show
// how the cost goes with the tick.
void RecordWaits(benchmark::State& state, const char* unit, int tickMs, const Usage& usage, int waits) {
    state.counters["waits"] = waits;
    Record(state, bench::Format("reply waits on a silent %s, %d ms tick", unit, tickMs), usage,
           bench::Format("%d waits of %.0f ms", waits, 1000 * usage.wallSeconds / waits),
           tickMs != kShortTickMs);
}

template <class Measure> void Run(benchmark::State& state, Measure measure) {
    for (auto _ : state) {
        try {
            measure();
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
}

void IdleWindow(benchmark::State& state) {
    Run(state, [&state] {
        bench::SettingsFolder settings;
        const Usage usage =
            MeasureProgram({"--device", "sim", "--param-dir", settings.PathString()}, kIdleWindow);
        Record(state, "idle window, 100 ms tick, no run", usage, "tavrin --device sim, no --start");
    });
}
BENCHMARK(IdleWindow)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// range(0): the tick in milliseconds.
void WaitOnSilentTerminal(benchmark::State& state) {
    Run(state, [&state] {
        const int tickMs = int(state.range(0));
        bench::SilentTerminal terminal;
        int waits = 0;
        const Usage usage =
            MeasureSilentWaits(device::TtyBackend::ForPort(terminal.PortPath()), tickMs, waits);
        RecordWaits(state, "pseudo-terminal", tickMs, usage, waits);
    });
}
BENCHMARK(WaitOnSilentTerminal)
    ->ArgName("tick_ms")
    ->Arg(100)
    ->Arg(kShortTickMs)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void WaitOnSilentSimulatedUnit(benchmark::State& state) {
    Run(state, [&state] {
        const int tickMs = int(state.range(0));
        device::SimulatedUnitOptions unit;
        unit.faults.silentAfter = 0;
        int waits = 0;
        const Usage usage = MeasureSilentWaits(std::make_unique<device::SimulatedUnit>(unit), tickMs, waits);
        RecordWaits(state, "simulated unit", tickMs, usage, waits);
    });
}
BENCHMARK(WaitOnSilentSimulatedUnit)
    ->ArgName("tick_ms")
    ->Arg(100)
    ->Arg(kShortTickMs)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void SamplingAtDefaultTime(benchmark::State& state) {
    Run(state, [&state] {
        bench::SettingsFolder settings({10, true});
        // --exit-after-run: should the run end (a time-out), the program ends and the figure fails.
        const Usage usage = MeasureProgram({"--device", "sim", "--param-dir", settings.PathString(),
                                            "--start", "--exit-after-run", "--record", settings.PathString()},
                                           kSamplingWindow);
        Record(state, "sampling every 10 ticks on the simulated unit", usage,
               "tavrin --device sim --start, continuous, sampling time 10");
    });
}
BENCHMARK(SamplingAtDefaultTime)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void IdleOnDisplay(benchmark::State& state) {
    Run(state, [&state] {
        Record(state, "idle window on Xvfb, unit connected, 100 ms tick, no run",
               MeasureOnDisplay(100, false), "tavrin --device tty:EMULATOR, no --start", true,
               kDisplayIdleTarget);
    });
}
BENCHMARK(IdleOnDisplay)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// range(0): the tick in milliseconds; sampling time 1 takes one sample a tick.
void SamplingOnDisplay(benchmark::State& state) {
    Run(state, [&state] {
        const int tickMs = int(state.range(0));
        const int perSecond = 1000 / tickMs;
        const std::string name =
            bench::Format("%d samples/s on Xvfb (sampling time 1, %d ms tick)", perSecond, tickMs);
        const Usage usage = MeasureOnDisplay(tickMs, true);
        if (usage.samples <= 0)
            throw std::runtime_error("no sample was recorded during the measurement");
        state.counters["wakeups_per_sample"] = usage.PerSample(usage.switches.Total());
        Record(state, name, usage,
               bench::Format("tavrin --device tty:EMULATOR --tick-ms %d --start, continuous", tickMs), true,
               tickMs == 100 ? kTenPerSecondTarget : kHundredPerSecondTarget);
        wakeups.push_back({name, usage, tickMs, false});
    });
}
BENCHMARK(SamplingOnDisplay)
    ->ArgName("tick_ms")
    ->Arg(100)
    ->Arg(10)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void SamplingOnDisplayOnACoreOfItsOwn(benchmark::State& state) {
    if (std::thread::hardware_concurrency() < 2) {
        state.SkipWithError("needs two cores");
        return;
    }
    Run(state, [&state] {
        const std::string name = "10 samples/s on Xvfb, the logger on a core of its own";
        const Usage usage = MeasureOnDisplay(100, true, false, true);
        if (usage.samples <= 0)
            throw std::runtime_error("no sample was recorded during the measurement");
        state.counters["wakeups_per_sample"] = usage.PerSample(usage.switches.Total());
        Record(state, name, usage,
               "tavrin on core 0, Xvfb and the emulator on core 1, --tick-ms 100 --start, continuous", false);
        wakeups.push_back({name, usage, 100, false, true});
    });
}
BENCHMARK(SamplingOnDisplayOnACoreOfItsOwn)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

std::optional<Usage> tenPerSecond, tenPerSecondWithTrend;

// 10 samples a second with the trend window shown and following, and without it, one after the other.
void SamplingOnDisplayWithTrend(benchmark::State& state) {
    Run(state, [&state] {
        tenPerSecond = MeasureOnDisplay(100, true);
        tenPerSecondWithTrend = MeasureOnDisplay(100, true, true);
        Record(state, "10 samples/s on Xvfb with the trend window following (sampling time 1, 100 ms tick)",
               *tenPerSecondWithTrend, "tavrin --device tty:EMULATOR --start --trend, continuous", false);
    });
}
BENCHMARK(SamplingOnDisplayWithTrend)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// range(0): how often the label changes, in milliseconds.
void BareWindowOnDisplay(benchmark::State& state) {
    Run(state, [&state] {
        const int periodMs = int(state.range(0));
        const std::string name =
            bench::Format("bare Qt window on Xvfb, one label changed every %d ms", periodMs);
        const Usage usage = MeasureBareWindowOnDisplay(periodMs);
        state.counters["wakeups_per_repaint"] = usage.PerSample(usage.switches.Total());
        Record(state, name, usage, "bare_window: nothing but the label and its timer", false);
        wakeups.push_back({name, usage, periodMs, true});
    });
}
BENCHMARK(BareWindowOnDisplay)
    ->ArgName("period_ms")
    ->Arg(1000)
    ->Arg(100)
    ->Arg(10)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void Summarise() {
    auto& report = bench::Report();
    report.Note(bench::Format("CPU of every thread over wall time, after %lld s to settle; the program runs "
                              "off-screen (QT_QPA_PLATFORM=offscreen), except the figures on Xvfb, where it "
                              "shows its window on a private X server and polls the unit emulator on a "
                              "pseudo-terminal, measured after %lld s to settle",
                              static_cast<long long>(kSettle.count()),
                              static_cast<long long>(kDisplaySettle.count())));
    report.Note("the reply waits run in this process: TForm1 on the real event-loop pump and tick, shown "
                "off-screen, ExchangeSample called back to back");
    report.Note("logger: " + logger);
    report.Note(
        bench::Format("with a %d ms tick (as --tick-ms %d) a wait lasts %d ms, and the tick (clock box "
                      "and its repaint) fires %dx as often as at 100 ms: that figure has no target",
                      kShortTickMs, kShortTickMs, 10 * kShortTickMs, 100 / kShortTickMs));
    for (const Figure& figure : figures) {
        const std::string name = figure.name + " (" + figure.detail + ")";
        const std::string measured = bench::Format("%.3f%% (%.3f s CPU in %.2f s)", figure.usage.Percent(),
                                                   figure.usage.cpuSeconds, figure.usage.wallSeconds);
        if (figure.target > 0)
            report.Add(name, bench::Format("<= %.2f%% of one core", figure.target), measured,
                       figure.usage.Percent() <= figure.target);
        else
            report.AddUntargeted(name, measured);
    }
    if (tenPerSecond && tenPerSecondWithTrend && tenPerSecond->Percent() > 0) {
        const double factor = tenPerSecondWithTrend->Percent() / tenPerSecond->Percent();
        report.Add("10 samples/s on Xvfb, with the trend window following against the main window alone "
                   "(measured one after the other)",
                   bench::Format("<= %.1fx", kTrendWindowFactor),
                   bench::Format("%.2fx (%.3f%% against %.3f%%)", factor, tenPerSecondWithTrend->Percent(),
                                 tenPerSecond->Percent()),
                   factor <= kTrendWindowFactor);
    }
    const auto perSample = [](const Usage& usage) {
        return bench::Format(
            "%.2f (%.2f voluntary, %.2f involuntary; %lld in %ld)", usage.PerSample(usage.switches.Total()),
            usage.PerSample(usage.switches.voluntary), usage.PerSample(usage.switches.involuntary),
            usage.switches.Total(), usage.samples);
    };
    for (const Wakeups& w : wakeups) {
        if (w.bareWindow) {
            report.AddUntargeted("wake-ups per repaint: " + w.name, perSample(w.usage));
            continue;
        }
        const auto bare = std::find_if(wakeups.begin(), wakeups.end(), [&w](const Wakeups& other) {
            return other.bareWindow && other.periodMs == w.periodMs;
        });
        const std::string name = "wake-ups per sample: " + w.name;
        if (w.coreOfItsOwn) {
            report.Add(name, bench::Format("<= %.0f", kCoreOfItsOwnWakeups), perSample(w.usage),
                       w.usage.PerSample(w.usage.switches.Total()) <= kCoreOfItsOwnWakeups);
            continue;
        }
        if (bare == wakeups.end()) {
            report.AddUntargeted(name, perSample(w.usage));
            continue;
        }
        const double target = bare->usage.PerSample(bare->usage.switches.Total()) + kExchangeWakeups;
        report.Add(name, bench::Format("<= %.2f (the bare window's at %d ms, plus one)", target, w.periodMs),
                   perSample(w.usage), w.usage.PerSample(w.usage.switches.Total()) <= target);
    }
    report.Print();
}

} // namespace

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv, {}, Summarise);
}
