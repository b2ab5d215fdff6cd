// A program's start-up timed over a benchmark's iterations: one start first, to warm the caches, then one
// start an iteration. The starts and their summary line are kept for the figures printed at the end.
#pragma once

#include "bench/sample_spread.h"
#include "bench/settings_folder.h"
#include "bench/target_report.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct RepeatedStarts {
    double firstSeconds = 0;
    std::vector<double> seconds;

    // Runs `startOnce` (which returns the seconds one start took, or throws) in a settings folder and a
    // scratch folder shared by all starts; a start that throws skips the benchmark with its message.
    void Time(benchmark::State& state,
              const std::function<double(const SettingsFolder&, const QTemporaryDir&)>& startOnce) {
        try {
            const SettingsFolder settings;
            const QTemporaryDir scratch;
            firstSeconds = startOnce(settings, scratch);
            seconds.clear();
            for (auto _ : state) {
                const double took = startOnce(settings, scratch);
                seconds.push_back(took);
                state.SetIterationTime(took);
            }
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        state.counters["median_ms"] = 1000 * SpreadOf(seconds).median;
        state.counters["first_ms"] = 1000 * firstSeconds;
    }

    // "first (cold) start 24 ms, then 10 starts from 25 to 34 ms"; empty before any start.
    std::string Summary() const {
        if (seconds.empty())
            return {};
        const auto [fastest, slowest] = std::minmax_element(seconds.begin(), seconds.end());
        return Format("first (cold) start %.0f ms, then %zu starts from %.0f to %.0f ms", 1000 * firstSeconds,
                      seconds.size(), 1000 * *fastest, 1000 * *slowest);
    }
};

} // namespace bench
