#include "acquisition/session.h"

#include "chart/chart_picture.h"
#include "chart/sample_plot.h"
#include "device/unit_protocol.h"
#include "output/run_header.h"
#include "output/stale_temporaries.h"
#include "output/sweep_file_name.h"
#include "output/sweep_file_writer.h"
#include "report/reporter.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cstring>

namespace acquisition {

namespace {

// What a person can try when no unit is found at start-up.
const QStringList kNoUnitHints = {
    QStringLiteral("To try: 'tavrin --list-units' lists every unit each way can see, and why one may not be opened."),
    QStringLiteral("Permission denied? Install the udev rule: 'sudo cmake --install build/default --prefix /usr', "
                   "then 'sudo udevadm control --reload-rules && sudo udevadm trigger' and plug the unit in again."),
    QStringLiteral("No unit at hand: 'tavrin --device sim' runs on a simulated unit."),
};

QString Text(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

// Once a second, in ticks of the given length.
std::int16_t TicksPerSecond(int tickMs) {
    return std::int16_t(std::clamp(1000 / std::max(tickMs, 1), 1, 1000));
}

} // namespace

namespace {

// The run's log and chart first, then the sinks the session was given.
std::vector<SampleSink*> AllSinks(SampleSink& log, SampleSink& chart, const std::vector<SampleSink*>& given) {
    std::vector<SampleSink*> sinks{&log, &chart};
    sinks.insert(sinks.end(), given.begin(), given.end());
    return sinks;
}

} // namespace

Session::Session(SessionView& view, RunLog& log, RunChart& chart, device::Unit& unit,
                 device::ReadyWatch& watch, SessionSeams seams)
    : view_(view), log_(log), chart_(chart), unit_(unit), watch_(watch), seams_(std::move(seams)),
      logSink_(log_), painter_(
                          chart_, [this] { return sampleSettings_; }, [this] { return state_.FileIndex; }),
      feed_(AllSinks(logSink_, painter_, seams_.sinks), seams_.monotonic,
            [this](const SampleSink& sink, const QString& reason) {
                report::Report(sink.Module(), reason);
                // Said now, and in the place of the reading text for the rest of the run, so that it is seen;
                // each sink in its own words, the last to fail standing.
                if (const QString status = sink.StoppedStatus(); !status.isEmpty()) {
                    stoppedStatus_ = status;
                    view_.ShowStatus(status);
                }
            }) {}

QDateTime Session::Now() const {
    return seams_.now ? seams_.now() : QDateTime::currentDateTime();
}

void Session::Tick() {
    // 16-bit countdowns: any value that is not zero, negative ones too, goes down by one.
    if (state_.ReplyTicks != 0)
        state_.ReplyTicks = std::int16_t(std::uint16_t(state_.ReplyTicks) - 1);
    if (state_.IntervalTicks != 0)
        state_.IntervalTicks = std::int16_t(std::uint16_t(state_.IntervalTicks) - 1);
    // What the tick ends is taken up once the tick itself is over, as the event loop's next job.
    switch (phase_) {
    case RunPhase::Idle:
        break;
    case RunPhase::AwaitingReply:
        // A reply the unit's readiness did not report is seen here; the countdown ends the wait.
        Later(phase_, &Session::LookAtReply, true);
        break;
    case RunPhase::AwaitingInterval:
        if (state_.IntervalTicks == 0)
            Later(phase_, &Session::EndInterval, true);
        break;
    case RunPhase::SavePause:
        if (state_.ReplyTicks == 0)
            Later(phase_, &Session::FinishSave, true);
        break;
    case RunPhase::AwaitingUnit:
        if (state_.IntervalTicks == 0 || state_.Acquiring == 0)
            Later(phase_, &Session::LookForUnit, true);
        break;
    }
}

// --- The unit ---

void Session::ConnectDevice() {
    const device::ConnectOutcome outcome = unit_.Connect();
    const QString problem = Text(outcome.problem);
    switch (outcome.connection) {
    case device::Connection::NotListed:
        view_.ShowStatus(kStatusListFailed);
        if (!problem.isEmpty())
            log_.AppendText(problem);
        for (const QString& hint : kNoUnitHints)
            log_.AppendText(hint);
        break;
    case device::Connection::OpenFailed:
    case device::Connection::Opened: {
        const bool opened = outcome.connection == device::Connection::Opened;
        log_.SetSingleLine(QByteArray(unit_.SerialNumber()));
        view_.ShowStatus(kStatusListed);
        view_.ShowStatus(opened ? kStatusOpenSuccess : kStatusOpenFailed);
        if (opened)
            break;
        view_.Beep();
        if (!problem.isEmpty())
            log_.AppendText(problem);
        break;
    }
    }
}

QString Session::UnitName() const {
    return Text(unit_.Name());
}

void Session::PrepareDevice() {
    unit_.PrepareForRun();
}

report::Done Session::UnitReadyForRun() {
    unitProblem_.clear();
    const device::UnitCheck check = unit_.CheckForRun();
    unitOpenForRun_ = check.state == device::UnitState::Open || check.state == device::UnitState::Reopened;
    switch (check.state) {
    case device::UnitState::Open:
        return {};
    case device::UnitState::Reopened:
        view_.ShowStatus(kStatusOpenSuccess);
        return {};
    case device::UnitState::NeverListed: {
        // The window runs as ever and ends by the time-out; with reconnect the run waits for a unit.
        if (!seams_.unattended || seams_.reconnect)
            return {};
        const std::string why = CurrentD2xx().LastProblem();
        return report::Fail(why.empty() ? QStringLiteral("no unit could be found") : Text(why));
    }
    case device::UnitState::ReopenFailed:
        if (check.goneReason != device::kNoUnitOpen)
            unitProblem_ = QStringLiteral("unit unplugged: ") + Text(check.goneReason) + QLatin1Char('\n');
        unitProblem_ += check.openProblem.empty()
                            ? QStringLiteral("Unit %1 could not be opened again")
                                  .arg(QString::fromLatin1(check.serialNumber.empty() ? unit_.SerialNumber()
                                                                                     : check.serialNumber.c_str()))
                            : Text(check.openProblem);
        // The run starts as always and ends by the time-out, the reason in its log; unattended and
        // without reconnect there is no run.
        if (seams_.unattended && !seams_.reconnect) {
            const QString why = unitProblem_;
            unitProblem_.clear();
            return report::Fail(QString(why).replace(QLatin1Char('\n'), QStringLiteral("; ")));
        }
        return {};
    }
    return {};
}

void Session::AwaitUnit(bool lostDuringRun) {
    awaitingLostUnit_ = lostDuringRun;
    view_.ShowStatus(kStatusAwaitingUnit);
    state_.IntervalTicks = TicksPerSecond(seams_.tickMs);
    SetPhase(RunPhase::AwaitingUnit);
}

void Session::LookForUnit() {
    if (state_.Acquiring == 0) {
        EndNormally();
        return;
    }
    // Always the same unit, by its serial number (the one given on the command line when none was
    // listed yet); with none known at all, the first one listed.
    if (!unit_.LookFor()) {
        state_.IntervalTicks = TicksPerSecond(seams_.tickMs);
        return;
    }
    unitOpenForRun_ = true;
    view_.ShowStatus(kStatusOpenSuccess);
    const QString serial = QString::fromLatin1(unit_.SerialNumber());
    if (awaitingLostUnit_) {
        report::Report(report::module::kDevice, QStringLiteral("unit back: %1").arg(serial));
        FeedNote(SampleNote::UnitBack);
        PrepareDevice();
    } else {
        report::Report(report::module::kDevice, QStringLiteral("unit found: %1").arg(serial));
    }
    // The wait for the unit used the interval's countdown: the next request waits its full sampling time.
    LoadInterval();
    BeginSample();
}

void Session::FeedNote(SampleNote note) {
    DecodedSample sample;
    sample.note = note;
    feed_.Take(sample, Now(), std::min<int>(state_.SweepX, kLastColumn));
}

// --- The run ---

void Session::SetPhase(RunPhase phase) {
    phase_ = phase;
    view_.PhaseChanged(phase);
}

void Session::Later(RunPhase phase, void (Session::*step)(), bool onTick) {
    QMetaObject::invokeMethod(
        this,
        [this, phase, step, onTick, run = runNumber_] {
            if (running_ && run == runNumber_ && phase_ == phase) {
                onTick_ = onTick;
                (this->*step)();
                onTick_ = false;
            }
        },
        Qt::QueuedConnection);
}

bool Session::Start() {
    if (running_)
        return false;
    if (auto ready = UnitReadyForRun(); !ready) {
        lastOutcome_ = {RunEnd::Error, ready.Reason(), report::module::kDevice};
        emit Ended(lastOutcome_);
        return false;
    }
    running_ = true;
    ++runNumber_;
    const QString baseName = view_.Settings().baseName;
    // What a save cut short by a kill left beside the sweep files of this base name goes.
    output::RemoveStaleTemporaries(baseName, QDir::currentPath());
    const QDateTime started = Now();

    view_.RunStateChanged(true);
    ClearChart();
    PrepareDevice();
    log_.Clear();
    state_.FileIndex = 0;
    WriteRunHeader();
    // After the log is cleared: a record that cannot be made is said under the run's header.
    stoppedStatus_.clear();
    feed_.RunStarted({started, baseName, UnitName(), view_.Settings().channels});
    // The unit could not be opened again: the run goes on as without a unit, and its log says why.
    if (!unitProblem_.isEmpty())
        for (const QString& line : unitProblem_.split(QLatin1Char('\n')))
            report::Report(report::module::kDevice, line);
    unitProblem_.clear();
    ResetSweep();
    LoadInterval();
    state_.Acquiring = 1;
    framelessInARow_ = 0;
    if (seams_.reconnect && !unitOpenForRun_) {
        report::Report(report::module::kDevice, QStringLiteral("no unit yet: waiting for one (looking once a second)"));
        AwaitUnit(false);
    } else {
        BeginSample();
    }
    return true;
}

void Session::Stop() {
    view_.Beep();
    state_.Acquiring = 0;
    state_.IntervalTicks = 0;
    // The interval wait and the wait for a unit end at their next look, from the event loop; a reply
    // wait and a save pause run to their end.
    if (phase_ == RunPhase::AwaitingInterval)
        Later(phase_, &Session::EndInterval);
    else if (phase_ == RunPhase::AwaitingUnit)
        Later(phase_, &Session::EndNormally);
}

// Straight away rather than from the event loop: a look at the reply that the tick put off, and which
// would find the time-out, never comes first.
void Session::StopNow() {
    Stop();
    if (phase_ == RunPhase::AwaitingReply)
        CutReplyShort();
    else if (phase_ == RunPhase::SavePause)
        FinishSave();
}

// Requests go out SamplingTime ticks apart: the countdown is loaded with the sampling time itself, so
// the interval matches what the window, the log header and the chart annotation state (10 means 1.0 s).
void Session::LoadInterval() {
    state_.IntervalTicks = std::int16_t(state_.SamplingTime);
}

void Session::BeginSample() {
    if (state_.Acquiring == 0) {
        EndNormally();
        return;
    }
    SetPhase(RunPhase::AwaitingReply);
    view_.ShowStatus(kStatusBlank);
    unit_.SendRequest();
    // The reply wait is 10 whole ticks. A request sent between two ticks (the first, at START) has the
    // rest of its tick on top; every other one goes out on a tick.
    state_.ReplyTicks = std::int16_t(device::kReplyTimeoutTicks + (onTick_ ? 0 : 1));
    LookAtReply();
}

void Session::LookAtReply() {
    if (phase_ != RunPhase::AwaitingReply)
        return;
    switch (unit_.TakeReply(state_.ReplyTicks, state_.RxBuffer)) {
    case device::ExchangeResult::Pending:
        watch_.Watch(unit_.ReplyWakeup(), [this] { LookAtReply(); });
        return;
    case device::ExchangeResult::TimedOut:
        watch_.Unwatch();
        ReplyTimedOut();
        return;
    case device::ExchangeResult::Replied:
        watch_.Unwatch();
        // A read that failed adds no log line; the reply is still drawn from what the buffer holds.
        replyRead_ = unit_.Status() == FT_OK;
        HandleReply();
        return;
    }
}

void Session::ReplyTimedOut() {
    if (unitOpenForRun_) {
        if (const std::string gone = unit_.Gone(); !gone.empty()) {
            report::Report(report::module::kDevice, QStringLiteral("unit unplugged: ") + Text(gone));
            FeedNote(SampleNote::UnitLost);
            if (seams_.reconnect) {
                AwaitUnit(true);
                return;
            }
            FeedNote(SampleNote::NoReply);
            view_.Beep();
            view_.ShowStatus(kStatusNoResponse);
            EndWith(RunEnd::UnitLost, QStringLiteral("the unit was unplugged (%1)").arg(Text(gone)),
                    report::module::kDevice);
            return;
        }
    }
    FeedNote(SampleNote::NoReply);
    view_.Beep();
    view_.ShowStatus(kStatusNoResponse);
    EndWith(RunEnd::TimedOut,
            QStringLiteral("the unit did not answer within %1 ticks; the run ended").arg(device::kReplyTimeoutTicks));
}

void Session::CutReplyShort() {
    watch_.Unwatch();
    if (unit_.TakeReply(state_.ReplyTicks, state_.RxBuffer) == device::ExchangeResult::Replied) {
        replyRead_ = unit_.Status() == FT_OK;
        HandleReply();
        return;
    }
    FeedNote(SampleNote::CutShort);
    EndNormally();
}

void Session::HandleReply() {
    PlotReply();
    framelessInARow_ = reply_.marker ? 0 : framelessInARow_ + 1;
    if (seams_.framelessReplyLimit != 0 && framelessInARow_ >= seams_.framelessReplyLimit) {
        EndWith(RunEnd::Error, kFramelessRunMessage.arg(framelessInARow_));
        return;
    }
    view_.ShowStatus(SampleStatus());
    if (state_.SweepX > kLastColumn)
        BeginSweepEnd();
    else
        AwaitInterval();
}

// Each box is read when its step comes: the save's pause lets the user change the next.
void Session::BeginSweepEnd() {
    view_.ShowStatus(kStatusSweepEnd);
    feed_.SweepEnded();
    if (!view_.Settings().autoSave) {
        ContinueSweepEnd();
        return;
    }
    const QString chartName = output::SweepFileName(view_.Settings().baseName, state_.FileIndex, output::kChartExtension);
    const QImage* picture = chart_.Chart();
    if (auto written = output::WriteChartFile(chartName, picture ? *picture : chart::NewChartPicture()); !written) {
        EndWith(RunEnd::Error, written.Reason());
        return;
    }
    state_.ReplyTicks = 10;
    SetPhase(RunPhase::SavePause);
}

void Session::FinishSave() {
    // The base name is read again: a change made during the pause names the log file.
    const QString logName = output::SweepFileName(view_.Settings().baseName, state_.FileIndex, output::kLogExtension);
    if (auto written = output::WriteLogFile(logName, log_.FileBytes()); !written) {
        EndWith(RunEnd::Error, written.Reason());
        return;
    }
    ++state_.FileIndex;
    log_.Clear();
    WriteRunHeader();
    ContinueSweepEnd();
}

void Session::ContinueSweepEnd() {
    if (view_.Settings().autoPrint)
        if (auto printed = chart_.PrintChart(); !printed) {
            EndWith(RunEnd::Error, printed.Reason());
            return;
        }
    if (!view_.Settings().continuous) {
        EndNormally();
        return;
    }
    view_.Beep();
    ResetSweep();
    ClearChart();
    AwaitInterval();
}

// The next request goes out on a tick, its full sampling time after the last one: at once only when
// this very tick ran the countdown out (a reply that came between two ticks waits for the next). After
// STOP the run ends at once.
void Session::AwaitInterval() {
    if (state_.Acquiring == 0 || (state_.IntervalTicks == 0 && onTick_))
        EndInterval();
    else
        SetPhase(RunPhase::AwaitingInterval);
}

void Session::EndInterval() {
    LoadInterval();
    BeginSample();
}

void Session::EndNormally() {
    view_.ShowStatus(kStatusFinished);
    Finish({RunEnd::Normal, QString()});
}

void Session::EndWith(RunEnd end, const QString& reason, const char* module) {
    Finish({end, reason, module});
}

void Session::Finish(RunOutcome outcome) {
    state_.Acquiring = 0;
    watch_.Unwatch();
    SetPhase(RunPhase::Idle);
    view_.RunStateChanged(false);
    for (int channel = 0; channel < channels::kChannelCount; ++channel)
        if (feed_.Watch(channel).Watched())
            report::Report(report::module::kLimits,
                           channels::OutsideLine(channel, feed_.Channels()[std::size_t(channel)],
                                                 feed_.Watch(channel).OutsideMs(feed_.ElapsedMs())));
    feed_.RunEnded();
    running_ = false;
    lastOutcome_ = std::move(outcome);
    emit Ended(lastOutcome_);
}

std::optional<int> Session::FindReplyFrame() {
    reply_ = DecodeReply(state_.RxBuffer);
    if (!reply_.marker) {
        view_.Beep();
        view_.ShowStatus(kStatusFrameError);
    }
    return reply_.marker;
}

void Session::PlotReply() {
    // One reading of the clock a sample: the chart's stamp and the sample's time in the sinks.
    plottedAt_ = Now();
    // Read once a sample: the chart draws with the channels the sinks get.
    sampleSettings_ = view_.Settings();
    const RunSettings& settings = sampleSettings_;
    // A channel switched off is no longer outside its limits: its value is not read any more.
    if (!settings.ad0On)
        feed_.SwitchedOff(0);
    if (!settings.ad1On)
        feed_.SwitchedOff(1);
    const bool framed = FindReplyFrame().has_value();
    // Every sink gets the reply once, at its column and with the channels of its marks: the log its
    // bytes, the chart its marks at SweepX and its digital lines at the advanced column.
    DecodedSample sample = SampleOf(reply_, {settings.ad0On, settings.ad1On});
    sample.frame = reply_;
    if (replyRead_)
        sample.reply = QByteArray(reinterpret_cast<const char*>(state_.RxBuffer.data()));
    replyRead_ = false;
    SayCrossings(feed_.Take(std::move(sample), plottedAt_, state_.SweepX));
    if (framed)
        ++state_.SweepX;
}

void Session::SayCrossings(const channels::Crossings& crossings) {
    for (int channel = 0; channel < channels::kChannelCount; ++channel) {
        const auto& crossing = crossings[std::size_t(channel)];
        if (!crossing)
            continue;
        report::Report(report::module::kLimits,
                       channels::CrossingLine(channel, feed_.Channels()[std::size_t(channel)], *crossing,
                                              feed_.Watch(channel).LastValue()));
        view_.Beep();
    }
}

QString Session::SampleStatus() const {
    QStringList outside;
    for (int channel = 0; channel < channels::kChannelCount; ++channel) {
        const channels::LimitWatch& watch = feed_.Watch(channel);
        if (watch.Now() == channels::LimitWatch::State::Inside)
            continue;
        const channels::Channel& settings = feed_.Channels()[std::size_t(channel)];
        const char* text = watch.Now() == channels::LimitWatch::State::High ? kStatusAboveHigh : kStatusBelowLow;
        outside << QCoreApplication::translate("Status", text)
                       .arg(settings.name, channels::FormatValue(settings.scale, watch.LastValue()), settings.unit);
    }
    if (!outside.isEmpty())
        return outside.join(QStringLiteral("  "));
    return stoppedStatus_.isEmpty() ? kStatusReading : stoppedStatus_;
}

void Session::ClearChart() {
    if (QImage* picture = chart_.Chart()) {
        chart::ClearChart(*picture);
        chart_.ChartChanged(QRegion(picture->rect()));
    }
}

void Session::ResetSweep() {
    state_.SweepX = 0;
    painter_.ResetSweep();
}

void Session::WriteRunHeader() {
    const RunSettings settings = view_.Settings();
    for (const QString& line :
         output::RunHeaderLines(Now(), QLocale(), settings.samplingText, settings.baseName, state_.FileIndex))
        log_.AppendText(line);
}

std::vector<std::pair<const char*, QString>> Session::Shortfalls() const {
    std::vector<std::pair<const char*, QString>> lines;
    for (const SampleSink* sink : seams_.sinks)
        if (sink)
            if (const QString shortfall = sink->Shortfall(); !shortfall.isEmpty())
                lines.emplace_back(sink->Module(), shortfall);
    return lines;
}

} // namespace acquisition
