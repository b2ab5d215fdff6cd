// SIGINT, SIGTERM and SIGHUP (a closed terminal or ssh session) end a run as
// STOP does, with its record complete, and then the program. The handlers are
// installed first thing in main, before anything else can be left half done;
// each only writes a byte to a pipe. Once the program has its event loop, a
// StopSignals watches the pipe and delivers each signal inside any message
// pump, the run's too.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace app {

// Installs the handlers, except for a signal the program was started with ignored (nohup); the first
// call only does anything.
void InstallStopSignalHandlers();

// Whether a stop signal has arrived and not been delivered yet (before there was an event loop, say).
bool StopSignalPending();

class StopSignals : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);

signals:
    void Received(int signalNumber);

private:
    void Drain();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace app
