#include "trend/record_reader.h"

#include "record/csv_row.h"
#include "report/failure.h"
#include "storage/file_kind.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trend {

namespace {

const std::array<std::string_view, 11> kColumns = {"time", "elapsed_s", "sweep", "x",  "ad0_v", "ad1_v",
                                                   "hh",   "hl",        "lh",    "ll", "note"};

// A field's text, shortened for a message.
// A field's text, shortened for a message (from its first bytes only: a field may be huge).
QString Shown(std::string_view text) {
    QString s = QString::fromUtf8(text.data(), qsizetype(std::min<std::size_t>(text.size(), 160)));
    if (s.size() > 40 || text.size() > 160)
        s = s.left(39) + QChar(0x2026);
    for (QChar& c : s) // a control character (a NUL of a torn file, say) shown as a question mark
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    return s;
}

// Whether the bytes are UTF-8, without making text of them (a torn file may hold a row of gigabytes).
bool IsUtf8(std::string_view text) {
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = (c & 0xE0) == 0xC0   ? 2
                                   : (c & 0xF0) == 0xE0 ? 3
                                   : (c & 0xF8) == 0xF0 ? 4
                                                        : 0;
        if (length == 0 || i + length > n)
            return false;
        std::uint32_t point = c & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (d & 0x3F);
        }
        const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

unsigned Digit(char c) {
    return unsigned(c) - unsigned('0');
}

// `count` digits at p, or -1.
int Digits(const char* p, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned d = Digit(p[i]);
        if (d > 9)
            return -1;
        value = value * 10 + int(d);
    }
    return value;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int64_t(era) * 146097 + doe - 719468;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// 2026-12-07T09:30:47.123+09:00: milliseconds since 1970 UTC and the offset in minutes.
bool ParseTime(std::string_view f, Row& row) {
    if (f.size() != 29 || f[4] != '-' || f[7] != '-' || f[10] != 'T' || f[13] != ':' || f[16] != ':' ||
        f[19] != '.' || (f[23] != '+' && f[23] != '-') || f[26] != ':')
        return false;
    const char* p = f.data();
    const int year = Digits(p, 4), month = Digits(p + 5, 2), day = Digits(p + 8, 2);
    const int hour = Digits(p + 11, 2), minute = Digits(p + 14, 2), second = Digits(p + 17, 2);
    const int ms = Digits(p + 20, 3), offsetHours = Digits(p + 24, 2), offsetMinutes = Digits(p + 27, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 || offsetHours < 0 ||
        offsetHours > 18 || offsetMinutes < 0 || offsetMinutes > 59)
        return false;
    const int offset = (f[23] == '-' ? -1 : 1) * (offsetHours * 60 + offsetMinutes);
    const std::int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    row.timeMs = (seconds - offset * 60) * 1000 + ms;
    row.offsetMinutes = std::int16_t(offset);
    return true;
}

// Whole digits, at most `most` of them.
bool ParseWhole(std::string_view f, std::size_t most, std::int64_t& value) {
    if (f.empty() || f.size() > most)
        return false;
    value = 0;
    for (const char c : f) {
        const unsigned d = Digit(c);
        if (d > 9)
            return false;
        value = value * 10 + d;
    }
    return true;
}

// Digits, a point and exactly `decimals` digits, as a whole number of the last decimal's unit.
bool ParseDecimal(std::string_view f, std::size_t decimals, std::size_t mostWhole, std::int64_t& value) {
    if (f.size() < decimals + 2 || f[f.size() - decimals - 1] != '.')
        return false;
    std::int64_t whole = 0, fraction = 0;
    if (!ParseWhole(f.substr(0, f.size() - decimals - 1), mostWhole, whole) ||
        !ParseWhole(f.substr(f.size() - decimals), decimals, fraction))
        return false;
    std::int64_t scale = 1;
    for (std::size_t i = 0; i < decimals; ++i)
        scale *= 10;
    value = whole * scale + fraction;
    return true;
}

bool ParseVolts(std::string_view f, std::int16_t& volts) {
    if (f.empty()) {
        volts = kNoVolts;
        return true;
    }
    std::int64_t hundredths = 0;
    if (!ParseDecimal(f, 2, 3, hundredths) || hundredths > INT16_MAX)
        return false;
    volts = std::int16_t(hundredths);
    return true;
}

bool ParseNote(std::string_view f, acquisition::SampleNote& note) {
    using acquisition::SampleNote;
    for (const SampleNote n : {SampleNote::None, SampleNote::NoFrame, SampleNote::NoReply,
                               SampleNote::UnitLost, SampleNote::UnitBack})
        if (f == record::NoteText(n)) {
            note = n;
            return true;
        }
    return false;
}

// A row's text between `start` and its line end (a CR before it left out), its commas and where
// the next row begins.
struct Fields {
    const char* start;
    const char* end;
    const char* next;
    const char* comma[16]; // the first sixteen
    std::size_t commas;
};

inline void NoteCommas(const char* at, unsigned mask, Fields& fields) {
    while (mask) {
        if (fields.commas < 16)
            fields.comma[fields.commas] = at + __builtin_ctz(mask);
        ++fields.commas;
        mask &= mask - 1;
    }
}

// Finds the row beginning at p; false when the bytes end before its line end. Sixteen bytes at a
// time where the bytes allow, one at a time near their end.
bool Split(const char* p, const char* limit, Fields& fields) {
    fields.start = p;
    fields.commas = 0;
    const char* lineEnd = nullptr;
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i newline = _mm_set1_epi8('\n');
    for (; p + 16 <= limit; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned commas = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)));
        const unsigned newlines = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline)));
        if (newlines) {
            commas &= (newlines & (0u - newlines)) - 1;
            NoteCommas(p, commas, fields);
            lineEnd = p + __builtin_ctz(newlines);
            break;
        }
        NoteCommas(p, commas, fields);
    }
#endif
    for (; !lineEnd && p < limit; ++p) {
        if (*p == '\n')
            lineEnd = p;
        else if (*p == ',')
            NoteCommas(p, 1, fields);
    }
    if (!lineEnd)
        return false;
    fields.next = lineEnd + 1;
    fields.end = lineEnd > fields.start && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
    return true;
}

std::optional<QString> ParseRow(const Fields& fields, Row& row) {
    const std::string_view text(fields.start, std::size_t(fields.end - fields.start));
    if (fields.commas != kColumns.size() - 1) {
        if (!IsUtf8(text))
            return QCoreApplication::translate("trend", "UTF-8 でないバイトがあります");
        if (text.empty())
            return QCoreApplication::translate("trend", "空の行です");
        return QCoreApplication::translate("trend", "列が %1 個あります (記録の行は 11 列です)")
            .arg(fields.commas + 1);
    }
    std::string_view f[kColumns.size()];
    const char* from = fields.start;
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        const char* to = i + 1 < kColumns.size() ? fields.comma[i] : fields.end;
        f[i] = std::string_view(from, std::size_t(to - from));
        from = to + 1;
    }
    std::int64_t value = 0;
    constexpr std::size_t kGood = kColumns.size();
    std::size_t bad = kGood;
    if (!ParseTime(f[0], row))
        bad = 0;
    else if (!ParseDecimal(f[1], 3, 12, value))
        bad = 1;
    else if (row.elapsedMs = value; !ParseWhole(f[2], 9, value))
        bad = 2;
    else if (row.sweep = std::int32_t(value); !ParseWhole(f[3], 5, value) || value > UINT16_MAX)
        bad = 3;
    else if (row.x = std::uint16_t(value); !ParseVolts(f[4], row.ad0))
        bad = 4;
    else if (!ParseVolts(f[5], row.ad1))
        bad = 5;
    else if (!ParseNote(f[10], row.note))
        bad = 10;
    if (bad == kGood) {
        // The four lines: all 1 or 0, or all empty.
        std::uint8_t levels = 0;
        int given = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const std::string_view bit = f[6 + j];
            if (bit.empty())
                continue;
            if (bit.size() != 1 || (bit[0] != '0' && bit[0] != '1')) {
                bad = 6 + j;
                break;
            }
            ++given;
            levels = std::uint8_t(levels | ((bit[0] - '0') << (3 - j)));
        }
        if (bad == kGood && given != 0 && given != 4)
            return QCoreApplication::translate("trend", "hh, hl, lh, ll の一部だけが空です");
        row.levels = given == 4 ? levels : kNoLevels;
    }
    if (bad != kGood) {
        if (!IsUtf8(text))
            return QCoreApplication::translate("trend", "UTF-8 でないバイトがあります");
        const QString column = QString::fromLatin1(kColumns[bad].data(), qsizetype(kColumns[bad].size()));
        return QCoreApplication::translate("trend", "列「%1」の値「%2」が読めません")
            .arg(column, Shown(f[bad]));
    }
    if (row.note != acquisition::SampleNote::None) {
        // A row that is not a sample has no values; the logger writes none.
        row.ad0 = row.ad1 = kNoVolts;
        row.levels = kNoLevels;
    }
    return std::nullopt;
}

// The rows of one piece of a record, up to a bad or torn one.
struct Piece {
    std::vector<Row> rows;          // when read ahead by the worker
    long long count = 0;            // rows read whole
    std::optional<QString> problem; // what is wrong with the row after them
    bool torn = false;              // the bytes end inside the row after them
};

// Reads rows [p, end) and hands each to `take`, until it answers false.
template <class Take> Piece ParseRows(const char* p, const char* end, const Take& take) {
    Piece piece;
    Fields fields;
    Row row;
    while (p < end) {
        if (!Split(p, end, fields)) {
            piece.torn = true;
            break;
        }
        p = fields.next;
        if ((piece.problem = ParseRow(fields, row)) || !take(row))
            break;
        ++piece.count;
    }
    return piece;
}

// Reads the odd pieces on a thread of its own, at most a few ahead of their taker.
class Worker {
public:
    explicit Worker(const std::vector<const char*>& pieces) : pieces_(pieces) {
        if (pieces_.size() > 4)
            thread_ = std::thread([this] { Run(); });
    }
    ~Worker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    bool Running() const { return thread_.joinable(); }

    // Piece k (odd), once read.
    Piece Take(std::size_t k) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this, k] { return ready_.count(k) != 0; });
        Piece piece = std::move(ready_[k]);
        ready_.erase(k);
        taken_ = k;
        changed_.notify_all();
        return piece;
    }

private:
    void Run() {
        for (std::size_t k = 1; k + 1 < pieces_.size(); k += 2) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this, k] { return stop_ || k <= taken_ + 4; });
                if (stop_)
                    return;
            }
            Piece piece;
            try {
                std::vector<Row> rows;
                piece = ParseRows(pieces_[k], pieces_[k + 1], [&rows](const Row& row) {
                    rows.push_back(row);
                    return true;
                });
                piece.rows = std::move(rows);
            } catch (const std::bad_alloc&) {
                piece.problem = QCoreApplication::translate("trend", "メモリが足りません");
            }
            const bool last = piece.problem || piece.torn;
            {
                std::lock_guard lock(mutex_);
                ready_.emplace(k, std::move(piece));
            }
            changed_.notify_all();
            if (last)
                return;
        }
    }

    const std::vector<const char*>& pieces_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::size_t, Piece> ready_;
    std::size_t taken_ = 0;
    bool stop_ = false;
};

class Reader {
public:
    Reader(std::string_view bytes, const QString& name) : bytes_(bytes), name_(name) {}

    RecordRead Read() {
        RecordRead read;
        if (bytes_.empty()) {
            read.problem =
                QCoreApplication::translate("trend", "%1: 空のファイルです。記録ファイルではありません")
                    .arg(name_);
            return read;
        }
        std::size_t pos = 0;
        if (bytes_.substr(0, 3) == "\xEF\xBB\xBF")
            pos = 3;
        const std::size_t headerEnd = bytes_.find('\n', pos);
        std::string_view header =
            bytes_.substr(pos, headerEnd == std::string_view::npos ? bytes_.size() - pos : headerEnd - pos);
        if (!header.empty() && header.back() == '\r')
            header.remove_suffix(1);
        if (auto problem = HeaderProblem(header)) {
            read.problem = *problem;
            return read;
        }
        auto trace = std::make_unique<Trace>(name_);
        pos = headerEnd == std::string_view::npos ? bytes_.size() : headerEnd + 1;
        const std::vector<const char*> pieces = Pieces(pos);
        // Odd pieces are read ahead by a second thread while this one reads the even ones.
        Worker worker(pieces);
        long long line = 1; // the last line read whole
        for (std::size_t k = 0; k + 1 < pieces.size(); ++k) {
            bool full = false;
            const auto take = [&trace, &full](const Row& row) {
                if (trace->Size() == kMostTraceRows)
                    return !(full = true);
                trace->Append(row);
                return true;
            };
            Piece piece;
            if (k % 2 == 0 || !worker.Running()) {
                piece = ParseRows(pieces[k], pieces[k + 1], take);
            } else {
                piece = worker.Take(k);
                for (std::size_t i = 0; i < piece.rows.size() && !full; ++i)
                    take(piece.rows[i]);
            }
            if (full) {
                read.problem =
                    QCoreApplication::translate("trend", "%1: 行が多すぎます。最初の %2 行だけを表示します")
                        .arg(name_)
                        .arg(trace->Size());
                break;
            }
            line += piece.count;
            if (piece.torn) {
                read.problem =
                    QCoreApplication::translate(
                        "trend",
                        "%1: 最後の行 (%2 行目) が途中で切れています。記録中にロガーが止まったようです。"
                        "その前の %3 行を表示します")
                        .arg(name_)
                        .arg(line + 1)
                        .arg(trace->Size());
                read.onlyTorn = true;
                break;
            }
            if (piece.problem) {
                read.problem = QCoreApplication::translate("trend", "%1 の %2 行目: %3")
                                   .arg(name_)
                                   .arg(line + 1)
                                   .arg(*piece.problem);
                break;
            }
        }
        if (trace->Empty()) {
            if (read.problem.isEmpty())
                read.problem =
                    QCoreApplication::translate("trend", "%1: サンプルの行がありません").arg(name_);
            read.onlyTorn = false;
            return read;
        }
        read.trace = std::move(trace);
        return read;
    }

private:
    // Where the pieces of rows from `pos` on begin, each about a megabyte and ending after a line end,
    // and the end of the bytes.
    std::vector<const char*> Pieces(std::size_t pos) const {
        constexpr std::size_t kPieceBytes = 1 << 20;
        std::vector<const char*> pieces{bytes_.data() + pos};
        while (bytes_.size() - pos > kPieceBytes) {
            const std::size_t nl = bytes_.find('\n', pos + kPieceBytes);
            if (nl == std::string_view::npos || nl + 1 == bytes_.size())
                break;
            pos = nl + 1;
            pieces.push_back(bytes_.data() + pos);
        }
        pieces.push_back(bytes_.data() + bytes_.size());
        return pieces;
    }

    std::optional<QString> HeaderProblem(std::string_view header) const {
        const std::string_view expected = record::kHeaderRow.substr(0, record::kHeaderRow.size() - 2);
        if (header == expected)
            return std::nullopt;
        // The record's header is some 50 bytes: a long first line is something else.
        if (header.size() > 1024)
            return QCoreApplication::translate(
                       "trend", "%1: 記録ファイルではありません (1 行目が記録の見出しではありません)")
                .arg(name_);
        if (!IsUtf8(header))
            return QCoreApplication::translate(
                       "trend", "%1 の 1 行目: UTF-8 でないバイトがあります。記録ファイルではありません")
                .arg(name_);
        // A header with most of the record's columns is a record with some missing or unknown.
        QStringList names;
        for (const QByteArray& n : QByteArray(header.data(), qsizetype(header.size())).split(','))
            names << QString::fromUtf8(n.trimmed());
        int known = 0;
        for (const std::string_view column : kColumns)
            known += names.contains(QString::fromLatin1(column.data(), qsizetype(column.size())));
        if (known < 3)
            return QCoreApplication::translate(
                       "trend", "%1: 記録ファイルではありません (1 行目が記録の見出しではありません)")
                .arg(name_);
        for (const std::string_view column : kColumns) {
            const QString c = QString::fromLatin1(column.data(), qsizetype(column.size()));
            if (!names.contains(c))
                return QCoreApplication::translate("trend", "%1 の 1 行目: 列「%2」がありません")
                    .arg(name_, c);
        }
        return QCoreApplication::translate("trend", "%1 の 1 行目: 列が記録の列と違います (%2)")
            .arg(name_, Shown(header));
    }

    std::string_view bytes_;
    QString name_;
};

// A read-only mapping of a whole file, unmapped when it goes.
class MappedFile {
public:
    ~MappedFile() {
        if (data_)
            ::munmap(data_, size_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    std::optional<QString> Open(const QString& path) {
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (::stat(native.constData(), &st) != 0)
            return report::SystemErrorText(errno);
        if (!S_ISREG(st.st_mode))
            return storage::NotRegularFileReason(st.st_mode, false);
        // Not blocking on a FIFO put in the file's place since.
        fd_ = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd_ < 0)
            return report::SystemErrorText(errno);
        if (::fstat(fd_, &st) != 0)
            return report::SystemErrorText(errno);
        if (!S_ISREG(st.st_mode))
            return storage::NotRegularFileReason(st.st_mode, false);
        size_ = std::size_t(st.st_size);
        if (size_ == 0)
            return std::nullopt;
        void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
        if (data == MAP_FAILED)
            return report::SystemErrorText(errno);
        data_ = data;
        ::madvise(data_, size_, MADV_SEQUENTIAL);
        return std::nullopt;
    }
    std::string_view Bytes() const { return {static_cast<const char*>(data_), data_ ? size_ : 0}; }

private:
    int fd_ = -1;
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace

RecordRead ReadRecordBytes(std::string_view bytes, const QString& name) {
    try {
        return Reader(bytes, name).Read();
    } catch (const std::bad_alloc&) {
        RecordRead read;
        read.problem = QCoreApplication::translate("trend", "%1: メモリが足りません").arg(name);
        return read;
    }
}

RecordRead ReadRecord(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    MappedFile file;
    if (auto problem = file.Open(path)) {
        RecordRead read;
        read.problem = QCoreApplication::translate("trend", "%1 を開けません: %2").arg(name, *problem);
        return read;
    }
    return ReadRecordBytes(file.Bytes(), name);
}

} // namespace trend
