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
        if (check.goneReason != device::kNoUnitOpen)
            ReportProblem(QStringLiteral("unit unplugged: ") + Text(check.goneReason));
        ReportProblem(
            check.openProblem.empty()
                ? QStringLiteral("Unit %1 could not be opened again").arg(QString::fromLatin1(SerialNumber))
                : Text(check.openProblem));
        return false;
    }
    return false;
}

acquisition::UnitLoss TForm1::UnitLossAfterTimeout(acquisition::SampleFeed& feed) {
    if (!unitOpenForRun_)
        return acquisition::UnitLoss::NotLost;
    const std::string gone = CurrentD2xx().UnitGone(DeviceHandle);
    if (gone.empty())
        return acquisition::UnitLoss::NotLost;
    ReportProblem(QStringLiteral("unit unplugged: ") + Text(gone));
    FeedNote(feed, acquisition::SampleNote::UnitLost);
    if (!seams_.reconnect)
        return acquisition::UnitLoss::Lost;

    ShowStatus(kStatusAwaitingUnit);
    if (!device::AwaitUnitBack(DeviceHandle, SerialNumber, IntervalTicks, Acquiring,
                               TicksPerSecond(seams_.tickMs), *pump_))
        return acquisition::UnitLoss::StoppedWaiting;
    DeviceStatus = FT_OK;
    ShowStatus(kStatusOpenSuccess);
    ReportProblem(QStringLiteral("unit back: %1").arg(QString::fromLatin1(SerialNumber)));
    FeedNote(feed, acquisition::SampleNote::UnitBack);
    return acquisition::UnitLoss::Back;
}

void TForm1::FeedNote(acquisition::SampleFeed& feed, acquisition::SampleNote note) {
    acquisition::DecodedSample sample;
    sample.note = note;
    feed.Take(sample, Now(), std::min<int>(SweepX, acquisition::kLastColumn));
}
