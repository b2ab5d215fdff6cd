// The run record's cost per sample: the reply decoded, stamped by the feed with
// its time, elapsed time and sweep, formatted as a row and written to the kernel
// (what a run adds to each sample for its record), early in a record and after a
// day's worth of rows at the shortest sampling time (864,000 rows of 0.1 s); and
// the sync at each sweep end, untargeted (it is the disk's figure more than ours).
//
// Targets: a sample's median at most 10 us, both early and after a day; the late
// median at most 1.5 times the early one (no growth over a day's rows). And what
// channels in their own units with limits add to a sample (the value worked out
// and written, the limits watched): at most 1 us on the median.
#include "acquisition/reply_decoding.h"
#include "acquisition/sample_feed.h"
#include "bench/benchmark_main.h"
#include "bench/sample_spread.h"
#include "bench/target_report.h"
#include "record/run_record_file.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>

namespace {

constexpr double kTargetUs = 10.0;
constexpr double kMaxGrowth = 1.5;
constexpr long kRowsPerDay = 864'000;
constexpr int kTimedRows = 10'000; // of each record
constexpr int kBatchRows = 500;
constexpr int kSweepRows = 601;
constexpr double kUnitsTargetUs = 1.0;

using Clock = std::chrono::steady_clock;

const QByteArray kReply("AD0=307 V, AD1=123?\r\n");

std::map<long, bench::SampleSpread> rowSpreads; // rows already in the record -> per-sample spread
bench::SampleSpread syncSpread;
bench::SampleSpread voltsSpread;
bench::SampleSpread unitsSpread;

struct Record {
    QTemporaryDir dir;
    record::RunRecordFile file{dir.path()};
    acquisition::SampleFeed feed{{&file}, {}, [](const acquisition::SampleSink& sink, const QString& m) {
                                     std::fprintf(stderr, "%s: %s\n", sink.Module(), qPrintable(m));
                                 }};
    device::RxBufferBytes rx{};
    long rows = 0;

    explicit Record(const channels::Channels& channels = channels::DefaultChannels()) {
        std::copy(kReply.begin(), kReply.end(), rx.begin());
        feed.RunStarted({QDateTime::currentDateTime(), QStringLiteral("bench"), QStringLiteral("sim"), channels});
    }
    // One sample as the run feeds it; a sweep ends every 601.
    void Sample() {
        feed.Take(acquisition::SampleOf(acquisition::DecodeReply(rx), {true, true}), QDateTime::currentDateTime(), int(rows % kSweepRows));
        if (++rows % kSweepRows == 0)
            feed.SweepEnded();
    }
};

// Two records take samples batch by batch in turns, so that the load of a shared machine falls on both
// alike; each sample's time goes to its record's list. Says the time of them all, in microseconds.
double InTurns(Record& first, Record& second, std::vector<double> (&us)[2]) {
    double total = 0;
    for (int batch = 0; batch < kTimedRows / kBatchRows; ++batch)
        for (int which = 0; which < 2; ++which)
            for (int i = 0; i < kBatchRows; ++i) {
                const auto t0 = Clock::now();
                (which == 0 ? first : second).Sample();
                const double d = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
                us[which].push_back(d);
                total += d;
            }
    return total;
}

// A fresh record and one holding a day's rows take turns, batch by batch, so that the load of a
// shared machine falls on both alike.
void RowCost(benchmark::State& state) {
    for (auto _ : state) {
        Record early;
        Record late;
        while (late.rows < kRowsPerDay)
            late.Sample();
        std::vector<double> us[2];
        state.SetIterationTime(InTurns(early, late, us) / 1e6);
        rowSpreads[0] = bench::SpreadOf(std::move(us[0]));
        rowSpreads[kRowsPerDay] = bench::SpreadOf(std::move(us[1]));
        state.counters["early_median_us"] = rowSpreads[0].median;
        state.counters["late_median_us"] = rowSpreads[kRowsPerDay].median;
    }
}
BENCHMARK(RowCost)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void SweepSync(benchmark::State& state) {
    for (auto _ : state) {
        Record r;
        std::vector<double> us;
        for (int sweep = 0; sweep < 20; ++sweep) {
            for (int i = 0; i < kSweepRows - 1; ++i)
                r.Sample();
            const auto t0 = Clock::now();
            r.Sample(); // the 601st: its row and the sync
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        syncSpread = bench::SpreadOf(std::move(us));
        state.SetIterationTime(syncSpread.mean * double(syncSpread.count) / 1e6);
    }
}
BENCHMARK(SweepSync)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// An oven on AD0 (0-5 V is 0-500 °C, limits 100:400) and a pressure on AD1 (1-5 V is 0-10 bar, high
// limit 8 held 5 s), against the same record in volts, batch by batch.
void UnitsAndLimits(benchmark::State& state) {
    channels::Channels units = channels::DefaultChannels();
    units[0].unit = QStringLiteral("°C");
    units[0].scale = *channels::ParseScale(QStringLiteral("0=0,5=500"));
    units[0].limits = *channels::ParseLimits(QStringLiteral("100:400"));
    units[1].unit = QStringLiteral("bar");
    units[1].scale = *channels::ParseScale(QStringLiteral("1=0,5=10"));
    units[1].limits = *channels::ParseLimits(QStringLiteral(":8"));
    units[1].limits.holdS = 5;
    for (auto _ : state) {
        Record volts;
        Record scaled(units);
        std::vector<double> us[2];
        state.SetIterationTime(InTurns(volts, scaled, us) / 1e6);
        voltsSpread = bench::SpreadOf(std::move(us[0]));
        unitsSpread = bench::SpreadOf(std::move(us[1]));
        state.counters["units_extra_us"] = unitsSpread.median - voltsSpread.median;
    }
}
BENCHMARK(UnitsAndLimits)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void Summarise() {
    auto& report = bench::Report();
    report.Note("a record in a temporary folder; each sample decoded, stamped with the current time, written");
    for (const auto& [before, spread] : rowSpreads)
        report.Add(bench::Format("record, one sample after %ld rows (median)", before),
                   bench::Format("<= %.0f us", kTargetUs),
                   bench::Format("%.2f us (p99 %.2f us; mean with the sweep ends' syncs %.2f us)", spread.median,
                                 spread.p99, spread.mean),
                   spread.median <= kTargetUs);
    if (rowSpreads.count(0) && rowSpreads.count(kRowsPerDay)) {
        const double growth = rowSpreads[kRowsPerDay].median / rowSpreads[0].median;
        report.Add("record, a day's rows later against early (medians)", bench::Format("<= %.1fx", kMaxGrowth),
                   bench::Format("%.2fx", growth), growth <= kMaxGrowth);
    }
    if (syncSpread.count > 0)
        report.AddUntargeted("record, the sample that ends a sweep, with the sync (median)",
                             bench::Format("%.0f us (p90 %.0f us)", syncSpread.median, syncSpread.p90));
    if (unitsSpread.count > 0) {
        const double extra = unitsSpread.median - voltsSpread.median;
        report.Add("record, what units and limits add to a sample (medians)", bench::Format("<= %.1f us", kUnitsTargetUs),
                   bench::Format("%.2f us (%.2f us in volts, %.2f us in °C and bar with limits)", extra,
                                 voltsSpread.median, unitsSpread.median),
                   extra <= kUnitsTargetUs);
    }
    report.Print();
}

} // namespace

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv, {}, Summarise);
}
