// The logger a whole-program benchmark starts: the one built beside it, or the one the environment
// variable TAVRIN_PROGRAM names (an earlier build, say, to measure before and after a change the
// same way).
#pragma once

#include <cstdlib>
#include <string>

namespace bench {

inline std::string ProgramUnderTest(const char* built) {
    const char* chosen = std::getenv("TAVRIN_PROGRAM");
    return chosen && *chosen ? chosen : built;
}

} // namespace bench
