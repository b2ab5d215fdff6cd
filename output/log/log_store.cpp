#include "output/log/log_store.h"

#include "output/log/shift_jis.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace output {
namespace {

// Big enough that a day of replies needs only a few hundred blocks, small enough that the
// last, partly filled one wastes little.
constexpr std::uint32_t kBlockSize = 256 * 1024;
// Replaced and removed lines leave their bytes behind; they are reclaimed once they outweigh
// the live text and amount to more than this.
constexpr std::size_t kCompactThreshold = 1024 * 1024;

template <typename T> void GrowForOneMore(std::vector<T>& v) {
    // 1.5x rather than the library's 2x keeps the index of a long run closer to its size.
    if (v.size() == v.capacity())
        v.reserve(v.capacity() + v.capacity() / 2 + 16);
}

} // namespace

LogStore::LogStore() {
    lines_.push_back(Line{0, 0, 0});
}

void LogStore::Clear() {
    std::vector<Block>().swap(blocks_);
    std::vector<Line>().swap(lines_);
    garbageBytes_ = 0;
    liveBytes_ = 0;
}

void LogStore::SetSingleLine(QByteArrayView bytes) {
    const QByteArray copy = bytes.toByteArray(); // bytes may point into this store
    Clear();
    AppendBytes(copy);
}

void LogStore::AppendBytes(QByteArrayView bytes) {
    GrowForOneMore(lines_);
    lines_.push_back(Store(bytes));
}

void LogStore::AppendText(QStringView text) {
    AppendBytes(EncodeShiftJis(text));
}

QByteArrayView LogStore::LineView(qsizetype line) const {
    const Line& l = lines_[std::size_t(line)];
    if (l.size == 0)
        return {};
    return QByteArrayView(blocks_[l.block].data.get() + l.offset, l.size);
}

QString LogStore::LineText(qsizetype line) const {
    return DecodeShiftJis(LineView(line));
}

void LogStore::ReplaceLine(qsizetype line, QStringView text) {
    ReplaceLineBytes(line, EncodeShiftJis(text));
}

void LogStore::ReplaceLineBytes(qsizetype line, QByteArrayView bytes) {
    Line& l = lines_[std::size_t(line)];
    if (std::size_t(bytes.size()) <= l.size) {
        // Shrinking or same size: overwrite in place. memmove, as bytes may be part of this line.
        if (bytes.size() > 0)
            std::memmove(blocks_[l.block].data.get() + l.offset, bytes.data(), std::size_t(bytes.size()));
        garbageBytes_ += l.size - std::size_t(bytes.size());
        liveBytes_ -= l.size - std::size_t(bytes.size());
        l.size = std::uint32_t(bytes.size());
        return;
    }
    const Line old = l;
    const Line stored = Store(bytes); // may grow blocks_, but never moves stored bytes
    lines_[std::size_t(line)] = stored;
    Release(old);
    CompactIfWasteful();
}

void LogStore::InsertLine(qsizetype line, QStringView text) {
    InsertLineBytes(line, EncodeShiftJis(text));
}

void LogStore::InsertLineBytes(qsizetype line, QByteArrayView bytes) {
    const Line stored = Store(bytes);
    GrowForOneMore(lines_);
    lines_.insert(lines_.begin() + line, stored);
}

void LogStore::InsertLines(qsizetype line, const QStringList& texts) {
    std::vector<Line> stored;
    stored.reserve(std::size_t(texts.size()));
    for (const QString& text : texts)
        stored.push_back(Store(EncodeShiftJis(text)));
    lines_.insert(lines_.begin() + line, stored.begin(), stored.end());
}

void LogStore::RemoveLine(qsizetype line) {
    const Line old = lines_[std::size_t(line)];
    lines_.erase(lines_.begin() + line);
    Release(old);
    CompactIfWasteful();
}

void LogStore::ReplaceLines(qsizetype line, qsizetype count, std::span<const QByteArrayView> lines) {
    // Stored first: the new lines may be bytes of the old ones, which stay where they are until compaction.
    std::vector<Line> stored;
    stored.reserve(lines.size());
    for (QByteArrayView bytes : lines)
        stored.push_back(Store(bytes));
    const auto first = lines_.begin() + line;
    std::for_each(first, first + count, [this](const Line& old) { Release(old); });
    const auto kept = std::min(std::size_t(count), stored.size());
    std::copy(stored.begin(), stored.begin() + qsizetype(kept), first);
    if (stored.size() > kept)
        lines_.insert(first + qsizetype(kept), stored.begin() + qsizetype(kept), stored.end());
    else
        lines_.erase(first + qsizetype(kept), first + count);
    CompactIfWasteful();
}

QByteArray LogStore::FileBytes() const {
    QByteArray file;
    file.reserve(qsizetype(liveBytes_ + 2 * lines_.size()));
    for (qsizetype i = 0; i < LineCount(); ++i) {
        file.append(LineView(i));
        file.append("\r\n", 2);
    }
    return file;
}

std::size_t LogStore::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + blocks_.capacity() * sizeof(Block) + lines_.capacity() * sizeof(Line);
    for (const Block& b : blocks_)
        bytes += b.capacity;
    return bytes;
}

LogStore::Line LogStore::Store(QByteArrayView bytes) {
    // A line of 4 GiB or more cannot be indexed; the log never sees one (replies are at most
    // 255 bytes and typed lines are short).
    Q_ASSERT(std::size_t(bytes.size()) <= std::numeric_limits<std::uint32_t>::max());
    const auto size = std::uint32_t(bytes.size());
    if (size == 0)
        return Line{0, 0, 0};
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < size) {
        Block block;
        block.capacity = std::max(size, kBlockSize);
        block.data = std::unique_ptr<char[]>(new char[block.capacity]);
        GrowForOneMore(blocks_);
        blocks_.push_back(std::move(block));
    }
    Block& block = blocks_.back();
    const Line line{std::uint32_t(blocks_.size() - 1), block.used, size};
    std::memcpy(block.data.get() + block.used, bytes.data(), size);
    block.used += size;
    liveBytes_ += size;
    return line;
}

void LogStore::Release(const Line& line) {
    garbageBytes_ += line.size;
    liveBytes_ -= line.size;
}

void LogStore::CompactIfWasteful() {
    if (garbageBytes_ < kCompactThreshold || garbageBytes_ < liveBytes_)
        return;
    std::vector<Block> old;
    old.swap(blocks_);
    liveBytes_ = 0;
    garbageBytes_ = 0;
    for (Line& line : lines_) {
        if (line.size == 0)
            continue;
        const QByteArrayView bytes(old[line.block].data.get() + line.offset, line.size);
        line = Store(bytes);
    }
}

} // namespace output
