#include "trend/trend_sink.h"

namespace trend {

report::Done TrendSink::RunStarted(const acquisition::RunInfo&) {
    live_ = std::make_shared<Trace>();
    shown_ = live_;
    running_ = true;
    if (changed)
        changed(true);
    return {};
}

report::Done TrendSink::Take(const acquisition::DecodedSample& sample) {
    if (!live_)
        return {};
    if (live_->Size() >= mostSamples_)
        return report::Fail(
            QStringLiteral("The trend window keeps the first %1 samples of a run; the later ones "
                           "are in the run record only.")
                .arg(mostSamples_));
    live_->Append(RowOf(sample));
    if (changed)
        changed(false);
    return {};
}

report::Done TrendSink::RunEnded() {
    running_ = false;
    if (changed)
        changed(false);
    return {};
}

} // namespace trend
