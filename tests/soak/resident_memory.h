// The process's resident set, for checks that a long run does not grow.
#pragma once

#include <cstddef>
#include <fstream>
#include <unistd.h>

namespace soak {

// Under AddressSanitizer freed blocks wait in a quarantine of up to 256 MiB before
// they are reused, so the resident set grows with every allocation whatever the
// program keeps: it tells nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSetMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSetMeaningful = false;
#else
constexpr bool kResidentSetMeaningful = true;
#endif
#else
constexpr bool kResidentSetMeaningful = true;
#endif

// Bytes of this process in memory now (/proc/self/statm), 0 when unknown.
inline std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t total = 0;
    std::size_t resident = 0;
    if (!(statm >> total >> resident))
        return 0;
    return resident * std::size_t(::sysconf(_SC_PAGESIZE));
}

} // namespace soak
