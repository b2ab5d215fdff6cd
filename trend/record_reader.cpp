#include "trend/record_reader.h"

#include "record/csv_row.h"
#include "report/failure.h"
#include "storage/file_kind.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trend {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("trend", text);
}

const std::array<std::string_view, 11> kColumns = {"time", "elapsed_s", "sweep", "x",  "ad0_v", "ad1_v",
                                                   "hh",   "hl",        "lh",    "ll", "note"};

// A field's text, shortened for a message.
QString Shown(std::string_view text) {
    QString s = QString::fromUtf8(text.data(), qsizetype(text.size()));
    if (s.size() > 40)
        s = s.left(39) + QChar(0x2026);
    return s;
}

bool IsUtf8(std::string_view text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return !decoder.hasError();
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

class Reader {
public:
    Reader(std::string_view bytes, const QString& name) : bytes_(bytes), name_(name) {}

    RecordRead Read() {
        RecordRead read;
        if (bytes_.empty()) {
            read.problem = Tr("%1: 空のファイルです。記録ファイルではありません").arg(name_);
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
        long long line = 1;
        Row row;
        while (pos < bytes_.size()) {
            ++line;
            const char* start = bytes_.data() + pos;
            const void* nl = std::memchr(start, '\n', bytes_.size() - pos);
            if (!nl) {
                read.problem =
                    Tr("%1: 最後の行 (%2 行目) が途中で切れています。記録中にロガーが止まったようです。"
                       "その前の %3 行を表示します")
                        .arg(name_)
                        .arg(line)
                        .arg(trace->Size());
                read.onlyTorn = true;
                break;
            }
            std::string_view text(start, std::size_t(static_cast<const char*>(nl) - start));
            pos += text.size() + 1;
            if (!text.empty() && text.back() == '\r')
                text.remove_suffix(1);
            if (auto problem = ParseRow(text, row)) {
                read.problem = Tr("%1 の %2 行目: %3").arg(name_).arg(line).arg(*problem);
                break;
            }
            if (trace->Size() == kMostRecordRows) {
                read.problem =
                    Tr("%1: 行が多すぎます。最初の %2 行だけを表示します").arg(name_).arg(trace->Size());
                break;
            }
            trace->Append(row);
        }
        if (trace->Empty()) {
            if (read.problem.isEmpty())
                read.problem = Tr("%1: サンプルの行がありません").arg(name_);
            read.onlyTorn = false;
            return read;
        }
        read.trace = std::move(trace);
        return read;
    }

private:
    std::optional<QString> HeaderProblem(std::string_view header) const {
        const std::string_view expected = record::kHeaderRow.substr(0, record::kHeaderRow.size() - 2);
        if (header == expected)
            return std::nullopt;
        if (!IsUtf8(header))
            return Tr("%1 の 1 行目: UTF-8 でないバイトがあります。記録ファイルではありません").arg(name_);
        // A header with most of the record's columns is a record with some missing or unknown.
        QStringList names;
        for (const QByteArray& n : QByteArray(header.data(), qsizetype(header.size())).split(','))
            names << QString::fromUtf8(n.trimmed());
        int known = 0;
        for (const std::string_view column : kColumns)
            known += names.contains(QString::fromLatin1(column.data(), qsizetype(column.size())));
        if (known < 3)
            return Tr("%1: 記録ファイルではありません (1 行目が記録の見出しではありません)").arg(name_);
        for (const std::string_view column : kColumns) {
            const QString c = QString::fromLatin1(column.data(), qsizetype(column.size()));
            if (!names.contains(c))
                return Tr("%1 の 1 行目: 列「%2」がありません").arg(name_, c);
        }
        return Tr("%1 の 1 行目: 列が記録の列と違います (%2)").arg(name_, Shown(header));
    }

    std::optional<QString> ParseRow(std::string_view text, Row& row) const {
        std::array<std::string_view, 11> f;
        std::size_t count = 0, from = 0;
        for (std::size_t i = 0; i <= text.size(); ++i)
            if (i == text.size() || text[i] == ',') {
                if (count < f.size())
                    f[count] = text.substr(from, i - from);
                ++count;
                from = i + 1;
            }
        if (count != f.size()) {
            if (!IsUtf8(text))
                return Tr("UTF-8 でないバイトがあります");
            if (text.empty())
                return Tr("空の行です");
            return Tr("列が %1 個あります (記録の行は 11 列です)").arg(count);
        }
        std::int64_t value = 0;
        std::size_t bad = f.size();
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
        if (bad == f.size()) {
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
            if (bad == f.size() && given != 0 && given != 4)
                return Tr("hh, hl, lh, ll の一部だけが空です");
            row.levels = given == 4 ? levels : kNoLevels;
        }
        if (bad != f.size()) {
            if (!IsUtf8(text))
                return Tr("UTF-8 でないバイトがあります");
            const QString column = QString::fromLatin1(kColumns[bad].data(), qsizetype(kColumns[bad].size()));
            return Tr("列「%1」の値「%2」が読めません").arg(column, Shown(f[bad]));
        }
        if (row.note != acquisition::SampleNote::None) {
            // A row that is not a sample has no values; the logger writes none.
            row.ad0 = row.ad1 = kNoVolts;
            row.levels = kNoLevels;
        }
        return std::nullopt;
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
    return Reader(bytes, name).Read();
}

RecordRead ReadRecord(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    MappedFile file;
    if (auto problem = file.Open(path)) {
        RecordRead read;
        read.problem = Tr("%1 を開けません: %2").arg(name, *problem);
        return read;
    }
    return ReadRecordBytes(file.Bytes(), name);
}

} // namespace trend
