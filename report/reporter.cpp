#include "report/reporter.h"

#include "report/failure.h"

#include <cstring>
#include <mutex>
#include <utility>
#include <unistd.h>

namespace report {

namespace {

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
    // One write, so that reports from two threads never interleave within a line; a closed or
    // full standard error loses the report, which nothing can do better.
    const char* p = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, std::size_t(left));
        if (n <= 0)
            break;
        p += n;
        left -= n;
    }
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
