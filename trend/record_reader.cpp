#include "trend/record_reader.h"

#include "acquisition/sample_words.h"
#include "record/csv_row.h"
#include "report/failure.h"
#include "storage/file_kind.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <system_error>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

namespace trend {

namespace {

using record::kValueColumns;
constexpr auto& kColumns = record::kVoltsColumns;

std::string_view ColumnName(std::size_t column) {
    return column < kColumns.size() ? kColumns[column] : kValueColumns[column - kColumns.size()];
}

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
    for (const acquisition::SampleNote n : acquisition::kSampleNotes)
        if (f == acquisition::NoteWord(n)) {
            note = n;
            return true;
        }
    return false;
}

// A note column's crossings of limits ("ad0 high; ad1 back"), a channel at most once.
bool ParseCrossings(std::string_view f, Row& row) {
    const auto crossings = channels::ParseNotes(f);
    if (crossings.empty())
        return false;
    for (const auto& [channel, crossing] : crossings) {
        auto& slot = row.crossings[std::size_t(channel)];
        if (slot)
            return false;
        slot = crossing;
    }
    return true;
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

// A value as the record writes it: an optional minus, digits, and a point with digits or not.
bool ParseValue(std::string_view f, double& value, int& decimals) {
    std::size_t i = !f.empty() && f[0] == '-' ? 1 : 0;
    std::uint64_t digits = 0;
    int count = 0;
    decimals = -1;
    for (; i < f.size(); ++i) {
        if (f[i] == '.' && decimals < 0 && count > 0) {
            decimals = 0;
            continue;
        }
        const unsigned d = Digit(f[i]);
        if (d > 9 || ++count > 18)
            return false;
        digits = digits * 10 + d;
        decimals += decimals >= 0;
    }
    if (count == 0 || decimals == 0)
        return false;
    decimals = std::max(decimals, 0);
    // Up to fifteen digits and a power of ten are both exact: the quotient is the nearest value to the
    // text (and within a part in 10^15 of it beyond).
    value = double(digits) / kPowersOfTen[decimals];
    if (f[0] == '-')
        value = -value;
    return true;
}

// The four value columns after the note, RFC 4180 fields: a unit may be quoted, its quotes doubled.
bool SplitValueColumns(std::string_view text, std::array<std::string_view, 4>& fields) {
    std::size_t n = 0;
    std::size_t i = 0;
    for (;;) {
        const std::size_t from = i;
        if (i < text.size() && text[i] == '"') {
            for (++i;; ++i) {
                if (i >= text.size())
                    return false;
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"')
                        ++i;
                    else
                        break;
                }
            }
            ++i;
            if (i < text.size() && text[i] != ',')
                return false;
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '"')
                ++i;
            if (i < text.size() && text[i] == '"')
                return false;
        }
        if (n == fields.size())
            return false;
        fields[n++] = text.substr(from, i - from);
        if (i == text.size())
            return n == fields.size();
        ++i;
    }
}

// A unit field's text: unquoted, its doubled quotes made one.
QString Unquoted(std::string_view field) {
    if (field.size() < 2 || field.front() != '"')
        return QString::fromUtf8(field.data(), qsizetype(field.size()));
    std::string text;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        text += field[i];
        if (field[i] == '"')
            ++i;
    }
    return QString::fromStdString(text);
}

// A row's value columns as read, checked against the record's other rows in row order.
struct Values {
    std::array<std::string_view, 2> text; // the value fields
    std::array<std::string_view, 2> unit;
    std::array<double, 2> value{};
    std::array<int, 2> decimals{-1, -1}; // -1: empty
    long long line = 0;                  // in its piece, from 0
};

QString VoltsText(std::int16_t hundredths) {
    if (hundredths == kNoVolts)
        return QString();
    return QStringLiteral("%1.%2").arg(hundredths / 100).arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

// Whether (h, y) lies on the line the record's rows so far draw, as near as rounding allows.
bool OnLine(const ValueColumns::Line& line, int h, double y) {
    // The same volts are the same value.
    if (h == line.low || h == line.high)
        return y == (h == line.low ? line.lowValue : line.highValue);
    if (line.low == line.high)
        return true;
    // Each value is the line's own rounded to the record's decimals, off by half a unit of the last one;
    // the line through two of them is off by as much between them, and by more beyond them.
    const double unit = 1 / kPowersOfTen[line.decimals];
    const double span = double(line.high - line.low);
    const double predicted = line.lowValue + (line.highValue - line.lowValue) * double(h - line.low) / span;
    const double beyond = h < line.low ? line.low - h : h > line.high ? h - line.high : 0;
    const double allowed = unit * (1 + beyond / span) + 1e-12 * std::max(std::abs(y), std::abs(predicted));
    return std::abs(y - predicted) <= allowed;
}

// A sample row's values against the rows before: the unit and the decimals the same, every value on
// one line from volts to values. Notes have no values.
std::optional<QString> CheckValues(ValueColumns& columns, const Row& row, const Values& values) {
    if (row.note != acquisition::SampleNote::None)
        return std::nullopt;
    for (std::size_t c = 0; c < 2; ++c) {
        const std::int16_t h = c == 0 ? row.ad0 : row.ad1;
        const auto disagrees = [&](std::string_view field, const char* column) {
            return QCoreApplication::translate("trend", "列「%1」の値「%2」が列「%3」の値「%4」と合いません")
                .arg(QString::fromLatin1(column), Shown(field), QString::fromLatin1(kColumns[4 + c].data()),
                     VoltsText(h));
        };
        if ((h == kNoVolts) != (values.decimals[c] < 0))
            return disagrees(values.text[c], kValueColumns[2 * c].data());
        if (h == kNoVolts) {
            if (!values.unit[c].empty())
                return disagrees(values.unit[c], kValueColumns[2 * c + 1].data());
            continue;
        }
        ValueColumns::Line& line = columns.lines[c];
        if (line.decimals < 0) {
            if (!IsUtf8(values.unit[c]))
                return QCoreApplication::translate("trend", "UTF-8 でないバイトがあります");
            line.unit = std::string(values.unit[c]);
            line.decimals = values.decimals[c];
            line.low = line.high = h;
            line.lowValue = line.highValue = values.value[c];
            continue;
        }
        if (values.unit[c] != line.unit)
            return QCoreApplication::translate("trend", "列「%1」の値「%2」が前の行の単位「%3」と違います")
                .arg(QString::fromLatin1(kValueColumns[2 * c + 1].data()), Shown(values.unit[c]),
                     Shown(line.unit));
        const double y = values.value[c];
        if (values.decimals[c] != line.decimals || !OnLine(line, h, y))
            return disagrees(values.text[c], kValueColumns[2 * c].data());
        if (h < line.low) {
            line.low = h;
            line.lowValue = y;
        } else if (h > line.high) {
            line.high = h;
            line.highValue = y;
        }
    }
    return std::nullopt;
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

// A line longer than this is no row of a record (those are some 70 bytes): reading stops there
// rather than holding a line of gigabytes (the zeros of a torn file, say) in memory.
constexpr std::size_t kLongestLine = std::size_t(64) << 10;

// What is wrong with a line longer than that.
QString TooLong() {
    return QCoreApplication::translate("trend", "行が %1 バイトを超えています").arg(kLongestLine);
}

// What a reading of the record `name` says, the first read and the reading on alike.
QString LineProblem(const QString& name, long long line, const QString& problem) {
    return QCoreApplication::translate("trend", "%1 の %2 行目: %3").arg(name).arg(line).arg(problem);
}
QString BadLines(const QString& name, long long firstLine, const QString& problem, long long count) {
    return QCoreApplication::translate("trend", "%1 の %2 行目: %3 (読めない行は %4 行。飛ばして、残りをすべて表示します)")
        .arg(name)
        .arg(firstLine)
        .arg(problem)
        .arg(count);
}
QString TornLastRow(const QString& name, long long line, std::size_t rowsBefore) {
    return QCoreApplication::translate("trend", "%1: 最後の行 (%2 行目) が途中で切れています。記録中にロガーが止まったようです。"
                                                "その前の %3 行を表示します")
        .arg(name)
        .arg(line)
        .arg(rowsBefore);
}
QString TooManyRows(const QString& name, std::size_t kept) {
    return QCoreApplication::translate("trend", "%1: 行が多すぎます。最初の %2 行だけを表示します").arg(name).arg(kept);
}
QString CannotRead(const QString& name, const QString& why) {
    return QCoreApplication::translate("trend", "%1 を読めません: %2").arg(name, why);
}

// A row of a record with the value columns (`valueColumns`) or without; their fields in `values`.
std::optional<QString> ParseRow(const Fields& fields, bool valueColumns, Row& row, Values& values) {
    const std::string_view text(fields.start, std::size_t(fields.end - fields.start));
    if (text.size() > kLongestLine)
        return TooLong();
    const std::size_t columns = kColumns.size() + (valueColumns ? kValueColumns.size() : 0);
    std::array<std::string_view, 4> tail;
    bool split = fields.commas == columns - 1;
    if (valueColumns && fields.commas >= kColumns.size()) {
        // Only a unit can hold a comma or a quote: the fields after the note are split as RFC 4180 does
        // when there is a quote among them.
        const char* from = fields.comma[kColumns.size() - 1] + 1;
        const std::string_view rest(from, std::size_t(fields.end - from));
        if (rest.find('"') != std::string_view::npos)
            split = SplitValueColumns(rest, tail);
        else if (split)
            for (std::size_t i = 0; i < tail.size(); ++i) {
                const char* to = i + 1 < tail.size() ? fields.comma[kColumns.size() + i] : fields.end;
                const char* at = fields.comma[kColumns.size() + i - 1] + 1;
                tail[i] = std::string_view(at, std::size_t(to - at));
            }
    }
    if (!split) {
        if (!IsUtf8(text))
            return QCoreApplication::translate("trend", "UTF-8 でないバイトがあります");
        if (text.empty())
            return QCoreApplication::translate("trend", "空の行です");
        return QCoreApplication::translate("trend", "列が %1 個あります (記録の行は %2 列です)")
            .arg(fields.commas + 1)
            .arg(columns);
    }
    std::string_view f[kColumns.size() + kValueColumns.size()];
    const char* from = fields.start;
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        const char* to = i + 1 < kColumns.size() || valueColumns ? fields.comma[i] : fields.end;
        f[i] = std::string_view(from, std::size_t(to - from));
        from = to + 1;
    }
    if (valueColumns)
        std::copy(tail.begin(), tail.end(), f + kColumns.size());
    row.crossings = {};
    row.note = acquisition::SampleNote::None;
    std::int64_t value = 0;
    constexpr std::size_t kGood = kColumns.size() + kValueColumns.size();
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
    else if (!ParseNote(f[10], row.note) && !(valueColumns && ParseCrossings(f[10], row)))
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
    for (std::size_t c = 0; c < 2 && valueColumns && bad == kGood; ++c) {
        values.text[c] = f[kColumns.size() + 2 * c];
        values.unit[c] = f[kColumns.size() + 2 * c + 1];
        values.decimals[c] = -1;
        if (!values.text[c].empty() && !ParseValue(values.text[c], values.value[c], values.decimals[c]))
            bad = kColumns.size() + 2 * c;
    }
    if (bad != kGood) {
        if (!IsUtf8(text))
            return QCoreApplication::translate("trend", "UTF-8 でないバイトがあります");
        const std::string_view name = ColumnName(bad);
        const QString column = QString::fromLatin1(name.data(), qsizetype(name.size()));
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

// Lines of a chunk beyond this many bytes are parsed in two parts, one by a second thread.
constexpr std::ptrdiff_t kHalvedBytes = 256 << 10;

// The rows of some whole lines. A bad line is left out, counted, and breaks the lines drawn.
struct Piece {
    std::vector<Row> rows;          // when read by the second thread
    std::vector<Values> values;     // theirs, with the value columns, to be checked in row order
    long long lines = 0;            // lines gone through, bad ones too
    long long bad = 0;              // lines that could not be read
    long long firstBad = 0;         // the first bad one, counted from 0 in the piece
    std::optional<QString> badProblem; // what is wrong with the first bad line
    std::optional<QString> problem;    // what ends the reading (with `stop`)
    bool endsBad = false;           // the last line was a bad one: the next row breaks the lines
    bool stop = false;              // reading ends here (memory)

    // The line `line` (from 0 in the piece) cannot be read for `why`.
    void Bad(long long line, QString why) {
        if (bad++ == 0 || line < firstBad) {
            firstBad = line;
            badProblem = std::move(why);
        }
    }
};

// Reads the whole lines [p, end) and hands each row and its value columns to `take`, until it answers
// false. With `check`, the value columns are checked as the rows come (in row order only).
template <class Take>
Piece ParseRows(const char* p, const char* end, bool valueColumns, ValueColumns* check, const Take& take) {
    Piece piece;
    Fields fields;
    Row row;
    Values values;
    bool gap = false;
    while (p < end && Split(p, end, fields)) {
        p = fields.next;
        ++piece.lines;
        if (std::size_t(fields.end - fields.start) > kLongestLine) {
            // Not a row gone wrong but something else in the file: reading ends here.
            piece.problem = TooLong();
            piece.stop = true;
            break;
        }
        auto problem = ParseRow(fields, valueColumns, row, values);
        if (!problem && check)
            problem = CheckValues(*check, row, values);
        if (problem) {
            piece.Bad(piece.lines - 1, std::move(*problem));
            gap = true;
            continue;
        }
        row.gapBefore = gap;
        gap = false;
        values.line = piece.lines - 1;
        if (!take(row, values))
            break;
    }
    piece.endsBad = gap;
    return piece;
}

// The value columns of rows another thread read, checked in row order: a row that does not agree is
// left out as a bad line, and breaks the lines there.
void CheckPiece(Piece& piece, ValueColumns& columns) {
    std::size_t kept = 0;
    bool gap = false;
    for (std::size_t i = 0; i < piece.rows.size(); ++i) {
        Row row = piece.rows[i];
        if (auto problem = CheckValues(columns, row, piece.values[i])) {
            piece.Bad(piece.values[i].line, std::move(*problem));
            gap = true;
            continue;
        }
        row.gapBefore = row.gapBefore || gap;
        gap = false;
        piece.rows[kept++] = row;
    }
    piece.rows.resize(kept);
    // Whatever lines follow the last row left out were bad ones too.
    piece.endsBad = piece.endsBad || gap;
}

// Parses the second part of each chunk's lines on a thread of its own, in the order given, while the
// reader parses the first part and reads the next chunk.
class Helper {
public:
    ~Helper() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    // Queues the lines [begin, end) of a record with the value columns or without; false when there is no
    // thread to be had.
    bool Post(const char* begin, const char* end, bool valueColumns) {
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back({begin, end, valueColumns});
        }
        changed_.notify_all();
        return true;
    }

    // The rows of the oldest lines queued, once parsed.
    Piece Next() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pieces_.empty(); });
        Piece piece = std::move(pieces_.front());
        pieces_.pop_front();
        return piece;
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !jobs_.empty() || quit_; });
            if (quit_)
                return;
            const Job job = jobs_.front();
            jobs_.pop_front();
            lock.unlock();
            Piece piece;
            try {
                std::vector<Row> rows;
                std::vector<Values> values;
                rows.reserve(std::size_t(job.end - job.begin) / 64);
                if (job.valueColumns)
                    values.reserve(rows.capacity());
                piece = ParseRows(job.begin, job.end, job.valueColumns, nullptr,
                                  [&](const Row& row, const Values& v) {
                                      rows.push_back(row);
                                      if (job.valueColumns)
                                          values.push_back(v);
                                      return true;
                                  });
                piece.rows = std::move(rows);
                piece.values = std::move(values);
            } catch (const std::bad_alloc&) {
                piece.problem = QCoreApplication::translate("trend", "メモリが足りません");
                piece.stop = true;
            }
            lock.lock();
            pieces_.push_back(std::move(piece));
            changed_.notify_all();
        }
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    struct Job {
        const char* begin;
        const char* end;
        bool valueColumns;
    };
    std::deque<Job> jobs_;
    std::deque<Piece> pieces_;
    bool quit_ = false;
};

// The record taking shape as its lines come, chunk by chunk: the header, then the rows.
class Rows {
public:
    explicit Rows(const QString& name) : name_(name) {}

    // The first whole lines of the file: its header is taken off them; false when it is not a record's.
    bool TakeHeader(std::string_view& lines) {
        lines = WithoutByteOrderMark(lines);
        const std::size_t lineEnd = lines.find('\n');
        if (!Header(lines.substr(0, lineEnd)))
            return false;
        lines.remove_prefix(lineEnd + 1);
        return true;
    }

    // Whole lines after those before: the second part of a long stretch goes to the helper thread at once.
    void Start(std::string_view lines) {
        const char* p = lines.data();
        const char* end = p + lines.size();
        const char* middle = end;
        if (end - p >= kHalvedBytes) {
            // This thread also appends the helper's rows: the helper takes the larger share.
            const char* split = p + (end - p) * 2 / 5;
            const char* lineEnd =
                static_cast<const char*>(std::memchr(split, '\n', std::size_t(end - split)));
            if (lineEnd + 1 < end && helper_.Post(lineEnd + 1, end, values_.present))
                middle = lineEnd + 1;
        }
        parts_.push_back({p, middle, end});
    }

    // Parses the first part of the oldest lines started; false once the record can be read no further.
    bool FirstPart() {
        const Part& part = parts_.front();
        return Account(ParseRows(part.begin, part.middle, values_.present,
                                 values_.present ? &values_ : nullptr,
                                 [this](const Row& row, const Values&) { return Take(row); }));
    }

    // Takes the helper's rows of the oldest lines started; false once the record can be read no further.
    bool SecondPart() {
        const Part part = parts_.front();
        parts_.pop_front();
        if (part.middle == part.end)
            return true;
        Piece piece = helper_.Next();
        if (values_.present)
            CheckPiece(piece, values_);
        for (std::size_t i = 0; i < piece.rows.size() && Take(piece.rows[i]); ++i) {
        }
        return Account(piece);
    }

    // The end of the file; `rest` is what follows its last line end. A record still being written
    // (`growing` set, its offset the file's size) is read on from its last line end later.
    RecordRead End(std::string_view rest, bool emptyFile, std::optional<Growing> growing = std::nullopt) {
        if (growing && trace_) {
            growing->offset -= rest.size();
            growing->line = line_;
            growing->gapNext = gapNext_;
            growing->bad = bad_;
            growing->values = values_;
            read_.growing = growing;
            return Finish();
        }
        if (emptyFile) {
            read_.problem =
                QCoreApplication::translate("trend", "%1: 空のファイルです。記録ファイルではありません")
                    .arg(name_);
        } else if (!trace_) {
            Header(WithoutByteOrderMark(rest)); // not one line end: the whole file is its header
        } else if (!rest.empty()) {
            read_.problem = TornLastRow(name_, line_ + 1, trace_->Size());
            read_.onlyTorn = true;
        }
        return Finish();
    }

    // The line begun at `start` runs on past kLongestLine.
    RecordRead LineTooLong(std::string_view start) {
        if (!trace_) {
            Header(WithoutByteOrderMark(start));
            return Finish();
        }
        return Stop(LineProblem(name_, line_ + 1, TooLong()));
    }

    // Reading ends early for `problem`; the rows read so far are kept.
    RecordRead Stop(const QString& problem) {
        read_.problem = problem;
        return Finish();
    }

    // The rows read whole so far.
    std::size_t Count() const { return trace_ ? trace_->Size() : 0; }

    RecordRead Finish() {
        if (read_.growing)
            return FinishGrowing();
        SayBadLines();
        if (!trace_ || trace_->Empty()) {
            if (read_.problem.isEmpty())
                read_.problem =
                    QCoreApplication::translate("trend", "%1: サンプルの行がありません").arg(name_);
            read_.onlyTorn = false;
            return std::move(read_);
        }
        SetUnits();
        read_.trace = std::move(trace_);
        return std::move(read_);
    }

    // A record being written may have no rows yet.
    RecordRead FinishGrowing() {
        SayBadLines();
        SetUnits();
        read_.trace = std::move(trace_);
        return std::move(read_);
    }

private:
    static std::string_view WithoutLineEnd(std::string_view header) {
        return header.substr(0, header.size() - 2);
    }
    static std::string_view WithoutByteOrderMark(std::string_view bytes) {
        return bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes;
    }

    bool Header(std::string_view header) {
        if (!header.empty() && header.back() == '\r')
            header.remove_suffix(1);
        if (auto problem = HeaderProblem(header)) {
            read_.problem = *problem;
            return false;
        }
        values_.present = header == WithoutLineEnd(record::kHeaderRow);
        trace_ = std::make_unique<Trace>(name_);
        return true;
    }

    // The channels' units and scaling, as the value columns read say.
    void SetUnits() {
        if (!trace_)
            return;
        for (const Channel c : {Channel::Ad0, Channel::Ad1})
            trace_->SetUnits(c, UnitsOf(values_, c));
    }

    bool Take(const Row& row) {
        if (trace_->Size() == kMostTraceRows)
            return !(full_ = true);
        if (gapNext_) {
            // The bad line ended the part before.
            Row after = row;
            after.gapBefore = true;
            gapNext_ = false;
            trace_->Append(after);
            return true;
        }
        trace_->Append(row);
        return true;
    }

    // Counts the rows of a piece; false, with the problem, when reading ends after it.
    bool Account(const Piece& piece) {
        if (full_) {
            read_.problem = TooManyRows(name_, trace_->Size());
            return false;
        }
        if (piece.bad > 0) {
            if (bad_ == 0) {
                firstBadLine_ = line_ + piece.firstBad + 1;
                firstProblem_ = *piece.badProblem;
            }
            bad_ += piece.bad;
        }
        if (piece.stop) {
            read_.problem = LineProblem(name_, line_ + std::max(piece.lines, 1LL), *piece.problem);
            return false;
        }
        if (piece.lines > 0)
            gapNext_ = piece.endsBad;
        line_ += piece.lines;
        return true;
    }

    // What the bad lines come to: the first named, and how many.
    void SayBadLines() {
        if (bad_ == 0)
            return;
        const QString said = BadLines(name_, firstBadLine_, firstProblem_, bad_);
        read_.problem = read_.problem.isEmpty() ? said : said + QLatin1Char('\n') + read_.problem;
        read_.onlyTorn = false;
    }

    std::optional<QString> HeaderProblem(std::string_view header) const {
        if (header == WithoutLineEnd(record::kHeaderRow) ||
            header == WithoutLineEnd(record::kVoltsOnlyHeaderRow))
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

    // Lines started: [begin, middle) for this thread, [middle, end) with the helper.
    struct Part {
        const char* begin;
        const char* middle;
        const char* end;
    };

    QString name_;
    RecordRead read_;
    std::unique_ptr<Trace> trace_;
    long long line_ = 1; // the last line read whole
    bool full_ = false;
    long long bad_ = 0;          // lines left out
    long long firstBadLine_ = 0; // the first of them, counted from 1
    QString firstProblem_;
    bool gapNext_ = false;       // the row taken next follows a bad line
    ValueColumns values_;        // what the value columns have said so far, if the record has them
    std::deque<Part> parts_;
    Helper helper_;
};

// Up to `most` bytes from `offset` on, going on after a short read: how many in `got` (fewer only at
// the end of the file), or the errno of the read that failed.
int ReadAt(int fd, char* into, std::size_t most, std::uint64_t offset, std::size_t& got) {
    got = 0;
    while (got < most) {
        const ssize_t n = ::pread(fd, into + got, most - got, off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return 0;
}

// Where a record's bytes come from.
class Source {
public:
    virtual ~Source() = default;
    // Up to `most` bytes from `offset` on into `into`: how many in `got` (0 past the end), or why not.
    virtual std::optional<QString> Read(char* into, std::size_t most, std::uint64_t offset,
                                        std::size_t& got) = 0;
};

class BytesSource final : public Source {
public:
    explicit BytesSource(std::string_view bytes) : bytes_(bytes) {}
    std::optional<QString> Read(char* into, std::size_t most, std::uint64_t offset,
                                std::size_t& got) override {
        got = offset < bytes_.size() ? std::min<std::size_t>(most, bytes_.size() - std::size_t(offset)) : 0;
        if (got)
            std::memcpy(into, bytes_.data() + offset, got);
        return std::nullopt;
    }

private:
    std::string_view bytes_;
};

class FileSource final : public Source {
public:
    ~FileSource() override {
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
        size_ = std::uint64_t(st.st_size);
        device_ = std::uint64_t(st.st_dev);
        inode_ = std::uint64_t(st.st_ino);
        // A run writing the record holds its lock (exclusive) until the run ends.
        if (::flock(fd_, LOCK_SH | LOCK_NB) != 0)
            writing_ = errno == EWOULDBLOCK;
        else
            ::flock(fd_, LOCK_UN);
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        return std::nullopt;
    }
    // Where reading on would start, if the record is still being written.
    std::optional<Growing> GrowingAtEnd() const {
        if (!writing_)
            return std::nullopt;
        Growing growing;
        growing.device = device_;
        growing.inode = inode_;
        growing.offset = size_;
        return growing;
    }
    // The size when opened: a record still being written is read as far as it was then.
    std::uint64_t Size() const { return size_; }

    std::optional<QString> Read(char* into, std::size_t most, std::uint64_t offset,
                                std::size_t& got) override {
        if (const int error = ReadAt(fd_, into, most, offset, got); error != 0)
            return report::SystemErrorText(error);
        return std::nullopt;
    }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    bool writing_ = false;
};

// What the next read found: whole lines, or how reading ends.
struct Got {
    enum class Ending { None, EndOfFile, Cancelled, Shorter, Failed, LineTooLong };
    std::string_view lines; // the last ending with a line end; empty at an ending
    Ending ending = Ending::None;
    std::string_view rest; // EndOfFile: the bytes after the last line end; LineTooLong: the line so far
    QString error;         // Failed: why
};

// A source's bytes a chunk at a time, into two buffers in turn: the lines handed on from one are still
// being parsed while the next chunk is read into the other. The start of a line at a chunk's end is
// carried over to the next.
class Chunks {
public:
    Chunks(Source& source, std::uint64_t size, const ReadControl& control)
        : source_(source), size_(size), control_(control),
          chunk_(std::max<std::size_t>(control.chunkBytes, 1)),
          room_(std::size_t(std::min<std::uint64_t>(chunk_, size) +
                            std::min<std::uint64_t>(kLongestLine, size))) {}

    std::uint64_t Done() const { return done_; }

    Got Next() {
        Got got;
        if (held_ > kLongestLine) {
            got.ending = Got::Ending::LineTooLong;
            got.rest = std::string_view(carried_, held_);
            return got;
        }
        for (;;) {
            if (done_ == size_) {
                got.ending = Got::Ending::EndOfFile;
                got.rest = std::string_view(carried_, held_);
                return got;
            }
            if (control_.cancel && control_.cancel->load(std::memory_order_relaxed)) {
                got.ending = Got::Ending::Cancelled;
                return got;
            }
            if (!buffers_[which_])
                buffers_[which_].reset(new char[std::max<std::size_t>(room_, 1)]);
            char* const buffer = buffers_[which_].get();
            if (held_ > 0 && carried_ != buffer)
                std::memcpy(buffer, carried_, held_);
            const std::size_t want = std::size_t(std::min<std::uint64_t>(chunk_, size_ - done_));
            std::size_t read = 0;
            if (auto error = source_.Read(buffer + held_, want, done_, read)) {
                got.ending = Got::Ending::Failed;
                got.error = *error;
                return got;
            }
            if (read == 0) {
                got.ending = Got::Ending::Shorter;
                return got;
            }
            done_ += read;
            if (control_.progress)
                control_.progress(done_, size_);
            const std::string_view filled(buffer, held_ + read);
            // The bytes carried over hold no line end: only the new ones are looked through.
            const std::size_t lastLineEnd = filled.substr(held_).rfind('\n');
            carried_ = buffer;
            if (lastLineEnd == std::string_view::npos) {
                held_ = filled.size();
                if (held_ > kLongestLine)
                    return Next();
                continue;
            }
            const std::size_t whole = held_ + lastLineEnd + 1;
            carried_ = buffer + whole;
            held_ = filled.size() - whole;
            which_ ^= 1;
            got.lines = filled.substr(0, whole);
            return got;
        }
    }

private:
    Source& source_;
    const std::uint64_t size_;
    const ReadControl& control_;
    const std::size_t chunk_;
    const std::size_t room_; // a chunk and a line carried over
    std::unique_ptr<char[]> buffers_[2];
    int which_ = 0;
    const char* carried_ = nullptr;
    std::size_t held_ = 0;
    std::uint64_t done_ = 0;
};

RecordRead ReadChunks(Source& source, std::uint64_t size, const QString& name, const ReadControl& control,
                      std::optional<Growing> growing = std::nullopt) {
    Chunks chunks(source, size, control);
    Rows rows(name); // after the chunks: its helper thread is done with their buffers before they go
    Got got = chunks.Next();
    if (!got.lines.empty()) {
        if (!rows.TakeHeader(got.lines))
            return rows.Finish();
        rows.Start(got.lines);
    }
    while (got.ending == Got::Ending::None) {
        if (!rows.FirstPart())
            return rows.Finish();
        Got next = chunks.Next(); // read while the helper parses the second part
        if (next.ending == Got::Ending::None)
            rows.Start(next.lines);
        if (!rows.SecondPart())
            return rows.Finish();
        got = std::move(next);
    }
    switch (got.ending) {
    case Got::Ending::None:
    case Got::Ending::EndOfFile:
        break;
    case Got::Ending::Cancelled: {
        RecordRead read;
        read.cancelled = true;
        return read;
    }
    case Got::Ending::Shorter:
        return rows.Stop(QCoreApplication::translate(
                             "trend", "%1: 読んでいる間にファイルが短くなりました (開いたときは "
                                      "%2 バイト、読めたのは %3 バイト)。その前の %4 行を表示します")
                             .arg(name)
                             .arg(size)
                             .arg(chunks.Done())
                             .arg(rows.Count()));
    case Got::Ending::Failed:
        return rows.Stop(CannotRead(name, got.error));
    case Got::Ending::LineTooLong:
        return rows.LineTooLong(got.rest);
    }
    return rows.End(got.rest, size == 0, growing);
}

RecordRead OutOfMemory(const QString& name) {
    RecordRead read;
    read.problem = QCoreApplication::translate("trend", "%1: メモリが足りません").arg(name);
    return read;
}

// Most bytes one ReadOn takes: a second of any run is far less, and a backlog is taken a step at a time.
constexpr std::size_t kTailStepBytes = std::size_t(4) << 20;

} // namespace

Units UnitsOf(const ValueColumns& columns, Channel channel) {
    Units units = DefaultUnits(channel);
    const ValueColumns::Line& line = columns.lines[channel == Channel::Ad0 ? 0 : 1];
    if (!columns.present || line.decimals < 0)
        return units;
    units.channel.unit = record::UnitOfField(Unquoted(line.unit));
    units.decimals = line.decimals;
    const double v = line.low / 100.0;
    if (line.high != line.low) {
        units.channel.scale = {v, line.lowValue, line.high / 100.0, line.highValue};
    } else {
        // One reading in the whole record: every line through it shows each row's value; the one taken
        // makes a hundredth of a volt a unit of the last decimal.
        const double slope = 100 / kPowersOfTen[line.decimals];
        const double offset = line.lowValue - slope * v;
        units.channel.scale = {0, offset, 1, offset + slope};
    }
    return units;
}

RecordTail::RecordTail(const QString& path, const Growing& from, Trace& trace)
    : path_(path), name_(QFileInfo(path).fileName()), at_(from), trace_(trace) {
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

RecordTail::~RecordTail() {
    if (fd_ >= 0)
        ::close(fd_);
}

RecordTail::Step RecordTail::ReadOn() {
    Step step;
    if (ended_ != Ending::None) {
        step.ending = ended_;
        return step;
    }
    const auto end = [&](Ending ending, QString said) {
        ended_ = step.ending = ending;
        step.said = std::move(said);
        return step;
    };
    struct stat named {}, opened {};
    const bool same = ::stat(QFile::encodeName(path_).constData(), &named) == 0 && fd_ >= 0 &&
                      ::fstat(fd_, &opened) == 0 && std::uint64_t(opened.st_dev) == at_.device &&
                      std::uint64_t(opened.st_ino) == at_.inode && named.st_dev == opened.st_dev &&
                      named.st_ino == opened.st_ino;
    if (!same)
        return end(Ending::Replaced,
                   QCoreApplication::translate("trend", "%1: 記録ファイルが消されたか、別のファイルに置き換えられました。"
                                                        "追従をやめます (表示している行はそのままです)")
                       .arg(name_));
    // Whether the writer is done is asked before the last read: what it wrote before letting go is read.
    bool writerDone = false;
    if (::flock(fd_, LOCK_SH | LOCK_NB) == 0) {
        writerDone = true;
        ::flock(fd_, LOCK_UN);
    }
    if (::fstat(fd_, &opened) != 0)
        return end(Ending::Failed, CannotRead(name_, report::SystemErrorText(errno)));
    const std::uint64_t size = std::uint64_t(opened.st_size);
    if (size < at_.offset + torn_.size())
        return end(Ending::Truncated,
                   QCoreApplication::translate("trend", "%1: 記録ファイルが短くなりました (%2 バイトから %3 バイトへ)。"
                                                        "追従をやめます (表示している行はそのままです)")
                       .arg(name_)
                       .arg(at_.offset + torn_.size())
                       .arg(size));
    const std::uint64_t from = at_.offset + torn_.size();
    const std::size_t want = std::size_t(std::min<std::uint64_t>(size - from, kTailStepBytes));
    std::string bytes = std::move(torn_);
    torn_.clear();
    const std::size_t held = bytes.size();
    bytes.resize(held + want);
    std::size_t got = 0;
    if (const int error = ReadAt(fd_, bytes.data() + held, want, from, got); error != 0)
        return end(Ending::Failed, CannotRead(name_, report::SystemErrorText(error)));
    bytes.resize(held + got);
    const std::size_t lastLineEnd = bytes.rfind('\n');
    const std::size_t whole = lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1;
    if (bytes.size() - whole > kLongestLine)
        return end(Ending::Failed, LineProblem(name_, at_.line + 1, TooLong()));
    bool full = false;
    const Piece piece = ParseRows(bytes.data(), bytes.data() + whole, at_.values.present,
                                  at_.values.present ? &at_.values : nullptr, [&](Row row, const Values&) {
                                      if (trace_.Size() == kMostTraceRows)
                                          return !(full = true);
                                      row.gapBefore = row.gapBefore || std::exchange(at_.gapNext, false);
                                      trace_.Append(row);
                                      ++step.rows;
                                      return true;
                                  });
    if (at_.values.present)
        for (const Channel c : {Channel::Ad0, Channel::Ad1})
            trace_.SetUnits(c, UnitsOf(at_.values, c));
    if (piece.bad > 0) {
        at_.bad += piece.bad;
        step.said = BadLines(name_, at_.line + piece.firstBad + 1, *piece.badProblem, at_.bad);
    }
    if (piece.lines > 0)
        at_.gapNext = piece.endsBad;
    at_.line += piece.lines;
    at_.offset = from - held + whole;
    torn_ = bytes.substr(whole);
    if (full)
        return end(Ending::Full, TooManyRows(name_, trace_.Size()));
    if (piece.stop)
        return end(Ending::Failed, LineProblem(name_, at_.line, *piece.problem));
    if (writerDone && at_.offset + torn_.size() == size) {
        ended_ = step.ending = Ending::WriterDone;
        if (!torn_.empty())
            step.said = TornLastRow(name_, at_.line + 1, trace_.Size());
    }
    return step;
}

RecordRead ReadRecordBytes(std::string_view bytes, const QString& name) {
    try {
        BytesSource source(bytes);
        return ReadChunks(source, bytes.size(), name, {});
    } catch (const std::bad_alloc&) {
        return OutOfMemory(name);
    }
}

RecordRead ReadRecord(const QString& path, const ReadControl& control) {
    const QString name = QFileInfo(path).fileName();
    try {
        FileSource file;
        if (auto problem = file.Open(path)) {
            RecordRead read;
            read.problem = QCoreApplication::translate("trend", "%1 を開けません: %2").arg(name, *problem);
            return read;
        }
        RecordRead read = ReadChunks(file, file.Size(), name, control, file.GrowingAtEnd());
        read.path = path;
        return read;
    } catch (const std::bad_alloc&) {
        return OutOfMemory(name);
    }
}

} // namespace trend
