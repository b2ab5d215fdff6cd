// How a set of timings spreads: the median the targets speak of, and the tail.
#pragma once

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <vector>

namespace bench {

struct SampleSpread {
    double median = 0;
    double p90 = 0;
    double p99 = 0;
    double mean = 0;
    std::size_t count = 0;
};

// Nearest-rank percentiles; all zero for no values.
inline SampleSpread SpreadOf(std::vector<double> values) {
    SampleSpread spread;
    spread.count = values.size();
    if (values.empty())
        return spread;
    std::sort(values.begin(), values.end());
    const auto rank = [&values](double q) {
        return values[std::size_t(q * double(values.size() - 1) + 0.5)];
    };
    spread.median = rank(0.5);
    spread.p90 = rank(0.9);
    spread.p99 = rank(0.99);
    spread.mean = std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
    return spread;
}

} // namespace bench
