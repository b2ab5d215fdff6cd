// An acquisition run: START's whole life, from the start steps through the
// sample loop and the sweep ends to one of the three ends. The run keeps no
// state of its own; it works on the form's fields and acts through RunHost, so
// it can be driven without a window.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace acquisition {

struct RunFields {
    std::uint8_t& acquiring;
    std::int16_t& intervalTicks;
    const std::uint16_t& samplingTime;
    const std::uint16_t& sweepX;
    std::uint16_t& fileIndex;
};

// What became of a unit after a reply wait timed out.
enum class UnitLoss {
    NotLost,        // it is still there: a plain time-out
    Lost,           // it went away: the run ends by the time-out
    Back,           // it went away, came back and is open again: the run goes on
    StoppedWaiting, // it went away and STOP ended the wait for it
};

class RunHost {
public:
    virtual ~RunHost() = default;

    virtual void SetStartEnabled(bool enabled) = 0;
    virtual void ClearChart() = 0;
    virtual void ResetSweep() = 0;
    virtual void ClearLog() = 0;
    virtual void WriteRunHeader() = 0;
    virtual void ShowStatus(const QString& text) = 0;
    virtual void MessageBeep() = 0;
    virtual void ProcessMessages() = 0;
    // RTS pulse and purge of both queues before the first request.
    virtual void PrepareDevice() = 0;
    // false when the reply wait timed out.
    virtual bool ExchangeSample() = 0;
    virtual void PlotReply() = 0;
    // At each sweep end, before the sweep files are saved.
    virtual void SweepEnded() {}
    // Asked after a reply wait timed out.
    virtual UnitLoss UnitLossAfterTimeout() { return UnitLoss::NotLost; }

    virtual bool ContinuousTicked() const = 0;
    virtual bool AutoSaveTicked() const = 0;
    virtual bool AutoPrintTicked() const = 0;

    // Each gives an error message when it failed.
    virtual std::optional<QString> SaveSweep() = 0;
    virtual std::optional<QString> PrintChartNow() = 0;
    virtual void ShowError(const QString& message) = 0;
};

enum class RunEnd { Normal, TimedOut, Error };

// Status texts of the run, translated where the status line shows them.
inline const QString kStatusBlank = QStringLiteral("               ");
inline const QString kStatusReading = QStringLiteral(QT_TRANSLATE_NOOP("Status", "データ読み込み中"));
inline const QString kStatusSweepEnd = QStringLiteral(QT_TRANSLATE_NOOP("Status", "キャプチャー開始"));
inline const QString kStatusFinished = QStringLiteral(QT_TRANSLATE_NOOP("Status", "データ取り込み終了"));
inline const QString kStatusNoResponse = QStringLiteral(QT_TRANSLATE_NOOP("Status", "応答がありません"));

constexpr std::uint16_t kLastColumn = 600;

// Unattended, a unit that answers only with replies without a frame would keep
// the run (and its log) going for ever; this many in a row end it as an error.
constexpr unsigned kUnattendedFramelessLimit = 100;
inline const QString kFramelessRunMessage = QStringLiteral(
    "The unit sent %1 replies in a row without a reply frame (no \"A\" in the first 50 bytes); "
    "the run was ended.");

// Runs until STOP, a time-out, a sweep end without continuous measurement, or
// an error at a sweep end. Returns how it ended; START is enabled again.
// `framelessLimit` replies in a row without a frame end the run as an error;
// 0 means no limit, as in the window.
RunEnd Run(RunHost& host, RunFields fields, unsigned framelessLimit = 0);

// Button4Click's effect on the fields.
void Stop(RunHost& host, RunFields fields);

} // namespace acquisition
