// One paint pass per sample. While the run handles a sample, the status line, the log line and the
// chart's columns each ask for a repaint at a different moment, and every wait in between would paint
// and send to the display what had changed so far. Holding the window's repaint requests from the
// start of a sample until the run waits for the next one sends them all in one pass.
//
// Only painting waits: input, the tick and everything else are delivered as before. Whoever holds must
// release within a tick; the tick itself releases, so the window never goes unpainted for longer.
#pragma once

#include <QObject>

class QWidget;

class RepaintBatch : public QObject {
    Q_OBJECT

public:
    explicit RepaintBatch(QWidget* window);

    // From now on, the window's repaint requests wait.
    void Hold();
    // What waited is painted at the next pass of the event loop, all together.
    void Release();
    bool Holding() const { return holding_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    bool holding_ = false;
    bool held_ = false;
};
