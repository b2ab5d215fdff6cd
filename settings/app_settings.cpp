#include "settings/app_settings.h"

#include "storage/file_kind.h"
#include "storage/replace_file.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {

namespace {

// The keys the program owns, in the order a file gets them: the window's three, then six a channel.
enum Key { kReconnect, kLanguage, kTrendSpan, kFirstChannelKey };
enum ChannelField { kName, kUnit, kScale, kLimits, kHold, kHysteresis, kChannelFieldCount };
constexpr int kKeyCount = kFirstChannelKey + channels::kChannelCount * kChannelFieldCount;

const std::array<QByteArray, kKeyCount>& KeyNames() {
    static const std::array<QByteArray, kKeyCount> names = [] {
        std::array<QByteArray, kKeyCount> n = {"reconnect", "language", "trend-span"};
        const char* const fields[kChannelFieldCount] = {"name",   "unit", "scale",
                                                        "limits", "hold", "hysteresis"};
        for (int key = kFirstChannelKey; key < kKeyCount; ++key)
            n[std::size_t(key)] = channels::Key((key - kFirstChannelKey) / kChannelFieldCount).toLatin1() +
                                  '.' + fields[(key - kFirstChannelKey) % kChannelFieldCount];
        return n;
    }();
    return names;
}

channels::Channel& ChannelOf(AppSettings& settings, int key) {
    return settings.channels[std::size_t((key - kFirstChannelKey) / kChannelFieldCount)];
}
const channels::Channel& ChannelOf(const AppSettings& settings, int key) {
    return settings.channels[std::size_t((key - kFirstChannelKey) / kChannelFieldCount)];
}

// The scale of the fewest decimals: what no scale takes, this one does not either.
const channels::Scale kWidestScale{0, 0, 1, 100};

std::optional<double> NumberOf(const QString& text, double least, double most) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < least || value > most)
        return std::nullopt;
    return value;
}

// `value` taken into `settings` as the value of `key`; false, `settings` as they were and what the key
// wants in `wanted`, when the program does not take it.
bool Take(AppSettings& settings, int key, const QByteArray& value, QString& wanted) {
    const auto refuse = [&wanted](QString why) {
        wanted = std::move(why);
        return false;
    };
    if (key == kReconnect) {
        if (value != "on" && value != "off")
            return refuse(QStringLiteral("on or off"));
        settings.reconnect = value == "on";
        return true;
    }
    if (key == kLanguage) {
        if (value != "ja" && value != "en" && !value.isEmpty())
            return refuse(QStringLiteral("ja, en or nothing"));
        settings.language = QString::fromLatin1(value);
        return true;
    }
    if (key == kTrendSpan) {
        settings.trendSpan = QString::fromUtf8(value);
        return true;
    }
    channels::Channel& channel = ChannelOf(settings, key);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(value);
    if (utf8.hasError())
        return refuse(QStringLiteral("UTF-8 text"));
    const int field = (key - kFirstChannelKey) % kChannelFieldCount;
    QString problem;
    switch (field) {
    case kName:
    case kUnit:
        if (!channels::LabelOk(text))
            return refuse(
                QStringLiteral("%1 that is not empty, has at most %2 characters and holds no comma, "
                               "quote or control character (tab, line end, NUL, U+0085, U+2028 and "
                               "the like)")
                    .arg(field == kName ? QStringLiteral("a name") : QStringLiteral("a unit"))
                    .arg(channels::kMostLabelCharacters));
        (field == kName ? channel.name : channel.unit) = text;
        return true;
    case kScale:
        if (const auto scale = channels::ParseScale(text, &problem)) {
            channel.scale = *scale;
            return true;
        }
        return refuse(problem);
    case kLimits:
        // Against the scale once the whole file is read (its line may come later): here only what no
        // scale takes.
        if (const auto limits = channels::ParseLimits(text, &problem, kWidestScale)) {
            channel.limits.low = limits->low;
            channel.limits.high = limits->high;
            return true;
        }
        return refuse(problem);
    case kHold:
        if (const auto seconds = NumberOf(text, 0, kMostHoldSeconds)) {
            channel.limits.holdS = *seconds;
            return true;
        }
        return refuse(QStringLiteral("a number of seconds from 0 to 86400"));
    default: // kHysteresis: empty for the default
        if (text.isEmpty()) {
            channel.limits.hysteresis.reset();
            return true;
        }
        if (const auto hysteresis = NumberOf(text, 0, std::numeric_limits<double>::max());
            hysteresis && channels::FitsDigits(kWidestScale, *hysteresis)) {
            channel.limits.hysteresis = *hysteresis;
            return true;
        }
        return refuse(
            QStringLiteral("a number from 0 that fits the channel's scale, or nothing for the default"));
    }
}

// A line taken into `settings`: the key it sets, or -1 (settings as they were) for every line
// that is not one of the program's with a value it takes; `refused` the key of a line of the program's
// whose value it does not take, and `wanted` what it wants.
int TakeLine(AppSettings& settings, QByteArrayView line, int& refused, QString& wanted) {
    refused = -1;
    const QByteArrayView text = line.trimmed();
    if (text.isEmpty() || text.startsWith('#') || text.startsWith(';'))
        return -1;
    const qsizetype eq = text.indexOf('=');
    if (eq <= 0)
        return -1;
    const QByteArrayView key = text.first(eq).trimmed();
    for (int k = 0; k < kKeyCount; ++k)
        if (key == KeyNames()[std::size_t(k)]) {
            if (Take(settings, k, text.sliced(eq + 1).trimmed().toByteArray(), wanted))
                return k;
            refused = k;
            return -1;
        }
    return -1;
}

QByteArray Value(const AppSettings& settings, int key) {
    if (key == kReconnect)
        return settings.reconnect ? "on" : "off";
    if (key == kLanguage)
        return settings.language.toUtf8();
    if (key == kTrendSpan)
        return settings.trendSpan.toUtf8();
    const channels::Channel& channel = ChannelOf(settings, key);
    switch ((key - kFirstChannelKey) % kChannelFieldCount) {
    case kName:
        return channel.name.toUtf8();
    case kUnit:
        return channel.unit.toUtf8();
    case kScale:
        return channels::ScaleText(channel.scale).toUtf8();
    case kLimits:
        return channels::LimitsText(channel.limits).toUtf8();
    case kHold:
        return channels::NumberText(channel.limits.holdS).toUtf8();
    default:
        return channel.limits.hysteresis ? channels::NumberText(*channel.limits.hysteresis).toUtf8()
                                         : QByteArray();
    }
}

bool SameValue(const AppSettings& a, const AppSettings& b, int key) {
    return Value(a, key) == Value(b, key);
}

QByteArray Line(const AppSettings& settings, int key) {
    return KeyNames()[std::size_t(key)] + '=' + Value(settings, key);
}

// One line of a file: where it starts and how long it is without its end ("\n" or "\r\n").
struct LineSpan {
    qsizetype begin;
    qsizetype size;
};

QList<LineSpan> Lines(const QByteArray& text) {
    QList<LineSpan> lines;
    qsizetype begin = 0;
    while (begin < text.size()) {
        qsizetype end = text.indexOf('\n', begin);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0)
            end = text.size();
        if (end > begin && text[end - 1] == '\r')
            --end;
        lines.append({begin, end - begin});
        begin = next;
    }
    return lines;
}

// What stands at the settings file's name, read whole, or why it cannot be.
struct FileRead {
    bool exists = false;
    QByteArray bytes;
    QString cause; // empty when read (or missing)
};

QString TooLarge(qint64 size) {
    return QStringLiteral("it is %1 bytes, more than the %2 bytes (1 MiB) a settings file may hold")
        .arg(size)
        .arg(kAppSettingsMaxBytes);
}

FileRead ReadSettingsFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    FileRead read;
    const auto refused = [&read](QString cause) {
        read.exists = true;
        read.cause = std::move(cause);
        return read;
    };
    // Look before opening: opening a FIFO for reading would wait for a writer.
    struct stat st = {};
    if (::lstat(name.constData(), &st) != 0) {
        const int error = errno;
        return error == ENOENT ? read : refused(report::SystemErrorText(error));
    }
    const bool link = S_ISLNK(st.st_mode);
    if (link && ::stat(name.constData(), &st) != 0) {
        const int error = errno;
        return refused(error == ENOENT ? QStringLiteral("it is a link to a file that does not exist")
                                       : report::SystemErrorText(error));
    }
    if (!S_ISREG(st.st_mode))
        return refused(storage::NotRegularFileReason(st.st_mode, link));
    if (st.st_size > kAppSettingsMaxBytes)
        return refused(TooLarge(st.st_size));

    // Non-blocking in case something else has taken the name since the look.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refused(report::SystemErrorText(errno));
    QString cause;
    if (::fstat(fd, &st) != 0)
        cause = report::SystemErrorText(errno);
    else if (!S_ISREG(st.st_mode))
        cause = storage::NotRegularFileReason(st.st_mode, link);
    // One byte past the limit tells a file that has grown since the look.
    QByteArray bytes(qMin<qint64>(st.st_size, kAppSettingsMaxBytes) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (cause.isEmpty() && got <= kAppSettingsMaxBytes) {
        if (got == bytes.size())
            bytes.resize(qMin<qint64>(2 * got, kAppSettingsMaxBytes + 1));
        const ssize_t count = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            cause = report::SystemErrorText(errno);
        if (count <= 0)
            break;
        got += count;
    }
    if (cause.isEmpty() && got > kAppSettingsMaxBytes)
        cause = TooLarge(::fstat(fd, &st) == 0 && st.st_size > got ? st.st_size : got);
    ::close(fd);
    if (!cause.isEmpty())
        return refused(cause);
    bytes.truncate(got);
    read.exists = true;
    read.bytes = bytes;
    return read;
}

QString FilePath(const QString& folder) {
    return QDir::toNativeSeparators(QDir(folder).filePath(kAppSettingsFileName));
}

} // namespace

namespace {

// What a file's lines give: the settings, for each key the last line whose value counts (or -1), and
// each line of the program's whose value is not taken, with what it wants.
struct FileLines {
    AppSettings settings;
    std::array<qsizetype, kKeyCount> last;
    struct Refused {
        qsizetype line; // from 0
        int key;
        QString wanted;
    };
    QList<Refused> refused;
};

FileLines ReadLines(const QByteArray& file) {
    FileLines read;
    read.last.fill(-1);
    const QList<LineSpan> lines = Lines(file);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        int refused = -1;
        QString wanted;
        if (const int key = TakeLine(
                read.settings, QByteArrayView(file).sliced(lines[i].begin, lines[i].size), refused, wanted);
            key >= 0)
            read.last[std::size_t(key)] = i;
        else if (refused >= 0)
            read.refused.append({i, refused, wanted});
    }
    // Limits and a hysteresis are written at the decimals of their channel's scale, wherever its line stands:
    // one that does not fit is not taken, the default kept.
    for (int c = 0; c < channels::kChannelCount; ++c) {
        channels::Channel& channel = read.settings.channels[std::size_t(c)];
        while (const auto problem = channels::LimitsDigitsProblem(channel)) {
            const bool hysteresis = problem->what == channels::DigitsProblem::What::Hysteresis;
            const int key = kFirstChannelKey + c * kChannelFieldCount + (hysteresis ? kHysteresis : kLimits);
            if (hysteresis) {
                channel.limits.hysteresis.reset();
            } else {
                channel.limits.low.reset();
                channel.limits.high.reset();
            }
            read.refused.append({read.last[std::size_t(key)], key, problem->wanted});
            read.last[std::size_t(key)] = -1;
        }
    }
    std::sort(read.refused.begin(), read.refused.end(),
              [](const FileLines::Refused& a, const FileLines::Refused& b) { return a.line < b.line; });
    return read;
}

} // namespace

AppSettings ParseAppSettings(const QByteArray& text) {
    return ReadLines(text).settings;
}

QByteArray AppSettingsText(const AppSettings& settings) {
    QByteArray text = "# Tavrin's settings beside the parameter file ombu01.par\n";
    const AppSettings defaults;
    for (int key = 0; key < kKeyCount; ++key)
        if (key < kTrendSpan || !SameValue(settings, defaults, key))
            text += Line(settings, key) + '\n';
    return text;
}

QByteArray AppSettingsText(const AppSettings& settings, const QByteArray& file) {
    // For each key the last line whose value counts, as ParseAppSettings reads them.
    const QList<LineSpan> lines = Lines(file);
    const FileLines read = ReadLines(file);
    const AppSettings& given = read.settings;
    const auto& last = read.last;
    QByteArray added;
    std::map<qsizetype, QByteArray> rewritten; // by line
    for (int key = 0; key < kKeyCount; ++key) {
        if (SameValue(settings, given, key))
            continue;
        if (last[std::size_t(key)] >= 0)
            rewritten[last[std::size_t(key)]] = Line(settings, key);
        else
            added += Line(settings, key) + '\n';
    }
    QByteArray text = file;
    // From the last line up, so that the places of the lines before stay as they were.
    for (auto line = rewritten.crbegin(); line != rewritten.crend(); ++line)
        text.replace(lines[line->first].begin, lines[line->first].size, line->second);
    if (added.isEmpty())
        return text;
    // The added lines end as the file's first line ends.
    const qsizetype firstEnd = file.indexOf('\n');
    const QByteArray lineEnd = firstEnd > 0 && file[firstEnd - 1] == '\r' ? "\r\n" : "\n";
    added.replace("\n", lineEnd);
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += lineEnd;
    return text + added;
}

AppSettingsLoad LoadAppSettings(const QString& folder) {
    AppSettingsLoad load;
    const FileRead read = ReadSettingsFile(QDir(folder).filePath(kAppSettingsFileName));
    if (!read.cause.isEmpty()) {
        load.settings.leaveFile = true;
        load.problem =
            QStringLiteral("The settings file %1 cannot be read (%2); the defaults are used. It is "
                           "left as it is: changes to these settings are kept until Tavrin ends, "
                           "and not written to it.")
                .arg(FilePath(folder), read.cause);
        return load;
    }
    const FileLines lines = ReadLines(read.bytes);
    load.settings = lines.settings;
    for (const FileLines::Refused& refused : lines.refused)
        load.notices.append(
            QStringLiteral("The settings file %1, line %2: the value of %3 is not taken (it wants "
                           "%4); the line is left as it is.")
                .arg(FilePath(folder))
                .arg(refused.line + 1)
                .arg(QString::fromLatin1(KeyNames()[std::size_t(refused.key)]), refused.wanted));
    return load;
}

report::Done SaveAppSettings(const QString& folder, const AppSettings& settings) {
    const auto notSaved = [&folder](const QString& cause) {
        return report::Fail(QStringLiteral("The settings file %1 cannot be saved (%2); it is left as it was.")
                                .arg(FilePath(folder), cause));
    };
    if (settings.leaveFile)
        return notSaved(QStringLiteral("it could not be read whole at start"));
    if (!QDir().mkpath(folder))
        return report::Fail(QStringLiteral("The settings folder %1 cannot be made.").arg(folder));
    const QString path = QDir(folder).filePath(kAppSettingsFileName);
    const FileRead read = ReadSettingsFile(path);
    if (!read.cause.isEmpty())
        return notSaved(read.cause);
    const QByteArray text = read.exists ? AppSettingsText(settings, read.bytes) : AppSettingsText(settings);
    if (read.exists && text == read.bytes)
        return {};
    if (auto saved = storage::ReplaceFile(path, text, storage::LinkHandling::ReplaceTarget); !saved)
        return notSaved(saved.Reason());
    return {};
}

} // namespace settings
