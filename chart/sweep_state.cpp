#include "chart/sweep_state.h"

namespace chart {

void ResetSweep(SweepState& s) {
    s = SweepState{};
}

} // namespace chart
