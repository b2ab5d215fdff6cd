// TForm1 and the unit before and during a run: reopening it at START when it
// went away, saying why it went, and (unattended, with reconnect) waiting for it
// to come back. The work is device/unit_reopen's; this is the window's part.
#include "app/message_beep.h"
#include "app/ombu1.h"
#include "app/unit_texts.h"
#include "device/unit_reopen.h"
#include "output/log/log_view.h"

#include <algorithm>
#include <cstdio>

namespace {

// Once a second, in ticks of the given length.
std::int16_t TicksPerSecond(int tickMs) {
    return std::int16_t(std::clamp(1000 / std::max(tickMs, 1), 1, 1000));
}

QString Text(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

} // namespace

void TForm1::ReportUnit(const QString& text) {
    Memo1->AppendText(text);
    if (seams_.errorsToStandardError)
        std::fprintf(stderr, "tavrin: %s\n", text.toLocal8Bit().constData());
}

bool TForm1::UnitReadyForRun() {
    const device::UnitCheck check = device::CheckUnitForRun(DeviceHandle, SerialNumber);
    unitOpenForRun_ = check.state == device::UnitState::Open || check.state == device::UnitState::Reopened;
    switch (check.state) {
    case device::UnitState::Open:
        return true;
    case device::UnitState::NeverListed: {
        // The window runs as ever and ends by the time-out; unattended, a run
        // without a unit is an error, said with the reason the log pane shows.
        if (!seams_.unattended)
            return true;
        const std::string why = CurrentD2xx().LastProblem();
        std::fprintf(stderr, "tavrin: %s\n", why.empty() ? "no unit could be found" : why.c_str());
        return false;
    }
    case device::UnitState::Reopened:
        DeviceStatus = FT_OK;
        ShowStatus(kStatusOpenSuccess);
        return true;
    case device::UnitState::ReopenFailed:
        DeviceStatus = check.status;
        ShowStatus(kStatusOpenFailed);
        MessageBeep(0);
        if (check.goneReason != D2xxBackend::kNoUnitOpen)
            ReportUnit(QStringLiteral("unit unplugged: ") + Text(check.goneReason));
        ReportUnit(
            check.openProblem.empty()
                ? QStringLiteral("Unit %1 could not be opened again").arg(QString::fromLatin1(SerialNumber))
                : Text(check.openProblem));
        return false;
    }
    return false;
}

acquisition::UnitLoss TForm1::UnitLossAfterTimeout(int sweep) {
    if (!unitOpenForRun_)
        return acquisition::UnitLoss::NotLost;
    const std::string gone = CurrentD2xx().UnitGone(DeviceHandle);
    if (gone.empty())
        return acquisition::UnitLoss::NotLost;
    ReportUnit(QStringLiteral("unit unplugged: ") + Text(gone));
    FeedUnitNote(acquisition::SampleNote::UnitLost, sweep);
    if (!seams_.reconnect)
        return acquisition::UnitLoss::Lost;

    ShowStatus(kStatusAwaitingUnit);
    if (!device::AwaitUnitBack(DeviceHandle, SerialNumber, IntervalTicks, Acquiring,
                               TicksPerSecond(seams_.tickMs), *pump_))
        return acquisition::UnitLoss::StoppedWaiting;
    DeviceStatus = FT_OK;
    ShowStatus(kStatusOpenSuccess);
    ReportUnit(QStringLiteral("unit back: %1").arg(QString::fromLatin1(SerialNumber)));
    FeedUnitNote(acquisition::SampleNote::UnitBack, sweep);
    return acquisition::UnitLoss::Back;
}

void TForm1::FeedUnitNote(acquisition::SampleNote note, int sweep) {
    acquisition::DecodedSample sample;
    sample.time = Now();
    sample.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - runStarted_)
            .count();
    sample.sweep = std::max(sweep, 0);
    sample.x = std::min<int>(SweepX, acquisition::kLastColumn);
    sample.note = note;
    for (acquisition::SampleSink* sink : seams_.sampleSinks)
        sink->Take(sample);
}
