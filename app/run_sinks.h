// The sinks every run of the program feeds, built from the command line: the
// run record (a file per START, or rows on standard output), the progress line
// of an unattended run on a terminal, the MQTT publisher, the --on-limit command
// and, in the window, the desktop's notices of crossings. The window and a
// headless run build them the same way.
#pragma once

#include "acquisition/decoded_sample.h"
#include "app/command_line.h"
#include "report/failure.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace alarms {
class LimitCommand;
}
namespace publish {
class MqttPublisher;
}
namespace record {
class RunRecordFile;
}

namespace app {

struct RunSinks {
    std::vector<std::unique_ptr<acquisition::SampleSink>> owned;
    record::RunRecordFile* recordFile = nullptr; // when records go to files
    publish::MqttPublisher* publisher = nullptr; // when samples are published
    alarms::LimitCommand* limitCommand = nullptr; // with --on-limit

    // How long the end of an unattended run gives the --on-limit commands still to run.
    static constexpr std::chrono::milliseconds kCommandsAtExit{10'000};

    std::vector<acquisition::SampleSink*> All() const;
    // Before the program ends: the publisher waits a while for its queue to empty and says what did
    // not get out; the --on-limit commands that did not run are said, one still running is stopped.
    // Their shortfalls are known after this.
    void Finish();
    // The same at the end of an unattended run, once the --on-limit commands still to run have run
    // (for kCommandsAtExit at most, the event loop turning meanwhile); then `then`. Returns at once.
    void FinishThen(std::function<void()> then);
};

// An unattended run refuses to start (exit 3) when its record could not be made: the folder is not
// there, not a folder or takes no file.
report::Done CheckBeforeStart(const Options& options);

// `sweepsSaved` counts the sweeps saved so far, two files each (for the progress line); `showStatus` puts a
// publisher's notice on the status line (on the GUI thread; null without a window); `desktopNotices`: the
// window's run, which notifies the desktop of crossings. Fails when the publishing URL cannot be set up.
report::Result<RunSinks> MakeRunSinks(const Options& options, std::function<int()> sweepsSaved,
                                      std::function<void(const QString& status)> showStatus,
                                      bool desktopNotices = false);

} // namespace app
