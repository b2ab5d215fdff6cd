#include "bench/emulated_unit.h"

#include "bench/first_line.h"

#include <stdexcept>

namespace bench {

EmulatedUnit::EmulatedUnit(const std::string& emulator, const std::string& scratchFolder) {
    const std::string output = scratchFolder + "/unit-emulator.out";
    emulator_ = std::make_unique<ChildProcess>(emulator, std::vector<std::string>{}, output);
    const auto path =
        AwaitLine(*emulator_, output, [](const std::string& line) { return line.rfind("/dev/", 0) == 0; });
    if (!path)
        throw std::runtime_error("the unit emulator did not start:\n" + emulator_->OutputTail());
    path_ = *path;
}

} // namespace bench
