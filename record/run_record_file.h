// The run record: one CSV file per START, <base>-<YYYYMMDD>-<HHMMSS>.csv in the
// folder of the sweep files (or the one given with --record), with -2, -3, ...
// added when the name is taken. The file is always a new one, and its name
// appears only with the header row inside: the header is written to a file
// without a name (or, where the file system cannot make one, to a temporary of
// the logger's own, "<record name>.tmp-XXXXXX"), reaches the disk, and is then
// linked under the record's name (renamed to it without replacing, where the file
// system knows no links: vfat, exFAT), which never replaces anything standing
// there, a link included. Only where neither works (some FUSE file systems) is the
// record created under its name at once, and its header written straight after.
//
// The record is locked (flock, exclusive) from its creation until the run ends,
// so that FileDelite, in this logger or another, leaves a record being written
// alone. Every row goes to the kernel in one write(2) as soon as it is taken, so
// a killed program loses at most the row in flight; the file is synced at each
// sweep end and at the run's end. Writes and syncs go through storage's save
// calls. When a write or a sync fails the record stops: the sink answers with the
// reason (the feed reports it once), cuts off a torn last row, and keeps every
// whole row already written.
#pragma once

#include "acquisition/decoded_sample.h"

#include <QString>
#include <string>

namespace record {

// <base>-<YYYYMMDD>-<HHMMSS>.csv, or <base>-<YYYYMMDD>-<HHMMSS>-<copy>.csv from copy 2 on.
QString RunRecordName(const QString& baseName, const QDateTime& started, int copy = 1);

// Whether a record could be created in `folder` now (empty: the current folder): one is made there
// as a run's would be, under a name of its own, and removed; a folder with less than 1 MiB free is
// refused. Leaves nothing behind. For an unattended run to refuse to start.
report::Done CheckRecordFolder(const QString& folder);

class RunRecordFile : public acquisition::SampleSink {
public:
    // An empty folder means the current folder at each START, where the sweep files go.
    explicit RunRecordFile(QString folder = QString());
    ~RunRecordFile() override;
    RunRecordFile(const RunRecordFile&) = delete;
    RunRecordFile& operator=(const RunRecordFile&) = delete;

    const char* Module() const override;
    QString StoppedStatus() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    report::Done SweepEnded() override;
    report::Done RunEnded() override;
    // Every record that could not be made or stopped early since the program started, with the
    // rows it kept and why.
    QString Shortfall() const override { return shortfall_; }

    // The record of the current or last run (empty before the first), and its rows so far.
    QString Path() const { return path_; }
    long long Rows() const { return rows_; }

private:
    report::Done Create(const QString& folder, const acquisition::RunInfo& run);
    report::Done Write(const std::string& bytes);
    report::Done Sync();
    report::Failure Stop(const QString& what, int error);
    void Close();

    QString folder_;
    QString path_;
    int fd_ = -1;
    bool created_ = false; // the record has its name
    long long rows_ = 0;
    long long size_ = 0; // bytes of whole rows in the file
    std::string row_;
    channels::Channels channels_ = channels::DefaultChannels(); // this run's
    QString shortfall_;
};

} // namespace record
