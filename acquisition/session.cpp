#include "acquisition/session.h"

#include "chart/chart_picture.h"
#include "chart/sample_plot.h"
#include "device/connect.h"
#include "device/unit_protocol.h"
#include "device/unit_reopen.h"
#include "output/run_header.h"
#include "output/stale_temporaries.h"
#include "output/sweep_file_name.h"
#include "output/sweep_file_writer.h"
#include "report/reporter.h"

#include <QDir>
#include <QLocale>
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

Session::Session(SessionView& view, device::MessagePump& pump, SessionSeams seams)
    : view_(view), pump_(pump), seams_(std::move(seams)),
      feed_(seams_.sinks, seams_.monotonic, [this](const char* module, const QString& reason) {
          report::Report(module, reason);
          view_.ShowStatus(kStatusRecordStopped);
      }) {}

QDateTime Session::Now() const {
    return seams_.now ? seams_.now() : QDateTime::currentDateTime();
}

void Session::Tick() {
    // 16-bit countdowns: any value that is not zero, negative ones too, goes down by one.
    if (ReplyTicks != 0)
        ReplyTicks = std::int16_t(std::uint16_t(ReplyTicks) - 1);
    if (IntervalTicks != 0)
        IntervalTicks = std::int16_t(std::uint16_t(IntervalTicks) - 1);
}

// --- The unit ---

void Session::ConnectDevice() {
    const device::ConnectOutcome outcome = device::ConnectUnit(SerialNumber);
    const QString problem = Text(outcome.problem);
    switch (outcome.connection) {
    case device::Connection::NotListed:
        view_.ShowStatus(kStatusListFailed);
        if (!problem.isEmpty())
            view_.Log().AppendText(problem);
        for (const QString& hint : kNoUnitHints)
            view_.Log().AppendText(hint);
        break;
    case device::Connection::OpenFailed:
    case device::Connection::Opened: {
        const bool opened = outcome.connection == device::Connection::Opened;
        view_.Log().SetSingleLine(QByteArray(SerialNumber));
        view_.ShowStatus(kStatusListed);
        view_.ShowStatus(opened ? kStatusOpenSuccess : kStatusOpenFailed);
        if (opened)
            break;
        view_.Beep();
        if (!problem.isEmpty())
            view_.Log().AppendText(problem);
        break;
    }
    }
}

QString Session::UnitName() const {
    return Text(device::UnitName(DeviceHandle, SerialNumber));
}

void Session::PrepareDevice() {
    device::PrepareForRun(DeviceHandle);
}

report::Done Session::UnitReadyForRun() {
    unitProblem_.clear();
    const device::UnitCheck check = device::CheckUnitForRun(DeviceHandle, SerialNumber);
    unitOpenForRun_ = check.state == device::UnitState::Open || check.state == device::UnitState::Reopened;
    switch (check.state) {
    case device::UnitState::Open:
        return {};
    case device::UnitState::Reopened:
        DeviceStatus = FT_OK;
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
        DeviceStatus = check.status;
        if (check.goneReason != device::kNoUnitOpen)
            unitProblem_ = QStringLiteral("unit unplugged: ") + Text(check.goneReason) + QLatin1Char('\n');
        unitProblem_ += check.openProblem.empty()
                            ? QStringLiteral("Unit %1 could not be opened again")
                                  .arg(QString::fromLatin1(check.serialNumber.empty() ? SerialNumber
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

Session::UnitLoss Session::UnitLossAfterTimeout() {
    if (!unitOpenForRun_)
        return UnitLoss::NotLost;
    const std::string gone = CurrentD2xx().UnitGone(DeviceHandle);
    if (gone.empty())
        return UnitLoss::NotLost;
    report::Report(report::module::kDevice, QStringLiteral("unit unplugged: ") + Text(gone));
    FeedNote(SampleNote::UnitLost);
    if (!seams_.reconnect) {
        unitProblem_ = QStringLiteral("the unit was unplugged (%1)").arg(Text(gone));
        return UnitLoss::Lost;
    }
    if (!AwaitUnit(true))
        return UnitLoss::StoppedWaiting;
    PrepareDevice();
    return UnitLoss::Back;
}

bool Session::AwaitUnit(bool lostDuringRun) {
    view_.ShowStatus(kStatusAwaitingUnit);
    const std::int16_t checkTicks = TicksPerSecond(seams_.tickMs);
    while (Acquiring != 0) {
        IntervalTicks = checkTicks;
        while (IntervalTicks != 0 && Acquiring != 0)
            pump_.ProcessMessages();
        if (Acquiring == 0)
            return false;
        // Always the same unit, by its serial number (the one given on the command line when none was
        // listed yet); with none known at all, the first one listed.
        const std::string sought = device::SoughtUnit(SerialNumber);
        FT_STATUS opened = FT_DEVICE_NOT_FOUND;
        if (!sought.empty()) {
            opened = device::ReopenUnit(DeviceHandle, sought.c_str());
            if (opened == FT_OK && SerialNumber[0] == '\0')
                std::strncpy(SerialNumber, sought.c_str(), sizeof SerialNumber - 1);
        } else if (FT_ListDevices(0, SerialNumber, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) == FT_OK) {
            SerialNumber[sizeof SerialNumber - 1] = '\0';
            opened = device::ReopenUnit(DeviceHandle, SerialNumber);
            if (opened != FT_OK)
                std::memset(SerialNumber, 0, sizeof SerialNumber);
        }
        if (opened == FT_OK)
            break;
    }
    if (Acquiring == 0)
        return false;
    DeviceStatus = FT_OK;
    unitOpenForRun_ = true;
    view_.ShowStatus(kStatusOpenSuccess);
    const QString serial = QString::fromLatin1(SerialNumber);
    if (!lostDuringRun) {
        report::Report(report::module::kDevice, QStringLiteral("unit found: %1").arg(serial));
        return true;
    }
    report::Report(report::module::kDevice, QStringLiteral("unit back: %1").arg(serial));
    FeedNote(SampleNote::UnitBack);
    return true;
}

void Session::FeedNote(SampleNote note) {
    DecodedSample sample;
    sample.note = note;
    feed_.Take(sample, Now(), std::min<int>(SweepX, kLastColumn));
}

// --- The run ---

RunOutcome Session::Run() {
    if (running_)
        return lastOutcome_;
    if (auto ready = UnitReadyForRun(); !ready) {
        lastOutcome_ = {RunEnd::Error, ready.Reason(), report::module::kDevice};
        return lastOutcome_;
    }
    running_ = true;
    const QString baseName = view_.Settings().baseName;
    // What a save cut short by a kill left beside the sweep files of this base name goes.
    output::RemoveStaleTemporaries(baseName, QDir::currentPath());
    feed_.RunStarted({Now(), baseName, UnitName()});
    lastOutcome_ = RunSamples();
    feed_.RunEnded();
    running_ = false;
    return lastOutcome_;
}

void Session::Stop() {
    view_.Beep();
    Acquiring = 0;
    IntervalTicks = 0;
}

// Requests go out SamplingTime ticks apart: the countdown is loaded with the sampling time itself, so
// the interval matches what the window, the log header and the chart annotation state (10 means 1.0 s).
void Session::LoadInterval() {
    IntervalTicks = std::int16_t(SamplingTime);
}

RunOutcome Session::EndNormally() {
    view_.ShowStatus(kStatusFinished);
    Acquiring = 0;
    view_.RunStateChanged(false);
    return {RunEnd::Normal, QString()};
}

RunOutcome Session::EndWith(RunEnd end, const QString& reason) {
    Acquiring = 0;
    view_.RunStateChanged(false);
    return {end, reason};
}

RunOutcome Session::RunSamples() {
    view_.RunStateChanged(true);
    ClearChart();
    PrepareDevice();
    view_.Log().Clear();
    FileIndex = 0;
    WriteRunHeader();
    // The unit could not be opened again: the run goes on as without a unit, and its log says why.
    if (!unitProblem_.isEmpty())
        for (const QString& line : unitProblem_.split(QLatin1Char('\n')))
            report::Report(report::module::kDevice, line);
    unitProblem_.clear();
    ResetSweep();
    LoadInterval();
    Acquiring = 1;
    if (seams_.reconnect && !unitOpenForRun_ && !AwaitUnit(false))
        return EndNormally();
    unsigned framelessInARow = 0;

    while (Acquiring != 0) {
        view_.ShowStatus(kStatusBlank);
        if (ExchangeSample() == device::ExchangeResult::TimedOut) {
            const UnitLoss loss = UnitLossAfterTimeout();
            if (loss == UnitLoss::Back)
                continue;
            if (loss == UnitLoss::StoppedWaiting)
                return EndNormally();
            FeedNote(SampleNote::NoReply);
            view_.Beep();
            view_.ShowStatus(kStatusNoResponse);
            if (loss == UnitLoss::Lost) {
                RunOutcome lost = EndWith(RunEnd::UnitLost, unitProblem_);
                lost.module = report::module::kDevice;
                return lost;
            }
            return EndWith(RunEnd::TimedOut,
                           QStringLiteral("the unit did not answer within %1 ticks; the run ended")
                               .arg(device::kReplyTimeoutTicks));
        }
        PlotReply();
        framelessInARow = reply_.marker ? 0 : framelessInARow + 1;
        if (seams_.framelessReplyLimit != 0 && framelessInARow >= seams_.framelessReplyLimit)
            return EndWith(RunEnd::Error, kFramelessRunMessage.arg(framelessInARow));
        view_.ShowStatus(kStatusReading);

        if (SweepX > kLastColumn) {
            view_.ShowStatus(kStatusSweepEnd);
            feed_.SweepEnded();
            // Each box is read when its step comes: the save's pause lets the user change the next.
            if (view_.Settings().autoSave)
                if (auto saved = SaveSweep(); !saved)
                    return EndWith(RunEnd::Error, saved.Reason());
            if (view_.Settings().autoPrint)
                if (auto printed = view_.PrintChart(); !printed)
                    return EndWith(RunEnd::Error, printed.Reason());
            if (!view_.Settings().continuous)
                return EndNormally();
            view_.Beep();
            ResetSweep();
            ClearChart();
        }

        while (IntervalTicks != 0)
            pump_.ProcessMessages();
        LoadInterval();
    }
    return EndNormally();
}

device::ExchangeResult Session::ExchangeSample() {
    const auto result = device::ExchangeSample(DeviceHandle, ReplyTicks, RxBuffer, pump_);
    if (result == device::ExchangeResult::Replied && DeviceStatus == FT_OK)
        view_.Log().AppendReply(QByteArray(reinterpret_cast<const char*>(RxBuffer.data())));
    return result;
}

std::optional<int> Session::FindReplyFrame() {
    reply_ = DecodeReply(RxBuffer);
    if (!reply_.marker) {
        view_.Beep();
        view_.ShowStatus(kStatusFrameError);
    }
    return reply_.marker;
}

void Session::PlotReply() {
    // One reading of the clock a sample: the chart's stamp and the sample's time in the sinks.
    plottedAt_ = Now();
    const int x = SweepX;
    const RunSettings settings = view_.Settings();
    const bool framed = FindReplyFrame().has_value();
    if (framed) {
        // The analog marks at SweepX, then, after the pump, the digital lines at the advanced column
        // and the frame over everything; the view repaints what the two halves changed once.
        QImage* picture = view_.Chart();
        QRegion changed;
        if (picture) {
            chart::SampleMarks marks;
            marks.ad0On = settings.ad0On;
            marks.ad1On = settings.ad1On;
            marks.lineMode = settings.lineMode;
            marks.ad0Color = settings.ad0Color;
            marks.ad1Color = settings.ad1Color;
            // A channel's digits count only when it is on.
            marks.ad0 = settings.ad0On ? reply_.ad0.chart : 0;
            marks.ad1 = settings.ad1On ? reply_.ad1.chart : 0;
            changed = chart::DrawSampleAnalogMarks(*picture, SweepX, marks);
        }
        ++SweepX;
        pump_.ProcessPending();
        if ((picture = view_.Chart())) {
            // The annotations show the texts as they stand after the pump.
            const RunSettings now = view_.Settings();
            changed += chart::DrawSampleDigitalAndFrame(*picture, SweepX, reply_.status, LevelWasLow,
                                                        {now.samplingText, now.baseName, FileIndex, plottedAt_},
                                                        GridDrawn);
            view_.ChartChanged(changed);
        }
    }
    // The sinks get the reply as it was drawn: at its column and with the channels of its marks.
    if (!feed_.Empty())
        feed_.Take(SampleOf(reply_, {settings.ad0On, settings.ad1On}), plottedAt_, x);
}

void Session::ClearChart() {
    if (QImage* picture = view_.Chart()) {
        chart::ClearChart(*picture);
        view_.ChartChanged(QRegion(picture->rect()));
    }
}

void Session::ResetSweep() {
    SweepX = 0;
    GridDrawn = 0;
    std::fill(std::begin(LevelWasLow), std::end(LevelWasLow), std::uint8_t(0));
}

void Session::WriteRunHeader() {
    const RunSettings settings = view_.Settings();
    for (const QString& line :
         output::RunHeaderLines(Now(), QLocale(), settings.samplingText, settings.baseName, FileIndex))
        view_.Log().AppendText(line);
}

report::Done Session::SaveSweep() {
    const QString chartName = output::SweepFileName(view_.Settings().baseName, FileIndex, output::kChartExtension);
    const QImage* picture = view_.Chart();
    if (auto written = output::WriteChartFile(chartName, picture ? *picture : chart::NewChartPicture()); !written)
        return written;

    ReplyTicks = 10;
    while (ReplyTicks != 0)
        pump_.ProcessMessages();

    // The base name is read again: a change made during the pause names the log file.
    const QString logName = output::SweepFileName(view_.Settings().baseName, FileIndex, output::kLogExtension);
    if (auto written = output::WriteLogFile(logName, view_.Log().FileBytes()); !written)
        return written;

    ++FileIndex;
    view_.Log().Clear();
    WriteRunHeader();
    return {};
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
