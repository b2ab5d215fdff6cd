// What publishing costs the sample loop: one Take() of the MQTT publisher with a
// broker taking the samples and with the broker away, and the memory of a full queue.
//
// Targets: a Take() costs under 20 us at the median either way (one sample's drawing has
// a budget of 100 us); a full queue of samples stays under 64 MB.
#include "acquisition/sample_words.h"
#include "bench/benchmark_main.h"
#include "bench/sample_spread.h"
#include "bench/target_report.h"
#include "publish/mqtt_publisher.h"
#include "publish/outbox.h"
#include "publish/sample_json.h"
#include "tests/publish/mqtt_fixture.h"

#include <QThread>
#include <QTimeZone>

#include <benchmark/benchmark.h>

#include <chrono>
#include <malloc.h>
#include <map>

namespace {

constexpr double kTakeTargetUs = 20;
constexpr double kQueueTargetMb = 64;
const QDateTime kStart(QDate(2026, 12, 7), QTime(9, 30, 0), QTimeZone(9 * 3600));

std::unique_ptr<testing::MosquittoBroker> broker;
quint16 brokerPort = 0;
std::map<int, bench::SampleSpread> takeSpreads; // 1: broker there, 0: broker away
double queueBytes = 0;

acquisition::DecodedSample Sample(int n) {
    acquisition::DecodedSample s;
    s.time = kStart.addMSecs(100LL * n);
    s.elapsedMs = 100LL * n;
    s.sweep = n / 601;
    s.x = n % 601;
    s.ad0 = 100 + n % 500;
    s.ad1 = 600 - n % 500;
    s.levels = static_cast<std::uint8_t>(n % 16);
    return s;
}

// range(0) = 1: the broker takes the samples; 0: nothing listens on the port.
void Take(benchmark::State& state) {
    const bool connected = state.range(0) == 1;
    publish::PublisherOptions options;
    const auto target = publish::ParsePublishUrl(
        QStringLiteral("mqtt://127.0.0.1:%1/bench").arg(connected ? brokerPort : testing::FreePort()));
    auto publisher = std::move(*publish::MqttPublisher::Make(*target, options));
    (void)publisher->RunStarted({kStart, QStringLiteral("bench"), QStringLiteral("A1B2")});
    for (int i = 0; connected && i < 500 && !publisher->Snapshot().connected; ++i)
        QThread::msleep(10);
    if (connected && !publisher->Snapshot().connected) {
        state.SkipWithError("the broker took no connection");
        return;
    }
    std::vector<double> times;
    int n = 0;
    for (auto _ : state) {
        const acquisition::DecodedSample sample = Sample(n++);
        const auto start = std::chrono::steady_clock::now();
        (void)publisher->Take(sample);
        const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() / 1e6);
        times.push_back(took.count());
    }
    const auto counts = publisher->Snapshot();
    state.counters["waiting"] = double(counts.waiting);
    state.counters["delivered"] = double(counts.delivered);
    auto& spread = takeSpreads[int(connected)] = bench::SpreadOf(std::move(times));
    state.counters["median_us"] = spread.median;
    state.counters["p99_us"] = spread.p99;
}
BENCHMARK(Take)
    ->ArgName("connected")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(20000)
    ->Unit(benchmark::kMicrosecond);

// A queue full of samples, as after a long outage.
void FullQueue(benchmark::State& state) {
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        {
            publish::Outbox outbox;
            const auto topic = std::make_shared<const std::string>("bench/A1B2/sample");
            const std::string run = acquisition::TimeText(kStart);
            for (std::size_t n = 0; n < publish::kOutboxCapacity; ++n)
                outbox.Push({topic, publish::SampleJson(Sample(int(n)), run)});
            queueBytes = double(mallinfo2().uordblks - before);
        }
    }
    state.counters["MB"] = queueBytes / 1e6;
    state.counters["bytes_per_sample"] = queueBytes / double(publish::kOutboxCapacity);
}
BENCHMARK(FullQueue)->Iterations(1)->Unit(benchmark::kMillisecond);

void Prepare() {
    broker = std::make_unique<testing::MosquittoBroker>();
    brokerPort = testing::FreePort();
    if (!broker->Start(brokerPort))
        std::fprintf(stderr, "publish_bench: mosquitto did not start\n");
}

void Summarise() {
    auto& report = bench::Report();
    report.Note("mosquitto on 127.0.0.1; Take() called back to back, so the publisher's thread competes for "
                "the queue's lock far more than at the fastest sampling (0.1 s)");
    for (const auto& [connected, spread] : takeSpreads)
        report.Add(bench::Format("one Take() of the MQTT publisher, broker %s (median)",
                                 connected ? "there" : "away"),
                   bench::Format("< %.0f us", kTakeTargetUs),
                   bench::Format("%.2f us (p99 %.2f us)", spread.median, spread.p99),
                   spread.median < kTakeTargetUs);
    if (queueBytes > 0)
        report.Add(bench::Format("MQTT queue full (%zu samples)", publish::kOutboxCapacity),
                   bench::Format("< %.0f MB", kQueueTargetMb),
                   bench::Format("%.1f MB (%.0f bytes a sample)", queueBytes / 1e6,
                                 queueBytes / double(publish::kOutboxCapacity)),
                   queueBytes / 1e6 < kQueueTargetMb);
    report.Print();
    broker.reset();
}

} // namespace

int main(int argc, char** argv) {
    return bench::BenchmarkMain(argc, argv, Prepare, Summarise);
}
