#include "trend/trace.h"

#include <QTimeZone>
#include <algorithm>

namespace trend {

namespace {

constexpr std::uint8_t kNoteBits = 0x07;
constexpr std::uint8_t kTimeGap = 0x08;
// A jump in time larger than this many sampling intervals breaks the line.
constexpr std::int64_t kGapIntervals = 3;

std::int16_t Hundredths(const std::optional<int>& value) {
    if (!value)
        return kNoVolts;
    return std::int16_t(std::clamp(*value, int(kNoVolts) + 1, int(INT16_MAX)));
}

} // namespace

Row RowOf(const acquisition::DecodedSample& sample) {
    Row row;
    // The clock time's offset from the local time it holds: one look into the time zone, not two.
    row.timeMs = sample.time.toMSecsSinceEpoch();
    const std::int64_t localMs = std::int64_t(QDate(1970, 1, 1).daysTo(sample.time.date())) * 86'400'000 +
                                 sample.time.time().msecsSinceStartOfDay();
    row.offsetMinutes = std::int16_t((localMs - row.timeMs) / 60'000);
    row.elapsedMs = sample.elapsedMs;
    row.sweep = sample.sweep;
    row.x = std::uint16_t(std::clamp(sample.x, 0, int(UINT16_MAX)));
    row.ad0 = Hundredths(sample.ad0);
    row.ad1 = Hundredths(sample.ad1);
    row.levels = sample.levels ? std::uint8_t(*sample.levels & 0x0F) : kNoLevels;
    row.note = sample.note;
    row.crossings = sample.crossings;
    return row;
}

acquisition::DecodedSample SampleOf(const Row& row, const QTimeZone* zone) {
    acquisition::DecodedSample sample;
    sample.time =
        QDateTime::fromMSecsSinceEpoch(row.timeMs, zone ? *zone : QTimeZone(row.offsetMinutes * 60));
    sample.elapsedMs = row.elapsedMs;
    sample.sweep = row.sweep;
    sample.x = row.x;
    if (row.ad0 != kNoVolts)
        sample.ad0 = row.ad0;
    if (row.ad1 != kNoVolts)
        sample.ad1 = row.ad1;
    if (row.levels != kNoLevels)
        sample.levels = row.levels;
    sample.note = row.note;
    sample.crossings = row.crossings;
    return sample;
}

bool Units::Volts() const {
    return channel.unit == QLatin1String("V") && channel.scale.Slope() == 1 && channel.scale.Offset() == 0 &&
           decimals == 2;
}

QString Units::Text(double value) const {
    QString text = QString::number(value, 'f', decimals);
    // A value that rounds to zero from below is 0, as the record writes it.
    if (text.startsWith(QLatin1Char('-')) && std::all_of(text.begin() + 1, text.end(), [](QChar c) {
            return c == QLatin1Char('0') || c == QLatin1Char('.');
        }))
        text.remove(0, 1);
    return text;
}

QString Units::WithUnit(double value) const {
    return channel.unit.isEmpty() ? Text(value) : Text(value) + QLatin1Char(' ') + channel.unit;
}

Units DefaultUnits(Channel channel) {
    return {channels::DefaultChannel(channel == Channel::Ad0 ? 0 : 1), 2};
}

void Trace::Block::Add(const Block& other) {
    for (int c = 0; c < 2; ++c) {
        min[c] = std::min(min[c], other.min[c]);
        max[c] = std::max(max[c], other.max[c]);
    }
    all &= other.all;
    any |= other.any;
}

void Trace::Block::AddRow(std::int16_t ad0, std::int16_t ad1, std::uint8_t levels) {
    if (ad0 != kNoVolts) {
        min[0] = std::min(min[0], ad0);
        max[0] = std::max(max[0], ad0);
    }
    if (ad1 != kNoVolts) {
        min[1] = std::min(min[1], ad1);
        max[1] = std::max(max[1], ad1);
    }
    if (levels != kNoLevels) {
        all &= levels;
        any |= levels | 0x80;
    }
}

bool Trace::Block::Has(Channel channel) const {
    switch (channel) {
    case Channel::Ad0:
        return min[0] <= max[0];
    case Channel::Ad1:
        return min[1] <= max[1];
    case Channel::Levels:
        return any & 0x80;
    }
    return false;
}

Trace::Trace(QString name) : name_(std::move(name)) {}

Trace::~Trace() = default;

bool Trace::TimeGapBefore(const Row& row) {
    if (row.note != acquisition::SampleNote::None)
        return false;
    bool gap = false;
    if (lastSample_) {
        const std::size_t last = *lastSample_;
        const std::int64_t spacing = row.elapsedMs - ElapsedMs(last);
        const std::int64_t clockSpacing = row.timeMs - TimeMs(last);
        if (spacingCount_ > 0) {
            // Beyond three times the median of the recent spacings (and 1 ms): more than half of
            // them lie below a third of this one.
            const std::int64_t jump = std::max(spacing, clockSpacing);
            int below = 0;
            for (int k = 0; k < spacingCount_; ++k)
                below += kGapIntervals * spacings_[std::size_t(k)] < jump;
            gap = jump > kGapIntervals && below > spacingCount_ / 2;
        }
        spacings_[nextSpacing_] = spacing;
        nextSpacing_ = (nextSpacing_ + 1) % spacings_.size();
        spacingCount_ = std::min(spacingCount_ + 1, int(spacings_.size()));
    }
    lastSample_ = size_;
    return gap;
}

void Trace::Append(const Row& row) {
    const std::size_t chunk = size_ >> kChunkBits;
    if (chunk == chunks_.size())
        chunks_.push_back(
            std::unique_ptr<Columns>(new Columns)); // left unset: pages are touched as rows come
    const bool gap = TimeGapBefore(row) || row.gapBefore;
    if (size_ > 0) {
        if (row.timeMs < TimeMs(size_ - 1))
            starts_[0].push_back(size_);
        if (row.elapsedMs < ElapsedMs(size_ - 1))
            starts_[1].push_back(size_);
    }
    Columns& c = *chunks_[chunk];
    const std::size_t s = Slot(size_);
    c.timeMs[s] = row.timeMs;
    c.elapsedMs[s] = row.elapsedMs;
    c.sweep[s] = row.sweep;
    c.x[s] = row.x;
    c.ad0[s] = row.ad0;
    c.ad1[s] = row.ad1;
    if (offsets_.empty() || offsets_.back().second != row.offsetMinutes)
        offsets_.emplace_back(size_, row.offsetMinutes);
    c.levels[s] = row.levels;
    c.flags[s] = std::uint8_t((std::uint8_t(row.note) & kNoteBits) | (gap ? kTimeGap : 0));
    switch (row.note) {
    case acquisition::SampleNote::NoReply:
    case acquisition::SampleNote::UnitLost:
    case acquisition::SampleNote::UnitBack:
        events_.push_back({size_, row.note});
        break;
    default:
        break;
    }
    for (int channel = 0; channel < channels::kChannelCount; ++channel)
        if (const auto& crossing = row.crossings[std::size_t(channel)])
            crossings_.push_back({size_, channel, *crossing});
    open_[1].AddRow(row.ad0, row.ad1, row.levels);
    ++size_;
    for (int level = 1; level <= kLevels && size_ % BlockRows(level) == 0; ++level) {
        blocks_[std::size_t(level)].push_back(open_[std::size_t(level)]);
        if (level < kLevels)
            open_[std::size_t(level) + 1].Add(open_[std::size_t(level)]);
        open_[std::size_t(level)] = Block{};
    }
}

Row Trace::At(std::size_t i) const {
    const Columns& c = Chunk(i);
    const std::size_t s = Slot(i);
    Row row;
    row.timeMs = c.timeMs[s];
    row.elapsedMs = c.elapsedMs[s];
    row.sweep = c.sweep[s];
    row.x = c.x[s];
    row.ad0 = c.ad0[s];
    row.ad1 = c.ad1[s];
    // The last change at or before row i.
    const auto change = std::upper_bound(offsets_.begin(), offsets_.end(), i,
                                         [](std::size_t row, const auto& o) { return row < o.first; });
    row.offsetMinutes = change == offsets_.begin() ? 0 : std::prev(change)->second;
    row.levels = c.levels[s];
    row.note = acquisition::SampleNote(c.flags[s] & kNoteBits);
    for (auto k = std::lower_bound(crossings_.begin(), crossings_.end(), i,
                                   [](const LimitCrossing&x, std::size_t row) { return x.row < row; });
         k != crossings_.end() && k->row == i; ++k)
        row.crossings[std::size_t(k->channel)] = k->crossing;
    return row;
}

std::vector<Outside> Trace::OutsideOf(Channel channel) const {
    const int c = channel == Channel::Ad0 ? 0 : 1;
    constexpr std::size_t kInside = SIZE_MAX;
    std::vector<Outside> stretches;
    std::size_t since = kInside;
    bool first = true;
    for (const LimitCrossing& x : crossings_) {
        if (x.channel != c)
            continue;
        if (x.crossing != channels::Crossing::Back) {
            since = std::min(since, x.row);
        } else if (since != kInside || first) {
            stretches.push_back({since == kInside ? 0 : since, x.row});
            since = kInside;
        }
        first = false;
    }
    if (since != kInside && size_ > 0)
        stretches.push_back({since, size_ - 1});
    return stretches;
}

bool Trace::BreakBefore(Channel channel, std::size_t i) const {
    return i == 0 || !Has(channel, i) || !Has(channel, i - 1) || (Chunk(i).flags[Slot(i)] & kTimeGap);
}

Trace::Segment Trace::SegmentAt(Keys keys, std::size_t k) const {
    const auto& starts = starts_[Index(keys)];
    return {starts[k], k + 1 < starts.size() ? starts[k + 1] : size_};
}

std::pair<std::int64_t, std::int64_t> Trace::KeyRangeMs(Keys keys) const {
    std::pair<std::int64_t, std::int64_t> range{INT64_MAX, INT64_MIN};
    for (std::size_t k = 0; k < SegmentCount(keys); ++k) {
        const Segment s = SegmentAt(keys, k);
        if (s.end > s.begin)
            range = {std::min(range.first, KeyMs(keys, s.begin)), std::max(range.second, KeyMs(keys, s.end - 1))};
    }
    return range;
}

std::size_t Trace::LowerBound(Keys keys, std::int64_t keyMs, const Segment& segment) const {
    std::size_t from = segment.begin, count = segment.end - segment.begin;
    while (count > 0) {
        const std::size_t half = count / 2;
        if (KeyMs(keys, from + half) < keyMs) {
            from += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return from;
}

int Trace::LevelAt(std::size_t i, std::size_t limit) const {
    int level = 0;
    while (level < kLevels) {
        const int shift = kFanBits * (level + 1);
        const std::size_t rows = std::size_t(1) << shift;
        if ((i & (rows - 1)) != 0 || i + rows > limit ||
            (i >> shift) >= blocks_[std::size_t(level) + 1].size())
            break;
        ++level;
    }
    return level;
}

int Trace::LevelEndingAt(std::size_t i, std::size_t limit) const {
    int level = 0;
    while (level < kLevels) {
        const int shift = kFanBits * (level + 1);
        const std::size_t rows = std::size_t(1) << shift;
        if ((i & (rows - 1)) != 0 || i < limit + rows ||
            (i >> shift) - 1 >= blocks_[std::size_t(level) + 1].size())
            break;
        ++level;
    }
    return level;
}

VoltsExtent Trace::Volts(Channel channel, std::size_t from, std::size_t to) const {
    const int c = channel == Channel::Ad0 ? 0 : 1;
    VoltsExtent e;
    to = std::min(to, size_);
    for (std::size_t i = from; i < to;) {
        const int level = LevelAt(i, to);
        if (level == 0) {
            // The rows up to the next block of 16, which never runs past a chunk.
            const std::size_t end = std::min(to, (i + 16) & ~std::size_t(15));
            const std::int16_t* values = (c == 0 ? Chunk(i).ad0 : Chunk(i).ad1) + Slot(i);
            for (; i < end; ++i, ++values)
                if (*values != kNoVolts) {
                    e.min = std::min(e.min, *values);
                    e.max = std::max(e.max, *values);
                }
        } else {
            const Block& b = blocks_[std::size_t(level)][i >> (kFanBits * level)];
            e.min = std::min(e.min, b.min[c]);
            e.max = std::max(e.max, b.max[c]);
            i += BlockRows(level);
        }
    }
    return e;
}

LevelsExtent Trace::Levels(std::size_t from, std::size_t to) const {
    Block sum;
    to = std::min(to, size_);
    for (std::size_t i = from; i < to;) {
        const int level = LevelAt(i, to);
        if (level == 0) {
            const std::size_t end = std::min(to, (i + 16) & ~std::size_t(15));
            const std::uint8_t* levels = Chunk(i).levels + Slot(i);
            for (; i < end; ++i, ++levels)
                if (*levels != kNoLevels) {
                    sum.all &= *levels;
                    sum.any |= *levels | 0x80;
                }
        } else {
            sum.Add(blocks_[std::size_t(level)][i >> (kFanBits * level)]);
            i += BlockRows(level);
        }
    }
    const bool present = sum.any & 0x80;
    return {std::uint8_t(present ? sum.all : 0), std::uint8_t(sum.any & 0x0F), present};
}

std::size_t Trace::FirstIn(Channel channel, int level, std::size_t block) const {
    for (; level > 0; --level) {
        const std::size_t child = block << kFanBits;
        std::size_t j = 0;
        if (level == 1) {
            while (!Has(channel, child + j))
                ++j;
            return child + j;
        }
        while (!blocks_[std::size_t(level) - 1][child + j].Has(channel))
            ++j;
        block = child + j;
    }
    return block;
}

std::size_t Trace::LastIn(Channel channel, int level, std::size_t block) const {
    for (; level > 0; --level) {
        const std::size_t child = block << kFanBits;
        std::size_t j = (std::size_t(1) << kFanBits) - 1;
        if (level == 1) {
            while (!Has(channel, child + j))
                --j;
            return child + j;
        }
        while (!blocks_[std::size_t(level) - 1][child + j].Has(channel))
            --j;
        block = child + j;
    }
    return block;
}

std::optional<std::size_t> Trace::FirstWith(Channel channel, std::size_t from, std::size_t to) const {
    to = std::min(to, size_);
    for (std::size_t i = from; i < to;) {
        const int level = LevelAt(i, to);
        if (level == 0) {
            if (Has(channel, i))
                return i;
            ++i;
        } else {
            const std::size_t block = i >> (kFanBits * level);
            if (blocks_[std::size_t(level)][block].Has(channel))
                return FirstIn(channel, level, block);
            i += BlockRows(level);
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> Trace::LastWith(Channel channel, std::size_t from, std::size_t to) const {
    for (std::size_t i = std::min(to, size_); i > from;) {
        const int level = LevelEndingAt(i, from);
        if (level == 0) {
            if (Has(channel, i - 1))
                return i - 1;
            --i;
        } else {
            const std::size_t block = (i >> (kFanBits * level)) - 1;
            if (blocks_[std::size_t(level)][block].Has(channel))
                return LastIn(channel, level, block);
            i -= BlockRows(level);
        }
    }
    return std::nullopt;
}

std::size_t Trace::MemoryBytes() const {
    std::size_t bytes = sizeof *this + chunks_.capacity() * sizeof(void*) + chunks_.size() * sizeof(Columns);
    for (const auto& level : blocks_)
        bytes += level.capacity() * sizeof(Block);
    return bytes + events_.capacity() * sizeof(Event) + crossings_.capacity() * sizeof(LimitCrossing) +
           offsets_.capacity() * sizeof(offsets_[0]);
}

} // namespace trend
