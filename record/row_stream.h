// The run record's rows on a stream instead of a file (--record -): the header
// row once, then every row of every run, for piping into another program.
//
// A reader that falls behind must not hold up the sample loop: rows wait in a
// backlog and go out only when the stream can take them without blocking. A
// backlog beyond its bound, or a stream that is gone, stops the stream with the
// reason. At the run's end the backlog is written out, waiting for the reader.
#pragma once

#include "acquisition/decoded_sample.h"

#include <string>

namespace record {

class RowStream : public acquisition::SampleSink {
public:
    static constexpr std::size_t kMaxBacklogBytes = 16u << 20;
    static constexpr int kRunEndWaitMs = 10'000;

    // Writes to `fd`, which it does not own.
    explicit RowStream(int fd);

    const char* Module() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    report::Done SweepEnded() override;
    report::Done RunEnded() override;

private:
    // Writes what the stream takes now; with `waitMs` > 0 waits up to that long for each stall.
    report::Done Flush(int waitMs);
    report::Failure Stop(const QString& why);

    int fd_;
    bool stopped_ = false;
    bool headerWritten_ = false;
    std::string backlog_;
    std::size_t sent_ = 0; // bytes of the backlog already written
};

} // namespace record
