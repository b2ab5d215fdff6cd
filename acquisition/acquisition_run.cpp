#include "acquisition/acquisition_run.h"

namespace acquisition {

namespace {

// Requests go out SamplingTime ticks apart: the countdown is loaded with the
// sampling time itself, so the interval matches what the window, the log header
// and the chart annotation state (10 means 1.0 s).
void LoadInterval(RunFields& f) { f.intervalTicks = std::int16_t(f.samplingTime); }

RunEnd EndNormally(RunHost& host, RunFields& f) {
    host.ShowStatus(kStatusFinished);
    f.acquiring = 0;
    host.SetStartEnabled(true);
    return RunEnd::Normal;
}

RunEnd EndWithError(RunHost& host, RunFields& f, const QString& message) {
    f.acquiring = 0;
    host.SetStartEnabled(true);
    host.ShowError(message);
    return RunEnd::Error;
}

} // namespace

RunEnd Run(RunHost& host, RunFields f, unsigned framelessLimit) {
    host.SetStartEnabled(false);
    host.ClearChart();
    host.PrepareDevice();
    host.ClearLog();
    f.fileIndex = 0;
    host.WriteRunHeader();
    host.ResetSweep();
    LoadInterval(f);
    f.acquiring = 1;
    unsigned framelessInARow = 0;

    while (f.acquiring != 0) {
        host.ShowStatus(kStatusBlank);
        if (!host.ExchangeSample()) {
            const UnitLoss loss = host.UnitLossAfterTimeout();
            if (loss == UnitLoss::Back)
                continue;
            if (loss == UnitLoss::StoppedWaiting)
                return EndNormally(host, f);
            host.MessageBeep();
            host.ShowStatus(kStatusNoResponse);
            f.acquiring = 0;
            host.SetStartEnabled(true);
            return RunEnd::TimedOut;
        }
        const std::uint16_t columnBefore = f.sweepX;
        host.PlotReply();
        // PlotReply advances SweepX exactly when the reply had a frame.
        framelessInARow = f.sweepX == columnBefore ? framelessInARow + 1 : 0;
        if (framelessLimit != 0 && framelessInARow >= framelessLimit)
            return EndWithError(host, f, kFramelessRunMessage.arg(framelessInARow));
        host.ShowStatus(kStatusReading);

        if (f.sweepX > kLastColumn) {
            host.ShowStatus(kStatusSweepEnd);
            host.SweepEnded();
            if (host.AutoSaveTicked())
                if (auto error = host.SaveSweep())
                    return EndWithError(host, f, *error);
            if (host.AutoPrintTicked())
                if (auto error = host.PrintChartNow())
                    return EndWithError(host, f, *error);
            if (!host.ContinuousTicked())
                return EndNormally(host, f);
            host.MessageBeep();
            host.ResetSweep();
            host.ClearChart();
        }

        while (f.intervalTicks != 0)
            host.ProcessMessages();
        LoadInterval(f);
    }
    return EndNormally(host, f);
}

void Stop(RunHost& host, RunFields f) {
    host.MessageBeep();
    f.acquiring = 0;
    f.intervalTicks = 0;
}

} // namespace acquisition
