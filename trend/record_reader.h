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
//
// A record written since the channels had units ends each row with the
// readings in their channels' units (ad0_value, ad0_unit, ad1_value, ad1_unit).
// The trace keeps its volts and, once for the record, each channel's unit and
// the line from volts to values those columns follow; a row that does not
// follow them is a row that cannot be read. Records written before open as
// they always have. A sample row's note may hold the crossings of limits
// ("ad0 high"): they are kept with the trace.
#pragma once

#include "trend/trace.h"

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace trend {

// What a record's value columns say of each channel, from the rows read so far: its unit as written,
// the decimals of its values, and the rows lowest and highest in volts, through which the line from
// volts to values is drawn.
struct ValueColumns {
    struct Line {
        std::string unit;  // the field as written: quoted when the unit holds a comma or a quote
        int decimals = -1; // -1: no value read yet
        int low = 0;       // hundredths of a volt
        int high = 0;
        double lowValue = 0;
        double highValue = 0;
    };
    bool present = false; // the record has them
    std::array<Line, 2> lines;
};

// The units a record's value columns give its trace; volts when it has none.
Units UnitsOf(const ValueColumns& columns, Channel channel);

// Where the reading of a record still being written stopped: RecordTail reads on from there.
struct Growing {
    std::uint64_t device = 0; // the file read (a file put in its place since is another)
    std::uint64_t inode = 0;
    std::uint64_t offset = 0; // the end of its last whole line
    long long line = 1;       // the last line read whole, counted from 1 (the header)
    bool gapNext = false;     // the last line was a bad one: the next row breaks the lines
    long long bad = 0;        // lines left out so far
    ValueColumns values;      // what the rows so far have said of the channels' units
};

struct RecordRead {
    QString path;                 // the file read, when it was one
    std::unique_ptr<Trace> trace; // the rows read; null when there is not one
    QString problem;              // empty when the file was read whole
    bool onlyTorn = false;        // the problem is a torn last row: everything else is there
    bool cancelled = false;       // stopped by the caller: nothing else is set
    // Another process (a Tavrin run) holds the record's lock: it is still being written. A torn last
    // row is then the row being written, and not said.
    std::optional<Growing> growing;
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

// A record being written, read on as it grows from where ReadRecord stopped, into the trace read then.
// Each ReadOn takes the lines added since (at most a few megabytes) and appends their rows; the torn
// line being written waits for its line end. Following ends when the writer lets go of the record
// (its run has ended), or when the file is truncated, replaced or removed: said, the rows read kept.
class RecordTail {
public:
    RecordTail(const QString& path, const Growing& from, Trace& trace);
    ~RecordTail();
    RecordTail(const RecordTail&) = delete;
    RecordTail& operator=(const RecordTail&) = delete;

    enum class Ending { None, WriterDone, Truncated, Replaced, Failed, Full };
    struct Step {
        std::size_t rows = 0;         // rows appended
        Ending ending = Ending::None; // not None: following has ended
        QString said;                 // what to tell the user, if anything
    };
    Step ReadOn();

private:
    QString path_;
    QString name_;
    Growing at_;
    Trace& trace_;
    int fd_ = -1;
    std::string torn_; // the start of the line being written
    Ending ended_ = Ending::None;
};

} // namespace trend
