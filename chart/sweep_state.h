// Where a sweep stands: the next column, whether the digital-area grid is drawn, and the last level
// drawn on each digital line.
#pragma once

#include <QtGlobal>

namespace chart {

struct SweepState {
    quint16 sweepX = 0;
    quint8 gridDrawn = 0;
    quint8 levelWasLow[4] = {0, 0, 0, 0};
};

// Back to the start of a sweep: column 0, no digital grid yet, every line counted as high.
void ResetSweep(SweepState& s);

} // namespace chart
