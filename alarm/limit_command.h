// --on-limit COMMAND: a program the user names, run at each crossing of a
// channel's limits with five arguments appended: the channel ("ad0"), the
// crossing ("high", "low", "back"), the value and the unit ("412", "°C"), and
// the time as the record writes it ("2026-12-07T09:30:47.123+09:00").
//
// The command is split into a program and its arguments as QProcess::splitCommand
// splits it, and run directly, never through a shell. Crossings wait in a queue
// and their commands run one at a time, each once the one before has ended; the
// run never waits on them. A command that cannot start, ends with a status other
// than 0 or is killed is said through the reporter (module "limits") with what it
// was and why. The queue holds at most kMaxWaiting crossings; later ones are
// dropped, which is said when it starts. Whatever did not run, or failed, is the
// sink's shortfall.
//
// The program's output goes to standard error, never to standard output, which
// may carry the record (--record -); it reads nothing.
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

    // `command` as --on-limit gives it; it holds a program (the command line has checked that).
    explicit LimitCommand(const QString& command, std::size_t maxWaiting = kMaxWaiting,
                          QObject* parent = nullptr);
    ~LimitCommand() override;

    const char* Module() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    QString Shortfall() const override;

    // Nothing running and nothing waiting.
    bool Idle() const { return !running_ && waiting_.empty(); }

    // The program ends: gives the commands still to run up to `wait` to do so, without ever
    // blocking (the event loop runs them on), then says what is left (Finish) and calls `then`.
    void FinishWithin(std::chrono::milliseconds wait, std::function<void()> then);
    // The program ends now: says the crossings whose command never ran, and stops one still running.
    // Later crossings are not run, and counted.
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
    QString Shown(const QStringList& arguments) const;
    void Drained();

    QString program_;
    QStringList arguments_; // the command's own
    std::size_t maxWaiting_;
    channels::Channels channels_ = channels::DefaultChannels(); // this run's
    std::deque<Waiting> waiting_;
    QPointer<QProcess> running_;
    Waiting current_;
    bool finished_ = false;
    bool saidDropping_ = false; // in this run
    long long failed_ = 0;      // since the program started
    long long dropped_ = 0;
    long long notRun_ = 0; // left at the end
    QTimer finishWait_;
    std::function<void()> then_;
};

} // namespace alarms
