// One reporter for every problem a person should read about: the run record
// that stopped, a parameter file that cannot be read, a unit that went away, a
// broker that is away. Each report names the module it comes from. Where it
// goes is set once by the program: in the window, the log pane (and standard
// error too when unattended); without a window, standard error as
// "tavrin: <module>: <text>".
#pragma once

#include <QString>
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

// Said by any thread; the output is called on the reporting thread, one report at a time.
void Report(const char* module, const QString& text);

// Where reports go from now on; returns where they went before. A null output
// means standard error.
Output SetReportOutput(Output output);

// "tavrin: <module>: <text>" and a line end on standard error, in one write.
void WriteStandardError(const char* module, const QString& text);

} // namespace report
