// The closing lines of every benchmark program: each figure beside its target,
// so a run can be read without knowing what the targets are.
#pragma once

#include <string>
#include <vector>

namespace bench {

class TargetReport {
public:
    // One figure: what it is, its target and what was measured (texts with their
    // units), and whether the target was met.
    void Add(std::string figure, std::string target, std::string measured, bool met);
    // A figure reported without a target of its own.
    void AddUntargeted(std::string figure, std::string measured);
    // A condition the reader needs to judge the figures (a shortened tick, say).
    void Note(std::string text);
    // Prints the notes and one line a figure; false when a target was missed.
    bool Print() const;

private:
    struct Line {
        std::string figure;
        std::string target;
        std::string measured;
        bool met;
    };
    std::vector<Line> lines_;
    std::vector<std::string> notes_;
};

// The program's one report.
TargetReport& Report();

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace bench
