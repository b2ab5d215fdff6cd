// The four step buttons of the sampling time (tenths of a second).
#pragma once

#include <QtGlobal>

namespace settings {

constexpr quint16 kMinSamplingTime = 1;
constexpr quint16 kMaxSamplingTime = 600;

enum class SamplingStep { Up1, Down1, Up10, Down10 };

// Arithmetic is 16-bit and wraps. Each rule clamps only on its own side, so a value outside
// 1..600 that came from the parameter file is pulled back by the up buttons at once but
// walked down by the down buttons step by step (0 minus 1 wraps to 65535).
quint16 StepSamplingTime(quint16 samplingTime, SamplingStep step);

} // namespace settings
