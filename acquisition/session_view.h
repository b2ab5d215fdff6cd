// What a run shows and asks of whoever watches it: the window (TForm1), or a
// headless run with no window at all. The session knows no widget: it tells
// its status, beeps and run state through SessionView, and its log and chart
// are sinks of the sample feed that write to a RunLog and a RunChart.
#pragma once

#include "channels/channel.h"
#include "chart/tcolor.h"
#include "report/failure.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QRegion>
#include <QString>

namespace acquisition {

// What the run waits for now.
enum class RunPhase {
    Idle,             // no run
    AwaitingReply,    // a request is out: the unit's readiness or the 10-tick countdown
    AwaitingInterval, // the sampling time between two requests
    SavePause,        // the pause between a saved sweep's picture and its log
    AwaitingUnit,     // the unit went away (or was not there at START) and is looked for once a second
};

// The settings as the run reads them, at the moment it reads them: a change
// made during a run applies from the next point that reads it.
struct RunSettings {
    bool ad0On = true;        // AD0 charted and recorded (CheckBox2)
    bool ad1On = true;        // AD1 (CheckBox3)
    bool lineMode = false;    // line or dot marks (CheckBox4)
    bool continuous = true;   // continuous measurement (CheckBox5)
    bool autoSave = false;    // sweep files at each sweep end (CheckBox6)
    bool autoPrint = false;   // the chart printed at each sweep end (CheckBox7)
    TColor ad0Color = clGreen;
    TColor ad1Color = clOlive;
    QString samplingText;     // the sampling time as shown (Edit2)
    QString baseName;         // the sweep files' base name (Edit3)
    // The channels' names, units, scaling and limits: read at START, for the whole run.
    channels::Channels channels = channels::DefaultChannels();
};

// The run's log, Memo1: one reply or text a line, saved whole at a sweep end.
class RunLog {
public:
    virtual ~RunLog() = default;
    virtual void Clear() = 0;
    virtual void SetSingleLine(const QByteArray& bytes) = 0;
    // Stored byte for byte; the caller cuts the reply at its first zero.
    virtual void AppendReply(const QByteArray& reply) = 0;
    virtual void AppendText(const QString& line) = 0;
    // The log as a sweep's log file holds it.
    virtual QByteArray FileBytes() const = 0;
};

// The chart the run draws on: the picture, the part of it a step changed, and its auto-print.
class RunChart {
public:
    virtual ~RunChart() = default;
    // Null where no chart is kept (a headless run that saves and prints no chart).
    virtual QImage* Chart() = 0;
    virtual void ChartChanged(const QRegion& changed) = 0;
    // The auto-print at a sweep end.
    virtual report::Done PrintChart() = 0;
};

class SessionView {
public:
    virtual ~SessionView() = default;

    // The settings as the run reads them now.
    virtual RunSettings Settings() const = 0;
    // The status line; `text` is the system's own (Japanese) text, which the view may translate.
    virtual void ShowStatus(const QString& text) = 0;
    virtual void Beep() = 0;
    // A run began (true) or ended (false): START is disabled for the whole run.
    virtual void RunStateChanged(bool running) = 0;
    // What the run waits for from now on.
    virtual void PhaseChanged(RunPhase) {}
};

} // namespace acquisition
