// SIGINT and SIGTERM as a Qt signal on the GUI thread, so that they can end a
// run as STOP does. The handler only writes a byte to a pipe; a socket notifier
// on the pipe's other end delivers it inside any message pump, the run's too.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace app {

class StopSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers for SIGINT and SIGTERM; the old ones come back on destruction.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void Received(int signalNumber);

private:
    void Drain();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace app
