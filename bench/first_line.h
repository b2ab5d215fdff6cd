// Reading what a started helper program announces on its first line of output.
#pragma once

#include "bench/child_process.h"

#include <chrono>
#include <optional>
#include <string>

namespace bench {

// The first line of `outputFile` that `accept` takes, waiting (bounded) while `child` runs.
template <class Accept>
std::optional<std::string> AwaitLine(ChildProcess& child, const std::string& outputFile, Accept accept,
                                     std::chrono::milliseconds limit = std::chrono::seconds(10));

// Reads `file` whole; empty when it cannot be read.
std::string FileText(const std::string& file);

} // namespace bench

#include <sstream>
#include <thread>

template <class Accept>
std::optional<std::string> bench::AwaitLine(ChildProcess& child, const std::string& outputFile, Accept accept,
                                            std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::istringstream text(FileText(outputFile));
        for (std::string line; std::getline(text, line);)
            if (accept(line))
                return line;
        if (!child.Running())
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}
