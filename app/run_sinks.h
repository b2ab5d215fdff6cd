// The sinks every run of the program feeds, built from the command line: the
// run record (a file per START, or rows on standard output), the progress line
// of an unattended run on a terminal, the MQTT publisher, the --on-limit command
// and, in the window, the desktop's notices of crossings. The window and a
// headless run build them the same way.
#pragma once

#include "acquisition/decoded_sample.h"
#include "app/command_line.h"
#include "report/failure.h"

#include <QObject>
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
class RowStream;
class RunRecordFile;
}

namespace app {

struct RunSinks {
    std::vector<std::unique_ptr<acquisition::SampleSink>> owned;
    record::RunRecordFile* recordFile = nullptr; // when records go to files
    record::RowStream* rowStream = nullptr;      // with --record -
    publish::MqttPublisher* publisher = nullptr; // when samples are published
    alarms::LimitCommand* limitCommand = nullptr; // with --on-limit

    // How long the end of the program gives the --on-limit commands still to run, at most (and no
    // longer than one command's limit).
    static constexpr std::chrono::milliseconds kCommandsAtExit{10'000};

    std::vector<acquisition::SampleSink*> All() const;
    // Before the program ends, when no event loop is left: the publisher waits a while for its queue
    // to empty and says what did not get out; the rows still waiting for standard output wait for its
    // reader; the --on-limit commands that did not run are said, one still running is killed. Their
    // shortfalls are known after this.
    void Finish();
    // The same as the program ends, without blocking and side by side: the --on-limit commands still
    // to run run for kCommandsAtExit at most, then one still running is ended (SIGTERM, then
    // SIGKILL); the publisher empties its queue on a thread of its own; the rows go out to standard
    // output as its reader takes them; the event loop turns meanwhile. Then `then`, once all three
    // are over. Returns at once; a second call adds its `then`.
    void FinishThen(std::function<void()> then);

private:
    std::unique_ptr<QObject> finishing_; // FinishThen's, once called
    int left_ = 0;                       // of its ends still under way
    std::vector<std::function<void()>> thens_;
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
