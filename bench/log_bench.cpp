// The run log under a long run: what one more reply costs early and late, what a day of
// replies weighs, what painting one screenful of a huge log costs (with a selection on show too),
// and what copying or searching a whole day's log costs the window.
//
// Targets: the 1,000,000th append costs at most twice the 1,000th; a day at one sample per
// 0.1 s (864,000 replies of 21 bytes) stays under 150 MB.
#include "app/log_pane/find_bar.h"
#include "app/log_pane/log_view.h"
#include "bench/benchmark_main.h"
#include "output/log/log_store.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

// A 19-byte frame and the CR LF the unit ends it with.
const QByteArray kReply("A01 123 000000 4565\r\n");
constexpr qsizetype kRepliesPerDay = 864'000;
constexpr qsizetype kAppendBatch = 1'000;
constexpr double kMaxLateToEarlyRatio = 2.0;
constexpr double kMaxDayMegabytes = 150.0;
constexpr qsizetype kPaintLines = 1'000'000;

std::map<qsizetype, double> nsPerAppendAt; // mark -> ns per append around it
double dayStoreBytes = 0;
double dayResidentGrowth = 0;

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * std::size_t(sysconf(_SC_PAGESIZE));
}

void FillWithReplies(output::LogStore& store, qsizetype count) {
    for (qsizetype i = 0; i < count; ++i)
        store.AppendBytes(kReply);
}

// Appends up to just before the mark untimed, then times a batch of appends centred on it.
void AppendAroundLine(benchmark::State& state) {
    const qsizetype mark = state.range(0);
    double seconds = 0;
    for (auto _ : state) {
        output::LogStore store;
        store.Clear();
        FillWithReplies(store, mark - kAppendBatch / 2);
        const auto start = std::chrono::steady_clock::now();
        FillWithReplies(store, kAppendBatch);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        benchmark::DoNotOptimize(store.LineCount());
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
    }
    const double ns = seconds * 1e9 / double(state.iterations() * kAppendBatch);
    nsPerAppendAt[mark] = ns;
    state.counters["ns_per_append"] = ns;
}
BENCHMARK(AppendAroundLine)->Arg(1'000)->Arg(1'000'000)->UseManualTime()->Iterations(30);

// Every append from the first to the millionth: the amortised cost including every growth.
void AppendMillionAmortised(benchmark::State& state) {
    for (auto _ : state) {
        output::LogStore store;
        store.Clear();
        FillWithReplies(store, 1'000'000);
        benchmark::DoNotOptimize(store.LineCount());
    }
    state.counters["ns_per_append"] = benchmark::Counter(
        double(state.iterations()) * 1e6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(AppendMillionAmortised)->Unit(benchmark::kMillisecond)->Iterations(5);

void MemoryOfADay(benchmark::State& state) {
    for (auto _ : state) {
        const std::size_t before = ResidentBytes();
        output::LogStore store;
        store.Clear();
        FillWithReplies(store, kRepliesPerDay);
        dayResidentGrowth = double(ResidentBytes() - before);
        dayStoreBytes = double(store.MemoryBytes());
    }
    state.counters["store_MB"] = dayStoreBytes / 1e6;
    state.counters["bytes_per_line"] = dayStoreBytes / double(kRepliesPerDay);
    state.counters["rss_growth_MB"] = dayResidentGrowth / 1e6;
}
BENCHMARK(MemoryOfADay)->Unit(benchmark::kMillisecond)->Iterations(1);

// One screenful of a log of a million replies; range(0) = 1 jumps to a new place every time,
// so the rows on screen are laid out afresh, as when the scroll bar is dragged; range(0) = 2 shows
// part of the bottom row selected.
void PaintScreenful(benchmark::State& state) {
    const bool jump = state.range(0) == 1;
    log_pane::LogView view;
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.resize(433, 65);
    view.show();
    FillWithReplies(view.Store(), kPaintLines);
    view.Reload();
    view.ScrollToBottom();
    if (state.range(0) == 2)
        view.Select({kPaintLines - 1, 4}, {kPaintLines - 1, 12});
    QImage image(view.viewport()->size(), QImage::Format_RGB32);
    int place = 0;
    for (auto _ : state) {
        if (jump) {
            place = (place + 7919) % int(kPaintLines);
            view.verticalScrollBar()->setValue(place);
        }
        view.viewport()->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["laid"] = view.LaysRowInk();
}
BENCHMARK(PaintScreenful)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// A day's log selected whole: the text a copy puts on the clipboard, built in one pass.
void CopyDay(benchmark::State& state) {
    log_pane::LogView view;
    FillWithReplies(view.Store(), kRepliesPerDay);
    view.Reload();
    view.SelectAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(view.SelectedText().size());
}
BENCHMARK(CopyDay)->Unit(benchmark::kMillisecond)->Iterations(3);

// Find through a day's log for a text it does not hold.
void FindInADay(benchmark::State& state) {
    log_pane::LogView view;
    FillWithReplies(view.Store(), kRepliesPerDay);
    view.Reload();
    view.OpenFind();
    view.FindField()->setText(QStringLiteral("zz"));
    for (auto _ : state)
        view.FindNext();
}
BENCHMARK(FindInADay)->Unit(benchmark::kMillisecond)->Iterations(3);

void PrintTargets() {
    if (nsPerAppendAt.count(1'000) && nsPerAppendAt.count(1'000'000)) {
        const double early = nsPerAppendAt[1'000];
        const double late = nsPerAppendAt[1'000'000];
        std::printf("append: %.1f ns at the 1,000th line, %.1f ns at the 1,000,000th; ratio %.2f "
                    "(target <= %.1f) %s\n",
                    early, late, late / early, kMaxLateToEarlyRatio,
                    late <= kMaxLateToEarlyRatio * early ? "met" : "MISSED");
    }
    if (dayStoreBytes > 0) {
        std::printf("a day of replies (%lld lines of %lld bytes): store %.1f MB (%.1f bytes a line), "
                    "resident set grew %.1f MB (target < %.0f MB) %s\n",
                    static_cast<long long>(kRepliesPerDay), static_cast<long long>(kReply.size()),
                    dayStoreBytes / 1e6, dayStoreBytes / double(kRepliesPerDay), dayResidentGrowth / 1e6,
                    kMaxDayMegabytes,
                    std::max(dayStoreBytes, dayResidentGrowth) / 1e6 < kMaxDayMegabytes ? "met" : "MISSED");
    }
}

} // namespace

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv, {}, PrintTargets);
}
