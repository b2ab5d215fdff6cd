#include "bench/target_report.h"

#include <cstdarg>
#include <cstdio>

namespace bench {

void TargetReport::Add(std::string figure, std::string target, std::string measured, bool met) {
    lines_.push_back({std::move(figure), std::move(target), std::move(measured), met});
}

void TargetReport::AddUntargeted(std::string figure, std::string measured) {
    lines_.push_back({std::move(figure), {}, std::move(measured), true});
}

void TargetReport::Note(std::string text) {
    notes_.push_back(std::move(text));
}

bool TargetReport::Print() const {
    bool allMet = true;
    std::printf("\n");
    for (const std::string& note : notes_)
        std::printf("note: %s\n", note.c_str());
    for (const Line& line : lines_) {
        if (line.target.empty()) {
            std::printf("%s -- measured: %s  (no target)\n", line.figure.c_str(), line.measured.c_str());
            continue;
        }
        std::printf("%s -- target: %s  measured: %s  %s\n", line.figure.c_str(), line.target.c_str(),
                    line.measured.c_str(), line.met ? "OK" : "MISSED");
        allMet = allMet && line.met;
    }
    std::fflush(stdout);
    return allMet;
}

TargetReport& Report() {
    static TargetReport report;
    return report;
}

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

} // namespace bench
