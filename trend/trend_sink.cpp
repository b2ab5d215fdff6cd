#include "trend/trend_sink.h"

namespace trend {

QString TrendSink::StoppedStatus() const {
    return QStringLiteral(QT_TRANSLATE_NOOP("Status", "トレンドウィンドウが満杯です"));
}

report::Done TrendSink::RunStarted(const acquisition::RunInfo& run) {
    live_ = std::make_shared<Trace>();
    // The run's names, units and scaling, for the whole run.
    for (const Channel c : {Channel::Ad0, Channel::Ad1}) {
        const channels::Channel& channel = run.channels[c == Channel::Ad0 ? 0 : 1];
        live_->SetUnits(c, {channel, channels::Decimals(channel.scale.Slope())});
    }
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
