// Reading a run record (the CSV each START writes) back into a trace, fast
// enough for a week's 6,048,000 rows: the file is read a few megabytes at a
// time with plain reads, never mapped (a record cut short while it is read is
// a message, not a killed program), each row parsed in place in the chunk with
// no text object made for it, the clock time worked out arithmetically.
// Opening never writes anything.
//
// A row that cannot be read is left out, counted and breaks the lines there;
// the message names the file, the first such line and how many, and every
// other row is kept. A line too long to be a row ends the reading. A torn last
// row (the logger was killed while writing it) is left out and said gently.
#pragma once

#include "trend/trace.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace trend {

struct RecordRead {
    std::unique_ptr<Trace> trace; // the rows read; null when there is not one
    QString problem;              // empty when the file was read whole
    bool onlyTorn = false;        // the problem is a torn last row: everything else is there
    bool cancelled = false;       // stopped by the caller: nothing else is set
};

// Bytes read at a time: large enough that the reads cost nothing beside the parsing, small enough
// that a cancel is answered at once and the reader's own memory stays a few megabytes.
inline constexpr std::size_t kRecordChunkBytes = std::size_t(4) << 20;

// How a read is watched and stopped. Both are called on the reading thread, between chunks.
struct ReadControl {
    const std::atomic<bool>* cancel = nullptr;                             // set: the read stops
    std::function<void(std::uint64_t done, std::uint64_t total)> progress; // bytes, after each chunk
    std::size_t chunkBytes = kRecordChunkBytes;
};

// Reads the record at `path`. The trace is named after the file.
RecordRead ReadRecord(const QString& path, const ReadControl& control = {});

// Reads a record's bytes; `name` is the file's name in the messages and the trace's name.
RecordRead ReadRecordBytes(std::string_view bytes, const QString& name);

} // namespace trend
