// --on-limit COMMAND: a program the user names, run at each crossing of a
// channel's limits with five arguments appended: the channel ("ad0"), the
// crossing ("high", "low", "back"), the value and the unit ("412", "°C"), and
// the time as the record writes it ("2026-12-07T09:30:47.123+09:00").
//
// The command is split into a program and its arguments as a shell splits words
// (SplitCommandWords), and run directly, never through a shell. Crossings wait in
// a queue and their commands run one at a time, each once the one before has
// ended; the run never waits on them. A crossing that has to wait behind a
// running command is said when the waiting begins (once until the queue is empty
// again). A command that cannot start, ends with a status other than 0 or is
// killed is said through the reporter (module "limits") with what it was and why.
// A command still running after its time limit is ended: its process group gets
// SIGTERM, and SIGKILL kKillAfter later if it is still there; that is said at
// once, and the next command runs once it has gone. The queue holds at most
// kMaxWaiting crossings; later ones are dropped, which is said when it starts.
// Whatever did not run, or failed, is the sink's shortfall.
//
// Each command starts in a session of its own (so that its whole process group
// can be ended), with standard input from /dev/null, its standard output going
// where its errors go (never to standard output, which may carry the record:
// --record -), and no other descriptor of the program: every one above 2 is
// closed as the program starts.
#pragma once

#include "acquisition/decoded_sample.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>

namespace alarms {

class LimitCommand : public QObject, public acquisition::SampleSink {
    Q_OBJECT

public:
    static constexpr std::size_t kMaxWaiting = 100;
    static constexpr std::chrono::milliseconds kDefaultLimit{60'000};
    // From SIGTERM to SIGKILL, for a command that does not end at SIGTERM.
    static constexpr std::chrono::milliseconds kKillAfter{5'000};

    // `command` as --on-limit gives it; it holds a program (the command line has checked that).
    // `limit`: how long one command may run.
    explicit LimitCommand(const QString& command, std::chrono::milliseconds limit = kDefaultLimit,
                          std::size_t maxWaiting = kMaxWaiting, QObject* parent = nullptr);
    ~LimitCommand() override;

    const char* Module() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    QString Shortfall() const override;

    // Nothing running and nothing waiting.
    bool Idle() const { return !running_ && waiting_.empty(); }

    // The program ends: gives the commands still to run up to min(`wait`, the limit) to do so, without
    // ever blocking (the event loop runs them on); then says the crossings whose command did not run,
    // ends one still running as at its limit, and calls `then` once it has gone.
    void FinishWithin(std::chrono::milliseconds wait, std::function<void()> then);
    // The program ends now, with no event loop to come: says the crossings whose command never ran,
    // and kills one still running. Later crossings are not run, and counted.
    void Finish();

signals:
    // A command has ended: `ok` when it ran and ended with status 0.
    void CommandEnded(const QStringList& arguments, bool ok);

private:
    struct Waiting {
        QStringList arguments; // the command's own, then the five of the crossing
        QString crossing;      // "ad0 high", for what is said
    };
    void Queue(int channel, channels::Crossing crossing, int hundredths, const QDateTime& time);
    void StartNext();
    void Ended(bool ok, const QString& why);
    void Fail(const QString& crossing, const QStringList& arguments, const QString& why);
    // Ends the running command: SIGTERM to its process group now, SIGKILL kKillAfter later.
    void Terminate();
    void Signal(int signal);
    // The running command's process left to end on its own, nothing waiting for it any more.
    void LetGo();
    QString Shown(const QStringList& arguments) const;
    // The end: what waits will not run; one running is ended.
    void EndNow();
    void SayNotRun();
    void Done();

    QString program_;
    QStringList arguments_; // the command's own
    std::chrono::milliseconds limit_;
    std::size_t maxWaiting_;
    channels::Channels channels_ = channels::DefaultChannels(); // this run's
    std::deque<Waiting> waiting_;
    QPointer<QProcess> running_;
    qint64 pid_ = 0; // running_'s, its process group's too
    Waiting current_;
    bool ending_ = false;       // the running command has been sent SIGTERM, and why said
    bool finished_ = false;     // no command runs any more
    bool saidWaiting_ = false;  // since the queue was last empty
    bool saidDropping_ = false; // in this run
    long long failed_ = 0;      // since the program started
    long long dropped_ = 0;
    long long notRun_ = 0; // left at the end
    QTimer limitTimer_;
    QTimer killTimer_;
    QTimer finishWait_;
    std::function<void()> then_;
};

} // namespace alarms
