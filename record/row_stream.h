// The run record's rows on a stream instead of a file (--record -): the header
// row once, then every row of every run, for piping into another program.
//
// A reader that falls behind must not hold up the sample loop, and must not lose
// rows either: rows wait in memory, in order, and go out only as fast as the
// stream takes them without blocking. The wait is bounded at kMaxBacklogBytes
// (256 MiB: about 4 million rows, 4.8 days of the fastest sampling, 0.1 s, at
// 64 bytes a row); beyond it rows are dropped and counted, which is reported once
// when it starts. At the run's end the stream waits for its reader for as long
// as the reader keeps taking rows, and gives up only after kStallLimitMs without
// any progress or when the reader is gone; the rows it could not deliver are
// counted, said at the run's end, and kept in Shortfall(). A program that ends
// with the run and says the Shortfall() then has the run's end say nothing more,
// and wait for nothing either: the rows still waiting then go out in DrainThen,
// in the event loop, beside the program's other ends, with the same limit.
#pragma once

#include "acquisition/decoded_sample.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
class QTimer;

namespace record {

class RowStream : public acquisition::SampleSink {
public:
    static constexpr std::size_t kMaxBacklogBytes = std::size_t(256) << 20;
    static constexpr int kStallLimitMs = 60'000;

    // Writes to `fd`, which it does not own (nor changes: it may be a terminal other programs share).
    // Without `countAtRunEnd`, RunEnded does not fail for the rows the run lost, nor wait for the
    // reader: DrainThen or Drain does, and the Shortfall() is said once the run is over.
    explicit RowStream(int fd, std::size_t maxBacklogBytes = kMaxBacklogBytes,
                       int stallLimitMs = kStallLimitMs, bool countAtRunEnd = true);
    ~RowStream() override;

    const char* Module() const override;
    QString StoppedStatus() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    report::Done SweepEnded() override;
    report::Done RunEnded() override;
    // The rows that did not reach the stream since the program started, and why.
    QString Shortfall() const override;

    // The program ends: the rows still waiting go out as the reader takes them, without blocking (the
    // event loop writes them); gives up after the stall limit without progress. Then `done`.
    void DrainThen(std::function<void()> done);
    // The same, waiting: when no event loop is left.
    void Drain();

private:
    void Queue(const std::string& bytes);
    // Writes what the stream takes. With waitMs 0 only what it takes now; otherwise waits for the
    // reader up to waitMs at each stall, and gives up after one.
    void Flush(int waitMs);
    // The reader is gone (or never took anything more): what waits is lost, as is every later row.
    void GiveUp(const QString& why);
    void Lose(long long rows, const QString& why);

    int fd_;
    std::size_t maxBacklogBytes_;
    int stallLimitMs_;
    bool countAtRunEnd_;
    bool headerQueued_ = false;
    bool gone_ = false;
    bool saidDropping_ = false; // this run
    std::deque<std::string> backlog_;
    std::size_t frontSent_ = 0;    // bytes of backlog_.front() already written
    std::size_t backlogBytes_ = 0; // not yet written
    long long bytesWritten_ = 0;   // in all
    std::string row_;
    channels::Channels channels_ = channels::DefaultChannels(); // this run's
    long long lostRows_ = 0; // since the program started
    long long lostInRun_ = 0;
    QString lossReason_; // why the last rows were lost
    // DrainThen's
    std::unique_ptr<QSocketNotifier> writable_;
    std::unique_ptr<QTimer> stall_;
    std::function<void()> drained_;
    void Drained();
};

} // namespace record
