// One reply of a run, decoded once and handed with its raw bytes to every
// consumer of samples: the run's log and chart, the run record (CSV), the
// standard-output stream, the MQTT publisher, the trend window. Consumers know
// nothing of widgets; a slow or failing one never holds up the sample loop.
#pragma once

#include "channels/channel.h"
#include "channels/limit_watch.h"
#include "report/failure.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace acquisition {

// What a row stands for besides a plain sample.
enum class SampleNote {
    None,     // a sample with a frame
    NoFrame,  // a reply without a frame: no values
    NoReply,  // the time-out that ends the run
    UnitLost, // the unit vanished during the run
    UnitBack, // the same unit was reopened and the run goes on
    CutShort, // a request whose reply was not waited for: a stop signal ended the run
};

// A reading under both of its rules.
struct Reading {
    std::uint16_t chart = 0;         // the chart's rule, in hundredths of a volt
    std::optional<int> hundredths;   // the record's rule: three decimal digits, or none
};

// A reply as its frame decodes.
struct DecodedReply {
    std::optional<int> marker; // the frame's first byte in the reply buffer; none: no frame
    Reading ad0;
    Reading ad1;
    std::uint8_t status = 0;   // the status character; its low four bits are the digital lines
};

struct DecodedSample {
    QDateTime time;                // local time of the reply, with its UTC offset
    std::int64_t elapsedMs = 0;    // since START, from a monotonic clock
    int sweep = 0;                 // the sweep's number within the run, from 0
    int x = 0;                     // column of the sample's analog marks, 0 to 600
    std::optional<int> ad0;        // hundredths of a volt; empty when off or not three digits
    std::optional<int> ad1;
    std::optional<std::uint8_t> levels; // status bits HH 0x08, HL 0x04, LH 0x02, LL 0x01
    SampleNote note = SampleNote::None;
    std::optional<QByteArray> reply; // the reply as read, to its first zero (maybe empty); none for a note, or a read that failed
    DecodedReply frame;            // the reply decoded: what the chart draws (no marker for a note)
    // Each channel's crossing of its limits at this sample, if it makes one (a sample row only).
    channels::Crossings crossings;
};

// What every consumer learns when START begins a run.
struct RunInfo {
    QDateTime started;   // local time of START
    QString baseName;    // the sweep files' base name (Edit3)
    QString unit;        // the unit's serial number, the port's name, or "sim"
    channels::Channels channels = channels::DefaultChannels(); // names, units, scaling and limits, for the whole run
};

// A sink that fails says why; the feed reports that once, under the sink's
// module, and leaves the sink out until the next START.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // The module its reports go under: "record", "publish", ...
    virtual const char* Module() const = 0;
    virtual report::Done RunStarted(const RunInfo& run) = 0;
    virtual report::Done Take(const DecodedSample& sample) = 0;
    virtual report::Done SweepEnded() { return {}; }
    virtual report::Done RunEnded() { return {}; }
    // The status line's text while the sink is left out of a run after failing: a status text
    // (QT_TRANSLATE_NOOP("Status", …)) naming the sink, shown in the place of the reading text; the reason
    // goes to the log pane. Empty: a failure that needs no word on the status line.
    virtual QString StoppedStatus() const { return {}; }
    // What did not reach the sink's destination since the program started, in
    // plain words; empty when everything did. An unattended run that leaves a
    // shortfall ends with its own exit status.
    virtual QString Shortfall() const { return {}; }
};

} // namespace acquisition
