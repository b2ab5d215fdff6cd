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
