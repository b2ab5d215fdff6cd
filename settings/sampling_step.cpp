#include "settings/sampling_step.h"

namespace settings {

quint16 StepSamplingTime(quint16 samplingTime, SamplingStep step) {
    switch (step) {
    case SamplingStep::Up1:
    case SamplingStep::Up10: {
        const quint16 raised = quint16(samplingTime + (step == SamplingStep::Up1 ? 1 : 10));
        return raised > kMaxSamplingTime ? kMaxSamplingTime : raised;
    }
    case SamplingStep::Down1: {
        const quint16 lowered = quint16(samplingTime - 1);
        return lowered == 0 ? kMinSamplingTime : lowered;
    }
    case SamplingStep::Down10:
        return samplingTime <= 10 ? kMinSamplingTime : quint16(samplingTime - 10);
    }
    return samplingTime;
}

} // namespace settings
