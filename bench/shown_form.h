// A TForm1 built as the program builds it (Qt's event loop as the pump, the real
// tick unless told otherwise) on a given unit, shown off-screen and past FormShow,
// so its parameter file has been read and the unit is open.
#pragma once

#include "app/ombu1.h"
#include "bench/settings_folder.h"
#include "device/port.h"

#include <memory>

namespace bench {

struct ShownFormOptions {
    int tickMs = 100;
    bool runTimer = true; // false: no tick at all, for timing a sample on its own
    LoggerSettings settings;
};

class ShownForm {
public:
    // Installs `unit` as the way to the unit. Throws std::runtime_error when the unit
    // does not open.
    ShownForm(std::unique_ptr<device::Backend> unit, const ShownFormOptions& options);
    ~ShownForm();
    ShownForm(const ShownForm&) = delete;
    ShownForm& operator=(const ShownForm&) = delete;

    TForm1& Form() { return *form_; }

private:
    SettingsFolder settings_;
    std::unique_ptr<TForm1> form_;
};

} // namespace bench
