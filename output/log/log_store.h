// The run log's contents: a list of lines, each kept as the raw Shift-JIS bytes it was given.
//
// A reply is stored exactly as the unit sent it, CR LF and all; the file form ends every line
// with one more CR LF of its own. Text typed by the program or the user is encoded by the rule
// in shift_jis.h, so nothing is lost.
//
// A whole run without auto-save (864,000 replies a day at one per 0.1 s) must fit in memory:
// the bytes live in large blocks that lines never straddle, and each line costs one small
// index entry, not a heap object of its own.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace output {

class LogStore {
public:
    // A new store holds one empty line, as the log pane does when it is created.
    LogStore();

    void Clear();                             // no lines at all
    void SetSingleLine(QByteArrayView bytes); // the whole log becomes this one line
    void AppendBytes(QByteArrayView bytes);   // a new last line, byte for byte
    void AppendText(QStringView text);        // a new last line, encoded

    qsizetype LineCount() const { return qsizetype(lines_.size()); }
    qsizetype LineSize(qsizetype line) const { return lines_[std::size_t(line)].size; }
    // Valid until the store next changes.
    QByteArrayView LineView(qsizetype line) const;
    QByteArray LineBytes(qsizetype line) const { return LineView(line).toByteArray(); }
    QString LineText(qsizetype line) const; // for display: decoded

    // Editing. Indexes must lie in 0..LineCount()-1, or 0..LineCount() for InsertLine.
    void ReplaceLine(qsizetype line, QStringView text);
    void ReplaceLineBytes(qsizetype line, QByteArrayView bytes);
    void InsertLine(qsizetype line, QStringView text);
    void InsertLineBytes(qsizetype line, QByteArrayView bytes);
    void InsertLines(qsizetype line, const QStringList& texts); // one move of the index for all
    void RemoveLine(qsizetype line);
    // Lines [line, line + count) become `lines`, in one move of the index; `lines` may point into
    // this store.
    void ReplaceLines(qsizetype line, qsizetype count, std::span<const QByteArrayView> lines);

    // Every line's bytes followed by CR LF: the log file as it is saved.
    QByteArray FileBytes() const;
    std::size_t MemoryBytes() const; // what the store holds, capacity included

private:
    struct Line {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint32_t size;
    };
    struct Block {
        std::unique_ptr<char[]> data;
        std::uint32_t capacity = 0;
        std::uint32_t used = 0;
    };

    Line Store(QByteArrayView bytes);
    void Release(const Line& line);
    void CompactIfWasteful();

    std::vector<Block> blocks_;
    std::vector<Line> lines_;
    std::size_t liveBytes_ = 0;    // bytes of the lines as they stand
    std::size_t garbageBytes_ = 0; // bytes of replaced or removed lines, reclaimed by compaction
};

} // namespace output
