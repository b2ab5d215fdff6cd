// One run's samples as the trend window keeps them: every row of the run, in
// about 29 bytes a row, in chunks that never move once filled, with a summary
// of minima and maxima in blocks of 16, 256, 4096, ... rows, so that what one
// pixel column of a view holds is found in a few steps whatever the zoom.
//
// A row keeps everything its record row has (the CSV slice of a view is
// written back from it, byte for byte), and whether a jump in time breaks the
// line before it. What is the same for every row is kept once for the trace:
// each reading's name, unit and the line that turns its volts into values; and
// the few rows where a reading crossed its limits are kept in a list of their own.
#pragma once

#include "acquisition/decoded_sample.h"
#include "channels/channel.h"
#include "channels/limit_watch.h"

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QTimeZone;

namespace trend {

// The values a line is drawn from: the two readings and the four digital lines together.
enum class Channel { Ad0, Ad1, Levels };

// The most rows a trace keeps, a record's or a run's: about 1 GB, 38 days at 0.1 s.
inline constexpr std::size_t kMostTraceRows = std::size_t(1) << 25;

inline constexpr std::int16_t kNoVolts = INT16_MIN; // a reading left empty
inline constexpr std::uint8_t kNoLevels = 0xFF;     // a row without the four digital lines

// A row as it is appended and read back: the record's columns, compact.
struct Row {
    std::int64_t timeMs = 0;    // the reply's clock time, milliseconds since 1970 UTC
    std::int64_t elapsedMs = 0; // since START
    std::int32_t sweep = 0;
    std::uint16_t x = 0;
    std::int16_t ad0 = kNoVolts; // hundredths of a volt
    std::int16_t ad1 = kNoVolts;
    std::int16_t offsetMinutes = 0;  // the clock time's offset from UTC
    std::uint8_t levels = kNoLevels; // HH 0x08, HL 0x04, LH 0x02, LL 0x01
    acquisition::SampleNote note = acquisition::SampleNote::None;
    bool gapBefore = false; // rows were left out before this one: the lines break (not kept once appended)
    // The crossings of limits this sample made, by channel (kept aside: few rows have one).
    channels::Crossings crossings{};
};

Row RowOf(const acquisition::DecodedSample& sample);
// `zone`, when given, is the row's offset from UTC as a zone (making one costs more than a row).
acquisition::DecodedSample SampleOf(const Row& row, const QTimeZone* zone = nullptr);

// Minimum and maximum of a reading over some rows; empty (min > max) when none has one.
struct VoltsExtent {
    std::int16_t min = INT16_MAX;
    std::int16_t max = INT16_MIN;
    bool Any() const { return min <= max; }
};

// The four digital lines over some rows: the bits high in all of them and in any of them.
struct LevelsExtent {
    std::uint8_t all = 0x0F;
    std::uint8_t any = 0;
    bool present = false;
};

// A row that is not a sample and is marked on the time axis.
struct Event {
    std::size_t row;
    acquisition::SampleNote note;
};

// A reading as the trace shows it in its own unit: the channel's name, unit and line from volts to
// values, and the decimals a value is shown with. By default "V", 1 V → 1, two decimals: the volts.
struct Units {
    channels::Channel channel; // its limits are not used
    int decimals = 2;

    // The default: the readings themselves, in volts.
    bool Volts() const;
    double ValueOf(std::int16_t hundredths) const { return channels::ValueOf(channel.scale, hundredths); }
    // A value at the decimals: "307", "3.07", never "-0".
    QString Text(double value) const;
    // With the unit after it, as the window shows a value: "307 °C".
    QString WithUnit(double value) const;
};
Units DefaultUnits(Channel channel);

// A crossing of a channel's limits, on the sample row where it happened.
struct LimitCrossing {
    std::size_t row;
    int channel;
    channels::Crossing crossing;
};

// Rows [from, to] a channel spent outside its limits: from the row it crossed out on to the row it came
// back on, or to the last row when it has not come back (`to` then moves on as the trace grows).
struct Outside {
    std::size_t from;
    std::size_t to;
};

class Trace {
public:
    // Where the time of a row on the axis comes from: its clock time, or the seconds since START.
    enum class Keys { Clock, Elapsed };

    explicit Trace(QString name = QString());
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // The run's name in the legend: the record's file name, or empty for the run going on.
    const QString& Name() const { return name_; }

    // AD0's or AD1's name, unit and scaling: the run's, or what a record's value columns say.
    const Units& UnitsOf(Channel channel) const { return units_[channel == Channel::Ad0 ? 0 : 1]; }
    void SetUnits(Channel channel, const Units& units) { units_[channel == Channel::Ad0 ? 0 : 1] = units; }
    // Both channels as the run record writes them.
    channels::Channels ChannelsOf() const { return {units_[0].channel, units_[1].channel}; }

    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }

    // O(1) apart from a new chunk every 65,536 rows.
    void Append(const Row& row);
    Row At(std::size_t i) const;

    std::int64_t TimeMs(std::size_t i) const { return Chunk(i).timeMs[Slot(i)]; }
    std::int64_t ElapsedMs(std::size_t i) const { return Chunk(i).elapsedMs[Slot(i)]; }
    // Milliseconds on the axis: since 1970 for Keys::Clock, since START for Keys::Elapsed.
    std::int64_t KeyMs(Keys keys, std::size_t i) const {
        return keys == Keys::Clock ? TimeMs(i) : ElapsedMs(i);
    }
    std::int16_t Volts(Channel channel, std::size_t i) const {
        return channel == Channel::Ad0 ? Chunk(i).ad0[Slot(i)] : Chunk(i).ad1[Slot(i)];
    }
    std::uint8_t Levels(std::size_t i) const { return Chunk(i).levels[Slot(i)]; }
    bool Has(Channel channel, std::size_t i) const {
        return channel == Channel::Levels ? Levels(i) != kNoLevels : Volts(channel, i) != kNoVolts;
    }
    // The line of `channel` does not join row i to row i - 1: either lacks the value, or time jumped
    // more than three sampling intervals between them.
    bool BreakBefore(Channel channel, std::size_t i) const;

    // Rows [begin, end) whose keys never go back. A clock set back (or a record whose rows were put
    // together out of order) starts a new segment; every search by time runs within one.
    struct Segment {
        std::size_t begin;
        std::size_t end;
    };
    std::size_t SegmentCount(Keys keys) const { return starts_[Index(keys)].size(); }
    Segment SegmentAt(Keys keys, std::size_t k) const;
    // The rows where the keys went back, in row order.
    const std::vector<std::size_t>& SegmentStarts(Keys keys) const { return starts_[Index(keys)]; }
    // The earliest and the latest key of all the rows (not the first and the last row's).
    std::pair<std::int64_t, std::int64_t> KeyRangeMs(Keys keys) const;

    // The first row of the segment whose key is not below keyMs.
    std::size_t LowerBound(Keys keys, std::int64_t keyMs, const Segment& segment) const;

    // Over rows [from, to).
    VoltsExtent Volts(Channel channel, std::size_t from, std::size_t to) const;
    LevelsExtent Levels(std::size_t from, std::size_t to) const;
    // The first and the last row in [from, to) holding the channel's value.
    std::optional<std::size_t> FirstWith(Channel channel, std::size_t from, std::size_t to) const;
    std::optional<std::size_t> LastWith(Channel channel, std::size_t from, std::size_t to) const;

    // No reply, unit lost, unit back: in row order.
    const std::vector<Event>& Events() const { return events_; }
    // Where the channels crossed their limits, in row order.
    const std::vector<LimitCrossing>& Crossings() const { return crossings_; }
    // The stretches the channel spent outside its limits, in row order. A "back" with no crossing out
    // before it (a slice of a record begun while outside) closes a stretch from the first row.
    std::vector<Outside> OutsideOf(Channel channel) const;

    // Bytes held, for the memory figure.
    std::size_t MemoryBytes() const;

private:
    static constexpr int kChunkBits = 16;
    static constexpr std::size_t kChunkRows = std::size_t(1) << kChunkBits;
    static constexpr int kFanBits = 4; // 16 rows a block, 16 blocks a block of the next level
    static constexpr int kLevels = 7;  // blocks of 16 up to 16^7 rows

    struct Columns {
        std::int64_t timeMs[kChunkRows];
        std::int64_t elapsedMs[kChunkRows];
        std::int32_t sweep[kChunkRows];
        std::uint16_t x[kChunkRows];
        std::int16_t ad0[kChunkRows];
        std::int16_t ad1[kChunkRows];
        std::uint8_t levels[kChunkRows];
        std::uint8_t flags[kChunkRows]; // the note, and kTimeGap
    };
    struct Block {
        std::int16_t min[2] = {INT16_MAX, INT16_MAX};
        std::int16_t max[2] = {INT16_MIN, INT16_MIN};
        std::uint8_t all = 0x0F;
        std::uint8_t any = 0; // 0x80: some row has the digital lines
        void Add(const Block& other);
        void AddRow(std::int16_t ad0, std::int16_t ad1, std::uint8_t levels);
        bool Has(Channel channel) const;
    };

    static std::size_t Index(Keys keys) { return keys == Keys::Clock ? 0 : 1; }
    static std::size_t Slot(std::size_t i) { return i & (kChunkRows - 1); }
    const Columns& Chunk(std::size_t i) const { return *chunks_[i >> kChunkBits]; }
    static std::size_t BlockRows(int level) { return std::size_t(1) << (kFanBits * level); }
    // The largest level whose complete block starts at row i and ends at or before `limit`.
    int LevelAt(std::size_t i, std::size_t limit) const;
    // The same for a block ending at row i and starting at or after `limit`.
    int LevelEndingAt(std::size_t i, std::size_t limit) const;
    std::size_t FirstIn(Channel channel, int level, std::size_t block) const;
    std::size_t LastIn(Channel channel, int level, std::size_t block) const;
    bool TimeGapBefore(const Row& row);

    QString name_;
    std::vector<std::unique_ptr<Columns>> chunks_;
    std::size_t size_ = 0;
    std::array<std::vector<Block>, kLevels + 1> blocks_; // [0] unused: level 0 is the rows
    std::array<Block, kLevels + 1> open_;                // the blocks being filled
    std::vector<Event> events_;
    std::vector<LimitCrossing> crossings_;
    std::array<Units, 2> units_{DefaultUnits(Channel::Ad0), DefaultUnits(Channel::Ad1)};
    std::array<std::vector<std::size_t>, 2> starts_{{{0}, {0}}}; // of the segments, by Index(keys)
    // The clock's offset from UTC from each row where it changed on (twice a year at most, in a zone
    // with summer time): kept once, not with every row.
    std::vector<std::pair<std::size_t, std::int16_t>> offsets_;

    // The sampling interval as the median of the last five spacings of samples.
    std::array<std::int64_t, 5> spacings_{};
    std::size_t nextSpacing_ = 0;
    int spacingCount_ = 0;
    std::optional<std::size_t> lastSample_;
};

} // namespace trend
