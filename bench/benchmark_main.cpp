#include "bench/benchmark_main.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace bench {

int BenchmarkMain(int argc, char** argv, const std::function<void()>& prepare,
                  const std::function<void()>& summarise) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (prepare)
        prepare();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (summarise)
        summarise();
    return 0;
}

} // namespace bench
