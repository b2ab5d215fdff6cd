#include "output/log/shift_jis.h"

#include <QtGlobal>

#include <array>
#include <cerrno>
#include <iconv.h>
#include <optional>
#include <vector>

namespace output {
namespace {

constexpr quint16 kNoCode = 0xFFFF; // encode table: the character has no CP932 bytes
constexpr char16_t kNoChar = 0;     // pair table: the pair is carried raw
constexpr char16_t kRawByteLast = kRawByteBase + 0xFF;
constexpr char16_t kHalfwidthKatakanaFirst = 0xFF61; // what byte 0xA1 decodes to

bool IsLeadByte(quint8 b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrailByte(quint8 b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}
char16_t RawChar(quint8 b) {
    return char16_t(kRawByteBase + b);
}

struct Tables {
    std::array<char16_t, 256> single{}; // every byte alone; a lead byte alone is raw
    std::vector<char16_t> pair;         // index lead << 8 | trail
    std::vector<quint16> encode;        // index UTF-16 code unit; <= 0xFF one byte, else a pair
    bool complete = false;
};

// One iconv conversion of a whole input into exactly one output unit of the target.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The output bytes, or nothing when the converter rejects or only partly takes the input.
    std::optional<QByteArray> Convert(QByteArrayView input) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        QByteArray in = input.toByteArray();
        char* inPtr = in.data();
        size_t inLeft = size_t(in.size());
        std::array<char, 32> out{};
        char* outPtr = out.data();
        size_t outLeft = out.size();
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
            return std::nullopt;
        if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1))
            return std::nullopt;
        return QByteArray(out.data(), qsizetype(out.size() - outLeft));
    }

private:
    iconv_t cd_;
};

QByteArray Utf32Le(char32_t c) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((c >> (8 * i)) & 0xFF);
    return bytes;
}

// The one BMP character these bytes decode to, if the converter gives exactly one.
std::optional<char16_t> DecodeUnit(Converter& toUtf32, QByteArrayView unit) {
    const std::optional<QByteArray> out = toUtf32.Convert(unit);
    if (!out || out->size() != 4)
        return std::nullopt;
    const auto* p = reinterpret_cast<const quint8*>(out->constData());
    const char32_t c = char32_t(p[0]) | char32_t(p[1]) << 8 | char32_t(p[2]) << 16 | char32_t(p[3]) << 24;
    if (c > 0xFFFF || (c >= kRawByteBase && c <= kRawByteLast) || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    return char16_t(c);
}

// A decoded character counts only if CP932 writes it back with the same bytes; a duplicate
// spelling (the NEC and IBM extension rows hold some characters twice) is carried raw instead,
// so that what was received is what gets saved.
bool WritesBackAs(Converter& fromUtf32, char16_t c, QByteArrayView unit) {
    const std::optional<QByteArray> out = fromUtf32.Convert(Utf32Le(c));
    return out && QByteArrayView(*out) == unit;
}

void BuildFallback(Tables& t) {
    for (int b = 0; b < 0x80; ++b) {
        t.single[b] = char16_t(b);
        t.encode[b] = quint16(b);
    }
    for (int b = 0xA1; b <= 0xDF; ++b) {
        t.single[b] = char16_t(kHalfwidthKatakanaFirst + (b - 0xA1));
        t.encode[t.single[b]] = quint16(b);
    }
}

Tables BuildTables() {
    Tables t;
    t.pair.assign(0x10000, kNoChar);
    t.encode.assign(0x10000, kNoCode);
    for (int b = 0; b < 256; ++b)
        t.single[b] = RawChar(quint8(b));

    Converter toUtf32("UTF-32LE", "CP932");
    Converter fromUtf32("CP932", "UTF-32LE");
    if (!toUtf32.Valid() || !fromUtf32.Valid()) {
        qWarning("Shift-JIS: the system has no CP932 converter; only ASCII and halfwidth katakana "
                 "will be shown as text, other bytes are kept raw");
        BuildFallback(t);
        return t;
    }
    t.complete = true;

    for (int b = 0; b < 256; ++b) {
        if (IsLeadByte(quint8(b)))
            continue;
        const char byte = char(b);
        const QByteArrayView unit(&byte, 1);
        const std::optional<char16_t> c = DecodeUnit(toUtf32, unit);
        if (c && WritesBackAs(fromUtf32, *c, unit)) {
            t.single[b] = *c;
            t.encode[*c] = quint16(b);
        }
    }
    for (int lead = 0; lead < 256; ++lead) {
        if (!IsLeadByte(quint8(lead)))
            continue;
        for (int trail = 0; trail < 256; ++trail) {
            if (!IsTrailByte(quint8(trail)))
                continue;
            const char bytes[2] = {char(lead), char(trail)};
            const QByteArrayView unit(bytes, 2);
            const std::optional<char16_t> c = DecodeUnit(toUtf32, unit);
            if (c && t.encode[*c] == kNoCode && WritesBackAs(fromUtf32, *c, unit)) {
                const quint16 code = quint16(lead << 8 | trail);
                t.pair[code] = *c;
                t.encode[*c] = code;
            }
        }
    }
    return t;
}

const Tables& TheTables() {
    static const Tables tables = BuildTables();
    return tables;
}

void AppendCharacterReference(char32_t codePoint, QByteArray& out) {
    out.append("&#x");
    out.append(QByteArray::number(quint32(codePoint), 16).toUpper());
    out.append(';');
}

} // namespace

QString DecodeShiftJis(QByteArrayView bytes) {
    const Tables& t = TheTables();
    const auto* in = reinterpret_cast<const quint8*>(bytes.data());
    const qsizetype n = bytes.size();
    QString text(n, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype w = 0;
    for (qsizetype i = 0; i < n;) {
        const quint8 b = in[i];
        if (IsLeadByte(b) && i + 1 < n && IsTrailByte(in[i + 1])) {
            const quint8 trail = in[i + 1];
            const char16_t c = t.pair[b << 8 | trail];
            if (c != kNoChar) {
                out[w++] = c;
            } else {
                out[w++] = RawChar(b);
                out[w++] = RawChar(trail);
            }
            i += 2;
        } else {
            out[w++] = t.single[b];
            ++i;
        }
    }
    text.truncate(w);
    return text;
}

void AppendShiftJis(QStringView text, QByteArray& out) {
    const Tables& t = TheTables();
    out.reserve(out.size() + text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u >= kRawByteBase && u <= kRawByteLast) {
            out.append(char(u - kRawByteBase));
            continue;
        }
        if (QChar::isHighSurrogate(u) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            AppendCharacterReference(QChar::surrogateToUcs4(u, text[i + 1].unicode()), out);
            ++i;
            continue;
        }
        const quint16 code = t.encode[u];
        if (code == kNoCode) {
            AppendCharacterReference(u, out);
        } else if (code <= 0xFF) {
            out.append(char(code));
        } else {
            out.append(char(code >> 8));
            out.append(char(code & 0xFF));
        }
    }
}

QByteArray EncodeShiftJis(QStringView text) {
    QByteArray out;
    AppendShiftJis(text, out);
    return out;
}

bool ShiftJisTablesComplete() {
    return TheTables().complete;
}

} // namespace output
