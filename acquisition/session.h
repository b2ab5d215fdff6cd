// The acquisition session: the run as a thing of its own. It owns the run's
// state (the countdowns, the sweep position, the file index, the reply buffer),
// the unit once it is connected, the decoding of each reply and the sample feed;
// it shows what happens through a SessionView, which is the window or, in a
// headless run, no window at all.
//
// A run lives inside Run(): it returns only when the run has ended. It never
// sleeps and never blocks: every wait goes through the message pump, so the
// tick (Tick()), STOP (Stop()) and everything else the program does keep working
// while a run is in progress. The tick is the run's only clock.
#pragma once

#include "acquisition/reply_decoding.h"
#include "acquisition/sample_feed.h"
#include "acquisition/session_view.h"
#include "device/exchange.h"
#include "device/message_pump.h"

#include <QDateTime>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace acquisition {

// Status texts of the run, translated where the status line shows them.
inline const QString kStatusBlank = QStringLiteral("               ");
inline const QString kStatusReading = QStringLiteral(QT_TRANSLATE_NOOP("Status", "データ読み込み中"));
inline const QString kStatusSweepEnd = QStringLiteral(QT_TRANSLATE_NOOP("Status", "キャプチャー開始"));
inline const QString kStatusFinished = QStringLiteral(QT_TRANSLATE_NOOP("Status", "データ取り込み終了"));
inline const QString kStatusNoResponse = QStringLiteral(QT_TRANSLATE_NOOP("Status", "応答がありません"));
inline const QString kStatusFrameError = QStringLiteral(QT_TRANSLATE_NOOP("Status", "データ受信エラー"));
inline const QString kStatusRecordStopped = QStringLiteral(QT_TRANSLATE_NOOP("Status", "記録を中止しました"));
inline const QString kStatusAwaitingUnit = QStringLiteral(QT_TRANSLATE_NOOP("Status", "ユニット再接続待ち"));
inline const QString kStatusListFailed = QStringLiteral("Read failed ! Can't See FTDI IC");
inline const QString kStatusListed = QStringLiteral("Serial Number Read Success!");
inline const QString kStatusOpenSuccess = QStringLiteral("USB Serial Number Open Success!");
inline const QString kStatusOpenFailed = QStringLiteral("USB Serial Number Open failed !");

constexpr std::uint16_t kLastColumn = 600;

// Unattended, a unit that answers only with replies without a frame would keep
// the run (and its log) going for ever; this many in a row end it as an error.
constexpr unsigned kUnattendedFramelessLimit = 100;
inline const QString kFramelessRunMessage = QStringLiteral(
    "The unit sent %1 replies in a row without a reply frame (no \"A\" in the first 50 bytes); "
    "the run was ended.");

// How a run ended.
enum class RunEnd {
    Normal,   // STOP, or a sweep end without continuous measurement
    TimedOut, // the unit did not answer
    UnitLost, // the unit vanished and was not waited for: in the window the time-out end
    Error,    // a sweep file or a print failed, or (unattended) no unit or no frames
};

struct RunOutcome {
    RunEnd end = RunEnd::Normal;
    QString reason;     // for every end but Normal: why, in plain words
    const char* module = "acquisition"; // where the reason comes from
};

struct SessionSeams {
    std::function<QDateTime()> now;                        // null: the system clock
    std::function<std::chrono::milliseconds()> monotonic;  // null: the steady clock (a run's elapsed time)
    std::vector<SampleSink*> sinks;                        // fed every decoded sample of a run, in order
    unsigned framelessReplyLimit = 0;                      // replies without a frame in a row that end a run; 0: none
    bool unattended = false;                               // a run without a unit is an error
    bool reconnect = false;                                // a unit that is gone is waited for
    int tickMs = 100;                                      // length of one tick, for waits counted in seconds
};

class Session {
public:
    Session(SessionView& view, device::MessagePump& pump, SessionSeams seams);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The run's state.
    std::int16_t ReplyTicks = 0;
    std::int16_t IntervalTicks = 0;
    std::uint16_t SamplingTime = 0;
    std::uint16_t FileIndex = 0;
    std::uint8_t Acquiring = 0;
    std::uint8_t GridDrawn = 0;
    std::uint8_t LevelWasLow[4] = {0, 0, 0, 0};
    std::uint16_t SweepX = 0;
    char SerialNumber[64] = {};
    device::RxBufferBytes RxBuffer{};

    // The tick: both countdowns down by one when not zero (16-bit, wrapping).
    void Tick();
    // Finds unit 0, says so, opens it and sets its line; once, at start-up.
    void ConnectDevice();
    // START: the whole run, from its start through the sample loop to one of its ends.
    RunOutcome Run();
    // STOP: the run ends at its next loop test.
    void Stop();
    bool Running() const { return running_; }
    // Whether a unit that is gone is waited for, from the next wait on.
    void SetReconnect(bool on) { seams_.reconnect = on; }
    const RunOutcome& LastOutcome() const { return lastOutcome_; }

    // The run's steps, each as the run takes it.
    device::ExchangeResult ExchangeSample();
    std::optional<int> FindReplyFrame();
    void PlotReply();
    void ClearChart();
    void ResetSweep();
    void WriteRunHeader();
    report::Done SaveSweep();

    QDateTime Now() const;
    // When PlotReply read the clock for the sample it drew last.
    const QDateTime& PlottedAt() const { return plottedAt_; }
    // What did not reach the sinks since the program started: each one's module and its words; empty
    // when everything did.
    std::vector<std::pair<const char*, QString>> Shortfalls() const;

private:
    enum class UnitLoss { NotLost, Lost, Back, StoppedWaiting };

    RunOutcome RunSamples();
    RunOutcome EndNormally();
    RunOutcome EndWith(RunEnd end, const QString& reason);
    void LoadInterval();
    // Before a run: whether one may start, reopening the unit when it went away. Unattended and
    // without a unit it may not, and says why.
    report::Done UnitReadyForRun();
    UnitLoss UnitLossAfterTimeout();
    // Waits for the unit, looking once a second, until it is open or STOP; `lostDuringRun` when it
    // vanished mid-run (the sinks get "unit back"), not when none was open at START.
    bool AwaitUnit(bool lostDuringRun);
    void PrepareDevice();
    void FeedNote(SampleNote note);
    QString UnitName() const;

    SessionView& view_;
    device::MessagePump& pump_;
    SessionSeams seams_;
    SampleFeed feed_;
    DecodedReply reply_;     // the last reply read, decoded once
    QDateTime plottedAt_;
    bool running_ = false;
    bool unitOpenForRun_ = false;
    QString unitProblem_;    // why the unit could not be opened again at START
    RunOutcome lastOutcome_;
};

} // namespace acquisition
