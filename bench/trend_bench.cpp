#include "bench/benchmark_main.h"
#include "bench/target_report.h"
#include "bench/week_record.h"
#include "trend/record_reader.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

namespace {
using Clock = std::chrono::steady_clock;
void OpenWeek(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("week.csv");
    auto t0 = Clock::now();
    if (auto p = bench::WriteWeekRecord(path)) { state.SkipWithError(qPrintable(*p)); return; }
    std::printf("written in %.2f s\n", std::chrono::duration<double>(Clock::now() - t0).count());
    for (auto _ : state) {
        t0 = Clock::now();
        auto read = trend::ReadRecord(path);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf("read %zu rows in %.3f s, %zu bytes (%.1f a row) %s\n", read.trace ? read.trace->Size() : 0, s,
                    read.trace ? read.trace->MemoryBytes() : 0, read.trace ? double(read.trace->MemoryBytes()) / read.trace->Size() : 0.0, qPrintable(read.problem));
    }
}
BENCHMARK(OpenWeek)->Iterations(2)->Unit(benchmark::kSecond);
}

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv, {}, {});
}
