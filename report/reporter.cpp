#include "report/reporter.h"

#include "report/failure.h"
#include "report/standing_line.h"

#include <QCoreApplication>
#include <QHash>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace report {

namespace {

constexpr std::size_t kDefaultCapacity = 64 * 1024;
// A second of repeats of one message is said as one line.
constexpr qint64 kRepeatWindowMs = 1000;
// Messages told apart for counting at once; beyond this, a new message is said without counting.
constexpr qsizetype kMostCounted = 1024;

// What waits for standard error, and the one thread that writes it. Never destroyed: the writer may
// still be blocked in a write when the program ends.
struct ErrorStream {
    std::mutex mutex;
    std::condition_variable bytesWait; // for the writer
    std::condition_variable drained;   // for FlushStandardError
    std::string pending;               // not yet taken by the writer
    std::size_t capacity = kDefaultCapacity;
    std::string standing; // the standing line's text; empty: none stands
    bool writing = false; // the writer holds bytes taken from pending
    bool started = false;
    long long lost = 0; // lines that did not fit, not yet said
};

ErrorStream& Stream() {
    static ErrorStream* stream = new ErrorStream;
    return *stream;
}

// All of `bytes`, blocking as long as standard error makes it; a closed standard error loses them,
// which nothing can do better.
void WriteAll(const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= std::size_t(n);
    }
}

// Back to the line's start, the text, the rest of the old line erased.
std::string Drawn(std::string_view text) {
    std::string line = "\r";
    line += text;
    line += "\033[K";
    return line;
}

// `line` (with its line end) as it goes onto standard error: a standing line is cleared first and
// drawn again below it. Appended to pending; the stream's mutex held.
void AppendLine(ErrorStream& s, std::string_view line) {
    if (!s.standing.empty())
        s.pending += "\r\033[K";
    s.pending += line;
    if (!s.standing.empty())
        s.pending += Drawn(s.standing);
}

std::string LostLine(long long lost) {
    return "tavrin: " + std::to_string(lost) + (lost == 1 ? " message" : " messages") +
           " to standard error " + (lost == 1 ? "was" : "were") + " lost while it was not being read\n";
}

void WriterLoop() {
    ErrorStream& s = Stream();
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.bytesWait.wait(lock, [&s] { return !s.pending.empty(); });
        std::string bytes;
        bytes.swap(s.pending);
        s.writing = true;
        lock.unlock();
        WriteAll(bytes);
        lock.lock();
        s.writing = false;
        // Everything before has gone: what did not fit is said now.
        if (s.pending.empty() && s.lost > 0) {
            AppendLine(s, LostLine(s.lost));
            s.lost = 0;
        }
        if (s.pending.empty())
            s.drained.notify_all();
    }
}

// Hands what pending holds to the writer, started the first time.
void WakeWriter(ErrorStream& s) {
    if (!s.started) {
        s.started = true;
        std::thread(WriterLoop).detach();
    }
    s.bytesWait.notify_one();
}

// Queues a line, or counts it when it does not fit; the stream's mutex held.
void QueueLine(ErrorStream& s, std::string_view line) {
    const std::size_t redraw = s.standing.empty() ? 0 : s.standing.size() + 8;
    if (s.pending.size() + line.size() + redraw > s.capacity) {
        ++s.lost;
        return;
    }
    AppendLine(s, line);
    WakeWriter(s);
}

std::recursive_mutex& ReportMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

Output& CurrentOutput() {
    static Output output;
    return output;
}

Clock& CurrentClock() {
    static Clock clock;
    return clock;
}

qint64 Now() {
    if (CurrentClock())
        return CurrentClock()();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A message said, and the repeats of it counted since.
struct Said {
    QByteArray module;
    QString text;
    qint64 atMs = 0;
    long long repeats = 0;
};

QHash<QString, Said>& Counted() {
    static QHash<QString, Said> counted;
    return counted;
}

bool& RepeatsTimerSet() {
    static bool set = false;
    return set;
}

// Where the report goes; ReportMutex held.
void Send(const char* module, const QString& text) {
    if (CurrentOutput())
        CurrentOutput()(module, text);
    else
        WriteStandardError(module, text);
}

QString WithRepeats(const QString& text, long long repeats) {
    return text + QStringLiteral(" (repeated %1 %2)").arg(repeats).arg(repeats == 1 ? "time" : "times");
}

// While repeats are counted, a timer on the application's thread says them when their second is over.
void SetRepeatsTimer() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || RepeatsTimerSet())
        return;
    RepeatsTimerSet() = true;
    QMetaObject::invokeMethod(
        app,
        [app] {
            QTimer::singleShot(kRepeatWindowMs + 50, Qt::PreciseTimer, app, [] {
                const std::lock_guard lock(ReportMutex());
                RepeatsTimerSet() = false;
                SayRepeats();
                for (const Said& said : std::as_const(Counted()))
                    if (said.repeats > 0) {
                        SetRepeatsTimer();
                        break;
                    }
            });
        },
        Qt::QueuedConnection);
}

} // namespace

QString SystemErrorText(int error) {
    // strerrordesc_np gives the English text without consulting the locale.
    if (const char* text = ::strerrordesc_np(error))
        return QString::fromUtf8(text);
    return QStringLiteral("error %1").arg(error);
}

void WriteStandardError(const char* module, const QString& text) {
    std::string line = "tavrin: ";
    if (module && *module) {
        line += module;
        line += ": ";
    }
    const QByteArray utf8 = text.toUtf8();
    line.append(utf8.constData(), std::size_t(utf8.size()));
    line += '\n';
    ErrorStream& s = Stream();
    const std::lock_guard lock(s.mutex);
    QueueLine(s, line);
}

void WriteStandardErrorLine(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::string line(utf8.constData(), std::size_t(utf8.size()));
    line += '\n';
    ErrorStream& s = Stream();
    const std::lock_guard lock(s.mutex);
    QueueLine(s, line);
}

void ShowStandingLine(std::string_view text) {
    ErrorStream& s = Stream();
    const std::lock_guard lock(s.mutex);
    s.standing.assign(text);
    // A drawing that does not fit is no message lost: the next one shows the same line, newer.
    const std::string drawn = Drawn(text);
    if (s.pending.size() + drawn.size() > s.capacity)
        return;
    s.pending += drawn;
    WakeWriter(s);
}

void EndStandingLine() {
    ErrorStream& s = Stream();
    const std::lock_guard lock(s.mutex);
    if (s.standing.empty())
        return;
    s.standing.clear();
    if (s.pending.size() < s.capacity) {
        s.pending += '\n';
        WakeWriter(s);
    }
}

void Report(const char* module, const QString& text) {
    const std::lock_guard lock(ReportMutex());
    const qint64 now = Now();
    const QString key = QLatin1String(module ? module : "") + QChar(0) + text;
    QHash<QString, Said>& counted = Counted();
    auto it = counted.find(key);
    if (it != counted.end()) {
        if (now - it->atMs < kRepeatWindowMs) {
            ++it->repeats;
            SetRepeatsTimer();
            return;
        }
        if (it->repeats > 0) {
            // The second is over: this one is said with those counted in it.
            const long long repeats = it->repeats + 1;
            it->atMs = now;
            it->repeats = 0;
            SayRepeats();
            Send(module, WithRepeats(text, repeats));
            return;
        }
    }
    SayRepeats();
    if (counted.size() < kMostCounted)
        counted.insert(key, Said{QByteArray(module ? module : ""), text, now, 0});
    Send(module, text);
}

void SayRepeats(bool all) {
    const std::lock_guard lock(ReportMutex());
    const qint64 now = Now();
    QHash<QString, Said>& counted = Counted();
    std::vector<Said> due;
    for (auto it = counted.begin(); it != counted.end();) {
        if (!all && now - it->atMs < kRepeatWindowMs) {
            ++it;
            continue;
        }
        if (it->repeats > 0)
            due.push_back(*it);
        it = counted.erase(it);
    }
    for (const Said& said : due)
        Send(said.module.constData(), WithRepeats(said.text, said.repeats));
}

Output SetReportOutput(Output output) {
    const std::lock_guard lock(ReportMutex());
    // The repeats counted so far are said where their message went; the new output starts afresh.
    SayRepeats(true);
    return std::exchange(CurrentOutput(), std::move(output));
}

Clock SetReportClock(Clock clock) {
    const std::lock_guard lock(ReportMutex());
    Counted().clear();
    return std::exchange(CurrentClock(), std::move(clock));
}

bool FlushStandardError(int timeoutMs) {
    ErrorStream& s = Stream();
    std::unique_lock lock(s.mutex);
    return s.drained.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&s] { return s.pending.empty() && !s.writing && s.lost == 0; });
}

void FinishStandardError(int timeoutMs) {
    SayRepeats(true);
    FlushStandardError(timeoutMs);
}

std::size_t SetStandardErrorCapacity(std::size_t bytes) {
    ErrorStream& s = Stream();
    const std::lock_guard lock(s.mutex);
    return std::exchange(s.capacity, bytes);
}

} // namespace report
