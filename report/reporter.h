// One reporter for every problem a person should read about: the run record
// that stopped, a parameter file that cannot be read, a unit that went away, a
// broker that is away. Each report names the module it comes from. Where it
// goes is set once by the program: in the window, the log pane (and standard
// error too when unattended); without a window, standard error as
// "tavrin: <module>: <text>".
//
// The same report again within a second of being said is counted, not said:
// when the second is over, it is said once more with "(repeated N times)". So
// a burst of one message is a line a second, in the log pane as on standard
// error.
//
// Standard error is never waited on: its lines go into a bounded buffer that a
// writer thread of its own empties, the only thread that ever blocks on it. A
// line that does not fit is counted, not written, and the count is said once
// the stream has taken everything before it: "N messages to standard error
// were lost while it was not being read".
#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <functional>

namespace report {

// The modules that report, as their prefix reads.
namespace module {
inline constexpr const char* kDevice = "device";
inline constexpr const char* kAcquisition = "acquisition";
inline constexpr const char* kRecord = "record";
inline constexpr const char* kPublish = "publish";
inline constexpr const char* kSettings = "settings";
inline constexpr const char* kOutput = "output";
inline constexpr const char* kTrend = "trend";
inline constexpr const char* kLimits = "limits";
inline constexpr const char* kApp = "app";
} // namespace module

using Output = std::function<void(const char* module, const QString& text)>;

// Said by any thread; the output is called on the reporting thread, one report at a time. A repeat
// within a second of the same module's same text is counted instead (above).
void Report(const char* module, const QString& text);

// Where reports go from now on; returns where they went before. A null output
// means standard error. The repeats counted until then are said where they went.
Output SetReportOutput(Output output);

// "tavrin: <module>: <text>" and a line end on standard error, whole, never interleaved with another
// line; queued, so that it returns at once whether or not anyone reads standard error.
void WriteStandardError(const char* module, const QString& text);

// `line` as it is, with a line end, on standard error by the same queue: for Qt's own messages.
void WriteStandardErrorLine(const QString& line);

// The repeats counted whose second is over are said now (all of them with `all`, at the program's
// end). A timer on the application's thread calls it while repeats are counted; tests call it.
void SayRepeats(bool all = false);

// The clock of the repeat counting, in milliseconds that only go forward; returns the one before.
// Tests drive it; a null clock is the steady clock.
using Clock = std::function<qint64()>;
Clock SetReportClock(Clock clock);

// Waits at most `timeoutMs` for standard error to take what is queued for it; whether it did.
bool FlushStandardError(int timeoutMs);

// At the program's end: the repeats still counted are said, and standard error gets at most
// `timeoutMs` to take what waits (the count of lines lost with it, when it can).
void FinishStandardError(int timeoutMs = 1500);

// How many bytes may wait for standard error (64 KiB); returns the size before. For tests.
std::size_t SetStandardErrorCapacity(std::size_t bytes);

} // namespace report
