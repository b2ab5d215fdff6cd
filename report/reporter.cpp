#include "report/reporter.h"

#include "report/failure.h"
#include "report/standing_line.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>

namespace report {

namespace {

// Guards standard error's lines: a report and the standing line are each written whole.
std::mutex& StandardErrorMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& StandingLine() {
    static std::string line; // empty: none stands
    return line;
}

// All of `bytes`, in as few writes as the kernel allows; a closed or full standard error loses
// them, which nothing can do better.
void WriteAll(const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
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

std::recursive_mutex& ReportMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

Output& CurrentOutput() {
    static Output output;
    return output;
}

} // namespace

QString SystemErrorText(int error) {
    // strerrordesc_np gives the English text without consulting the locale.
    if (const char* text = ::strerrordesc_np(error))
        return QString::fromUtf8(text);
    return QStringLiteral("error %1").arg(error);
}

void WriteStandardError(const char* module, const QString& text) {
    QByteArray line = "tavrin: ";
    if (module && *module) {
        line += module;
        line += ": ";
    }
    line += text.toUtf8();
    line += '\n';
    const std::lock_guard lock(StandardErrorMutex());
    // One write, so that reports from two threads never interleave within a line; a standing
    // progress line is cleared first and drawn again below.
    const std::string& standing = StandingLine();
    std::string bytes = standing.empty() ? std::string() : std::string("\r\033[K");
    bytes.append(line.constData(), std::size_t(line.size()));
    if (!standing.empty())
        bytes += Drawn(standing);
    WriteAll(bytes);
}

void ShowStandingLine(std::string_view text) {
    const std::lock_guard lock(StandardErrorMutex());
    StandingLine().assign(text);
    WriteAll(Drawn(text));
}

void EndStandingLine() {
    const std::lock_guard lock(StandardErrorMutex());
    if (StandingLine().empty())
        return;
    StandingLine().clear();
    WriteAll("\n");
}

void Report(const char* module, const QString& text) {
    const std::lock_guard lock(ReportMutex());
    if (CurrentOutput())
        CurrentOutput()(module, text);
    else
        WriteStandardError(module, text);
}

Output SetReportOutput(Output output) {
    const std::lock_guard lock(ReportMutex());
    return std::exchange(CurrentOutput(), std::move(output));
}

} // namespace report
