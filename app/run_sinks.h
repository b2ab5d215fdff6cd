// The sinks every run of the program feeds, built from the command line: the
// run record (a file per START, or rows on standard output), the progress line
// of an unattended run on a terminal, and the MQTT publisher. The window and a
// headless run build them the same way.
#pragma once

#include "acquisition/decoded_sample.h"
#include "app/command_line.h"
#include "report/failure.h"

#include <functional>
#include <memory>
#include <vector>

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

    std::vector<acquisition::SampleSink*> All() const;
    // Before the program ends: the publisher waits a while for its queue to empty and says what did
    // not get out. Their shortfalls are known after this.
    void Finish();
};

// An unattended run refuses to start (exit 3) when its record could not be made: the folder is not
// there, not a folder or takes no file.
report::Done CheckBeforeStart(const Options& options);

// `sweepsSaved` counts the sweeps saved so far, two files each (for the progress line); `showStatus` puts a
// publisher's notice on the status line (on the GUI thread; null without a window). Fails when the
// publishing URL cannot be set up.
report::Result<RunSinks> MakeRunSinks(const Options& options, std::function<int()> sweepsSaved,
                                      std::function<void(const QString& status)> showStatus);

} // namespace app
