// The acquisition session: the run as a thing of its own. It owns the run's
// state (the countdowns, the sweep position, the file index, the reply buffer),
// the decoding of each reply and the sample feed; it is given the unit (device::Unit) it talks to;
// it shows its status through a SessionView, which is the window or, in a
// headless run, no window at all. Each reply goes once through the sample feed:
// to the run's log and chart (a RunLog and a RunChart, kept by the window or the
// headless run) and to the other sinks it was given.
//
// A run is a state machine: Start() returns at once, and the tick (Tick()), the
// unit's readiness and STOP (Stop()) move it on from one wait to the next (the
// reply, the interval, the pause between a sweep's picture and its log, a unit
// that went away). Its end comes as the Ended signal. Nothing waits in between,
// so a dialog or anything else the program does never holds a run up. The tick
// is the run's only clock.
#pragma once

#include "acquisition/reply_decoding.h"
#include "acquisition/run_view_sinks.h"
#include "acquisition/sample_feed.h"
#include "acquisition/session_view.h"
#include "device/exchange.h"
#include "device/unit.h"
#include "device/ready_watch.h"

#include <QObject>
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
inline const QString kStatusAwaitingUnit = QStringLiteral(QT_TRANSLATE_NOOP("Status", "ユニット再接続待ち"));
// A channel outside its limits, said on the status line for as long as it stays outside: its name,
// its value, its unit.
inline const char* const kStatusAboveHigh = QT_TRANSLATE_NOOP("Status", "%1 が上限を超えています (%2 %3)");
inline const char* const kStatusBelowLow = QT_TRANSLATE_NOOP("Status", "%1 が下限を下回っています (%2 %3)");
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

// The run's state, which the window keeps as its own fields under these names; the session
// alone moves it on during a run.
struct RunState {
    std::int16_t ReplyTicks = 0;    // the reply wait's countdown (and the save pause's)
    std::int16_t IntervalTicks = 0; // the sampling interval's countdown
    std::uint16_t SamplingTime = 0; // ticks between two requests, as the window sets it
    std::uint16_t FileIndex = 0;    // the next sweep files' number
    std::uint8_t Acquiring = 0;     // 1 until STOP or the run's end
    std::uint16_t SweepX = 0;       // the chart column of the next sample
    device::RxBufferBytes RxBuffer{};
};

class Session : public QObject {
    Q_OBJECT

public:
    Session(SessionView& view, RunLog& log, RunChart& chart, device::Unit& unit, device::ReadyWatch& watch,
            SessionSeams seams);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The run's state: the window binds its fields to it and sets the sampling time in it.
    RunState& State() { return state_; }
    const RunState& State() const { return state_; }

    // The tick: both countdowns down by one when not zero (16-bit, wrapping), then whatever the run
    // waits for is looked at.
    void Tick();
    // Finds unit 0, says so, opens it and sets its line; once, at start-up.
    void ConnectDevice();
    // START: the run's start steps and its first request; returns at once. False when no run could
    // start (unattended without a unit): Ended has been emitted with the reason.
    bool Start();
    // STOP: the run ends at its next loop test (a reply or a save pause in progress runs to its end).
    void Stop();
    // A stop signal: STOP, except that a reply wait or a save pause in progress ends now. A reply
    // already queued is still taken; a request still unanswered is noted in the sinks as cut short.
    void StopNow();
    bool Running() const { return running_; }
    RunPhase Phase() const { return phase_; }
    // Whether a unit that is gone is waited for, from the next wait on.
    void SetReconnect(bool on) { seams_.reconnect = on; }
    const RunOutcome& LastOutcome() const { return lastOutcome_; }

    // The chart's own state (the grid drawn, the digital lines' last levels).
    ChartPainter& Painter() { return painter_; }

    // The run's steps, each as the run takes it.
    std::optional<int> FindReplyFrame();
    void PlotReply();
    void ClearChart();
    void ResetSweep();
    void WriteRunHeader();

    QDateTime Now() const;
    // When PlotReply read the clock for the sample it drew last.
    const QDateTime& PlottedAt() const { return plottedAt_; }
    // What did not reach the sinks since the program started: each one's module and its words; empty
    // when everything did.
    std::vector<std::pair<const char*, QString>> Shortfalls() const;

signals:
    // The run has ended, as LastOutcome() says.
    void Ended(const acquisition::RunOutcome& outcome);

private:
    void SetPhase(RunPhase phase);
    // The loop test, then the blank status line and the request.
    void BeginSample();
    // The unit may have answered (its readiness, or the tick): a reply is taken, or the wait goes on.
    void LookAtReply();
    void HandleReply();
    void ReplyTimedOut();
    // The reply wait ended by a stop signal: a reply already queued is taken, otherwise the request
    // is given up and the run ends.
    void CutReplyShort();
    void BeginSweepEnd();
    void FinishSave();
    void ContinueSweepEnd();
    void AwaitInterval();
    void EndInterval();
    void EndNormally();
    void EndWith(RunEnd end, const QString& reason, const char* module = "acquisition");
    void Finish(RunOutcome outcome);
    // Runs `step` from the event loop if the run still waits in `phase` then; `onTick` when the tick
    // itself puts it off, so that a request it sends goes out on the tick.
    void Later(RunPhase phase, void (Session::*step)(), bool onTick = false);
    void LoadInterval();
    // Before a run: whether one may start, reopening the unit when it went away. Unattended and
    // without a unit it may not, and says why.
    report::Done UnitReadyForRun();
    // Looks for the unit once a second until it is open or STOP; `lostDuringRun` when it vanished
    // mid-run (the sinks get "unit back"), not when none was open at START.
    void AwaitUnit(bool lostDuringRun);
    void LookForUnit();
    void PrepareDevice();
    void FeedNote(SampleNote note);
    QString UnitName() const;
    // A crossing of a channel's limits is said in the log (standard error when unattended) with a beep.
    void SayCrossings(const channels::Crossings& crossings);
    // What the status line says after a sample: a channel outside its limits, the record stopped, or
    // the reading text.
    QString SampleStatus() const;

    RunState state_;
    SessionView& view_;
    RunLog& log_;
    RunChart& chart_;
    device::Unit& unit_;
    device::ReadyWatch& watch_;
    SessionSeams seams_;
    LogSink logSink_;
    ChartPainter painter_;
    SampleFeed feed_;
    DecodedReply reply_;     // the last reply read, decoded once
    RunSettings sampleSettings_; // the settings as the last sample read them
    bool replyRead_ = false; // the reply in RxBuffer was read whole, and goes into the log
    QDateTime plottedAt_;
    bool running_ = false;
    QString stoppedStatus_; // the status of the last sink left out of this run, if it has one
    RunPhase phase_ = RunPhase::Idle;
    unsigned runNumber_ = 0;        // which run a step put off for later belongs to
    bool onTick_ = false;           // the step running now was put off by the tick
    bool awaitingLostUnit_ = false;
    unsigned framelessInARow_ = 0;
    bool unitOpenForRun_ = false;
    QString unitProblem_;    // why the unit could not be opened again at START
    RunOutcome lastOutcome_;
};

} // namespace acquisition
