// The main of every benchmark program.
#pragma once

#include <functional>

namespace bench {

// Takes Google Benchmark's arguments, selects the off-screen platform (for this
// program and for any logger it starts as a child), makes the QApplication that
// fonts and widgets need, runs `prepare`, the registered benchmarks, and then
// `summarise`, which prints each figure beside its target.
int BenchmarkMain(int argc, char** argv, const std::function<void()>& prepare = {},
                  const std::function<void()>& summarise = {});

} // namespace bench
