// The records the saver program alternates between, known to the test that kills it.
#pragma once

#include "settings/param_record.h"

#include <array>

namespace settings {

inline std::array<ParamRecord, 4> SaverRecords() {
    return {StartupRecord(clGreen, clOlive, 10, {true, true, false, true, false, false}),
            StartupRecord(clRed, clBlue, 600, {true, true, true, true, true, true}),
            StartupRecord(clWhite, clBlack, 1, {false, false, false, false, false, false}),
            StartupRecord(clFuchsia, clSilver, 345, {false, true, false, true, false, true})};
}

} // namespace settings
