// The run record in-process: what a reply decodes to, row by row; names that
// never take an existing file, nor show one without its header; the syncs; a
// write that fails; the rows on a pipe whose reader is slow or gone; the
// progress line under a report.
#include "acquisition/reply_decoding.h"
#include "acquisition/sample_feed.h"
#include "record/csv_row.h"
#include "record/progress_line.h"
#include "record/row_stream.h"
#include "record/run_record_file.h"
#include "report/reporter.h"
#include "storage/replace_file.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QDateTime kReplyTime(QDate(2026, 12, 7), QTime(9, 30, 47, 123), QTimeZone(9 * 3600));
const QDateTime kStart(QDate(2026, 12, 7), QTime(9, 30, 40));

device::RxBufferBytes Reply(const QByteArray& text) {
    device::RxBufferBytes rx{};
    std::copy(text.begin(), text.end(), rx.begin());
    return rx;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// Whether a lock on the file can be had now, as FileDelite asks.
bool Unlocked(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool unlocked = fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return unlocked;
}

acquisition::DecodedSample Row(int n) {
    acquisition::DecodedSample sample;
    sample.time = kReplyTime;
    sample.elapsedMs = 100LL * n;
    sample.x = n % 601;
    sample.ad0 = n % 1000;
    return sample;
}

// AD0 in `unit` on `scale` within `limits0` (LOW:HIGH, either unset), AD1 in volts within `limits1`.
channels::Channels Settings(const QString& unit, channels::Scale scale, channels::Limits limits0 = {},
                            channels::Limits limits1 = {}) {
    channels::Channels settings = channels::DefaultChannels();
    settings[0].unit = unit;
    settings[0].scale = scale;
    settings[0].limits = limits0;
    settings[1].limits = limits1;
    return settings;
}

// The reader of a pipe: a shell that waits for a byte on descriptor 3 (sent by Go), then for a
// second, then copies the pipe to a file.
struct SlowReader {
    int pipe[2] = {-1, -1};
    int gate[2] = {-1, -1};
    pid_t pid = -1;
    SlowReader(const QString& script) {
        if (::pipe2(pipe, O_CLOEXEC) != 0 || ::pipe2(gate, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[0], 0);
        posix_spawn_file_actions_adddup2(&actions, gate[0], 3);
        const QByteArray command = script.toLocal8Bit();
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command.constData()),
                        nullptr};
        posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[0]);
        ::close(gate[0]);
    }
    void Go() {
        const char byte = 'g';
        static_cast<void>(::write(gate[1], &byte, 1));
        ::close(gate[1]);
    }
    void Finish() {
        ::close(pipe[1]);
        ::waitpid(pid, nullptr, 0);
    }
};

} // namespace

Q_DECLARE_METATYPE(channels::Channels)

class RecordRowsTest : public QObject {
    Q_OBJECT

    report::Output reports_; // where reports go outside this test

private slots:
    void initTestCase() { reports_ = report::SetReportOutput(report::SetReportOutput({})); }
    // A check that failed half-way leaves no seam pointing at its own, gone, locals.
    void cleanup() {
        storage::SetSaveCalls(storage::SystemSaveCalls());
        report::SetReportOutput(reports_);
    }

    void decodeRules_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ad0On");
        QTest::addColumn<bool>("ad1On");
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<channels::Channels>("settings");
        const QByteArray t = "2026-12-07T09:30:47.123+09:00,83.045,2,17,";
        const QDateTime west(QDate(2026, 1, 2), QTime(23, 59, 59, 5), QTimeZone(-(3 * 3600 + 30 * 60)));
        const channels::Channels volts = channels::DefaultChannels();
        QTest::newRow("west of UTC") << QByteArray("AD0=307 V, AD1=123?\r\n") << true << true
                                     << QByteArray("2026-01-02T23:59:59.005-03:30,83.045,2,17,3.07,1.23,1,1,1,1,,3.07,V,1.23,V\r\n")
                                     << west << volts;
        QTest::newRow("a sample") << QByteArray("AD0=307 V, AD1=123?\r\n") << true << true << t + "3.07,1.23,1,1,1,1,,3.07,V,1.23,V\r\n" << kReplyTime << volts;
        QTest::newRow("status 9") << QByteArray("AD0=600 V, AD1=000" "9\r\n") << true << true << t + "6.00,0.00,1,0,0,1,,6.00,V,0.00,V\r\n" << kReplyTime << volts;
        QTest::newRow("status 0") << QByteArray("AD0=000 V, AD1=999" "0\r\n") << true << true << t + "0.00,9.99,0,0,0,0,,0.00,V,9.99,V\r\n" << kReplyTime << volts;
        QTest::newRow("status A: high bits ignored") << QByteArray("AD0=001 V, AD1=010A\r\n") << true << true
                                                     << t + "0.01,0.10,0,0,0,1,,0.01,V,0.10,V\r\n" << kReplyTime << volts;
        QTest::newRow("noise before the marker") << QByteArray("..\r\nAD0=250 V, AD1=301" "5\r\n") << true << true
                                                 << t + "2.50,3.01,0,1,0,1,,2.50,V,3.01,V\r\n" << kReplyTime << volts;
        QTest::newRow("AD0 not digits") << QByteArray("AD0=1:0 V, AD1=123" "3\r\n") << true << true
                                        << t + ",1.23,0,0,1,1,,,,1.23,V\r\n" << kReplyTime << volts;
        QTest::newRow("AD1 with a blank") << QByteArray("AD0=123 V, AD1= 23" "3\r\n") << true << true
                                          << t + "1.23,,0,0,1,1,,1.23,V,,\r\n" << kReplyTime << volts;
        QTest::newRow("AD0 box off") << QByteArray("AD0=307 V, AD1=123" "3\r\n") << false << true << t + ",1.23,0,0,1,1,,,,1.23,V\r\n" << kReplyTime << volts;
        QTest::newRow("both boxes off") << QByteArray("AD0=307 V, AD1=123" "3\r\n") << false << false
                                        << t + ",,0,0,1,1,,,,,\r\n" << kReplyTime << volts;
        QTest::newRow("no marker") << QByteArray("#D0=307 V, #D1=123" "3\r\n") << true << true << t + ",,,,,,no frame,,,,\r\n" << kReplyTime << volts;
        QTest::newRow("marker past 49") << QByteArray(50, '.') + "AD0=307 V, AD1=123" "3\r\n" << true << true
                                        << t + ",,,,,,no frame,,,,\r\n" << kReplyTime << volts;

        // In the channels' units: one hundredth of a volt is one step of the last digit.
        const QByteArray reply = "AD0=307 V, AD1=123?\r\n";
        const QByteArray v = t + "3.07,1.23,1,1,1,1,";
        QTest::newRow("0-5 V as 0-500 °C: no decimals") << reply << true << true << v + ",307,°C,1.23,V\r\n"
                                                        << kReplyTime << Settings("°C", {0, 0, 5, 500});
        QTest::newRow("1 V as 0.5: three decimals") << reply << true << true << v + ",1.535,bar,1.23,V\r\n"
                                                    << kReplyTime << Settings("bar", {0, 0, 1, 0.5});
        QTest::newRow("a falling line") << reply << true << true << v + ",38.6,%,1.23,V\r\n" << kReplyTime
                                        << Settings("%", {0, 100, 5, 0});
        QTest::newRow("a unit with a comma and a quote")
            << reply << true << true << v + ",3.07,\"\"\"in\"\", H2O\",1.23,V\r\n" << kReplyTime
            << Settings("\"in\", H2O", {0, 0, 1, 1});
        // A unit a spreadsheet would take for a formula is written after an apostrophe: text follows.
        QTest::newRow("a unit beginning with =") << reply << true << true << v + ",3.07,'=A1,1.23,V\r\n"
                                                 << kReplyTime << Settings("=A1", {0, 0, 1, 1});
        QTest::newRow("a unit beginning with +") << reply << true << true << v + ",3.07,'+mA,1.23,V\r\n"
                                                 << kReplyTime << Settings("+mA", {0, 0, 1, 1});
        QTest::newRow("a unit beginning with -") << reply << true << true << v + ",3.07,'-dB,1.23,V\r\n"
                                                 << kReplyTime << Settings("-dB", {0, 0, 1, 1});
        QTest::newRow("a unit beginning with @") << reply << true << true << v + ",3.07,'@V,1.23,V\r\n"
                                                 << kReplyTime << Settings("@V", {0, 0, 1, 1});
        QTest::newRow("a unit beginning with an apostrophe")
            << reply << true << true << v + ",3.07,''ft,1.23,V\r\n"
            << kReplyTime << Settings("'ft", {0, 0, 1, 1});
        QTest::newRow("a unit with = inside") << reply << true << true << v + ",3.07,m=s,1.23,V\r\n"
                                              << kReplyTime << Settings("m=s", {0, 0, 1, 1});
        QTest::newRow("the largest values, 15 digits")
            << reply << true << true << v + ",307307307307307,V,1.23,V\r\n"
            << kReplyTime << Settings("V", {0, 0, 9.99, 999999999999999});
        QTest::newRow("no frame in °C") << QByteArray("#D0=307 V, #D1=123" "3\r\n") << true << true
                                        << t + ",,,,,,no frame,,,,\r\n" << kReplyTime << Settings("°C", {0, 0, 5, 500});
        QTest::newRow("AD0 off in °C") << reply << false << true << t + ",1.23,1,1,1,1,,,,1.23,V\r\n" << kReplyTime
                                       << Settings("°C", {0, 0, 5, 500});
        QTest::newRow("above the high limit") << reply << true << true << v + "ad0 high,307,°C,1.23,V\r\n"
                                              << kReplyTime << Settings("°C", {0, 0, 5, 500}, {100, 300, 0, {}});
        QTest::newRow("two crossings on one row")
            << reply << true << true << v + "ad0 high; ad1 low,307,°C,1.23,V\r\n" << kReplyTime
            << Settings("°C", {0, 0, 5, 500}, {100, 300, 0, {}}, {2, {}, 0, {}});
    }
    void decodeRules() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ad0On);
        QFETCH(bool, ad1On);
        QFETCH(QByteArray, row);
        QFETCH(QDateTime, time);
        QFETCH(channels::Channels, settings);
        // Sweep 2 and 83.045 s into the run, at column 17.
        struct Rows : acquisition::SampleSink {
            std::string text;
            channels::Channels channels;
            const char* Module() const override { return "test"; }
            report::Done RunStarted(const acquisition::RunInfo& run) override {
                channels = run.channels;
                return {};
            }
            report::Done Take(const acquisition::DecodedSample& s) override {
                record::AppendRow(text, s, channels);
                return {};
            }
        } rows;
        long long ms = 1'000'000;
        acquisition::SampleFeed feed({&rows}, [&ms] { return std::chrono::milliseconds(ms); }, {});
        feed.RunStarted({{}, {}, {}, settings});
        feed.SweepEnded();
        feed.SweepEnded();
        ms += 83'045;
        feed.Take(acquisition::SampleOf(acquisition::DecodeReply(Reply(reply)), {ad0On, ad1On}), time, 17);
        QCOMPARE(QByteArray::fromStdString(rows.text), row);
    }

    // Whatever stands at the record's name is left as it was; the record takes the next free name.
    void recordsNeverTakeAnExistingName_data() {
        QTest::addColumn<QStringList>("planted");   // "file:NAME", "link:NAME" (to a file elsewhere), "dangling:NAME"
        QTest::addColumn<QString>("created");
        QTest::newRow("free") << QStringList{} << "tavrin-20261207-093040.csv";
        QTest::newRow("taken") << QStringList{"file:tavrin-20261207-093040.csv"} << "tavrin-20261207-093040-2.csv";
        QTest::newRow("taken, and a link at -2")
            << QStringList{"file:tavrin-20261207-093040.csv", "link:tavrin-20261207-093040-2.csv"}
            << "tavrin-20261207-093040-3.csv";
        QTest::newRow("a dangling link") << QStringList{"dangling:tavrin-20261207-093040.csv"}
                                         << "tavrin-20261207-093040-2.csv";
    }
    void recordsNeverTakeAnExistingName() {
        QFETCH(QStringList, planted);
        QFETCH(QString, created);
        QTemporaryDir dir;
        const QByteArray before = "an earlier run's record\r\n";
        QFile target(dir.filePath("elsewhere.txt"));
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write(before) == before.size());
        target.close();
        for (const QString& p : planted) {
            const QString name = dir.filePath(p.section(':', 1));
            if (p.startsWith("file:"))
                QVERIFY(QFile::copy(target.fileName(), name));
            else
                QVERIFY(QFile::link(p.startsWith("link:") ? target.fileName() : dir.filePath("nowhere"), name));
        }
        record::RunRecordFile file(dir.path());
        QVERIFY(file.RunStarted({kStart, "tavrin", "sim"}));
        acquisition::DecodedSample sample;
        sample.time = kReplyTime;
        sample.note = acquisition::SampleNote::NoReply;
        QVERIFY(file.Take(sample));
        QVERIFY(file.RunEnded());
        QCOMPARE(file.Path(), dir.filePath(created));
        QCOMPARE(ReadAll(file.Path()),
                 QByteArray("time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note,ad0_value,ad0_unit,ad1_value,ad1_unit\r\n"
                            "2026-12-07T09:30:47.123+09:00,0.000,0,0,,,,,,,no reply,,,,\r\n"));
        QCOMPARE(ReadAll(target.fileName()), before);
        for (const QString& p : planted)
            if (p.startsWith("file:"))
                QCOMPARE(ReadAll(dir.filePath(p.section(':', 1))), before);
        QVERIFY(!QFile::exists(dir.filePath("nowhere")));
    }

    void recordAppearsWithItsHeader_data();
    void recordAppearsWithItsHeader();
    void checkRecordFolder_data();
    void checkRecordFolder();
    void rowStream_data();
    void rowStream();
    void rowStreamDrainedAtTheProgramsEnd_data();
    void rowStreamDrainedAtTheProgramsEnd();
    void progressLineUnderReports();

    // A file size limit stands in for a full disk: the record stops, says why once, keeps its
    // whole rows, and the other sinks go on.
    void aFailedWriteStopsTheRecordOnly() {
        QTemporaryDir dir;
        struct Counter : acquisition::SampleSink {
            int taken = 0;
            const char* Module() const override { return "test"; }
            report::Done RunStarted(const acquisition::RunInfo&) override { return {}; }
            report::Done Take(const acquisition::DecodedSample&) override {
                ++taken;
                return {};
            }
        } counter;
        record::RunRecordFile file(dir.path());
        QStringList reports;
        acquisition::SampleFeed feed({&file, &counter}, [] { return std::chrono::milliseconds(0); },
                                     [&reports](const acquisition::SampleSink&, const QString& m) { reports << m; });
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 1000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        feed.RunStarted({kStart, "tavrin", "sim"});
        const auto sample = acquisition::SampleOf(acquisition::DecodeReply(Reply("AD0=307 V, AD1=123?\r\n")), {true, true});
        for (int i = 0; i < 40; ++i)
            feed.Take(sample, kReplyTime, 5);
        feed.RunEnded();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(counter.taken, 40);
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.first().contains("File too large") && reports.first().contains(file.Path()),
                 qPrintable(reports.first()));
        const QByteArray kept = ReadAll(file.Path());
        // 91 bytes of header, then whole rows of 74 bytes: 12 fit under 1000 bytes, the torn 13th is cut off.
        QCOMPARE(kept.size(), 91 + 12 * 74);
        QVERIFY(kept.endsWith("3.07,1.23,1,1,1,1,,3.07,V,1.23,V\r\n"));
        QCOMPARE(file.Shortfall(), "the run record " + file.Path() + " stopped after 12 rows (File too large)");
    }
};


// The record's name shows only a file with its header, with or without unnamed files, links and
// renames that never replace on the file system (and, where there are none of them, the record is
// made under its name with its header at once); the record is synced after its header, at each sweep
// end and at the run's end, and is locked until the run ends.
void RecordRowsTest::recordAppearsWithItsHeader_data() {
    QTest::addColumn<bool>("unnamedFiles");
    QTest::addColumn<bool>("links");
    QTest::addColumn<bool>("renames");     // renameat2 with RENAME_NOREPLACE
    QTest::addColumn<QString>("atHeader"); // what the folder holds when the header is first synced
    QTest::addColumn<QStringList>("calls");
    const QStringList calls{"sync file", "sync folder", "sync file", "sync file"};
    QTest::newRow("unnamed file") << true << true << true << "" << calls;
    QTest::newRow("no unnamed files") << false << true << true << "tavrin-20261207-093040.csv.tmp-XXXXXX" << calls;
    QTest::newRow("no links either (vfat)")
        << false << false << true << "tavrin-20261207-093040.csv.tmp-XXXXXX" << calls;
    QTest::newRow("nor a rename that never replaces (FUSE)")
        << false << false << false << "tavrin-20261207-093040.csv.tmp-XXXXXX"
        << QStringList{"sync file", "sync file", "sync folder", "sync file", "sync file"};
}

void RecordRowsTest::recordAppearsWithItsHeader() {
    QFETCH(bool, unnamedFiles);
    QFETCH(bool, links);
    QFETCH(bool, renames);
    QFETCH(QString, atHeader);
    QFETCH(QStringList, calls);
    QTemporaryDir dir;
    QStringList made;
    QString folderAtHeader;
    storage::SaveCalls seam = storage::SystemSaveCalls();
    const auto fsync = seam.fsync;
    seam.fsync = [&](int fd) {
        struct stat st = {};
        ::fstat(fd, &st);
        made << (S_ISDIR(st.st_mode) ? "sync folder" : "sync file");
        if (made.size() == 1)
            folderAtHeader = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(' ');
        return fsync(fd);
    };
    if (!unnamedFiles)
        seam.openUnnamed = [](const char*, mode_t) { return errno = EOPNOTSUPP, -1; };
    if (!links)
        seam.link = [](const char*, const char*) { return errno = EPERM, -1; };
    if (!renames)
        seam.renameNoReplace = [](const char*, const char*) { return errno = EINVAL, -1; };
    storage::SetSaveCalls(seam);
    record::RunRecordFile file(dir.path());
    const bool started = bool(file.RunStarted({kStart, "tavrin", "sim"}));
    QVERIFY(started && !Unlocked(file.Path()));
    QVERIFY(file.Take(Row(1)) && file.SweepEnded() && file.Take(Row(2)) && file.RunEnded());
    storage::SetSaveCalls(storage::SystemSaveCalls());

    QCOMPARE(folderAtHeader.replace(QRegularExpression("\\.tmp-\\w{6}$"), ".tmp-XXXXXX"), atHeader);
    QCOMPARE(made, calls);
    QVERIFY(Unlocked(file.Path()));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"tavrin-20261207-093040.csv"});
    QCOMPARE(ReadAll(file.Path()), QByteArray("time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note,ad0_value,ad0_unit,ad1_value,ad1_unit\r\n"
                                              "2026-12-07T09:30:47.123+09:00,0.100,0,1,0.01,,,,,,,0.01,V,,\r\n"
                                              "2026-12-07T09:30:47.123+09:00,0.200,0,2,0.02,,,,,,,0.02,V,,\r\n"));
    QCOMPARE(file.Shortfall(), QString());
}

void RecordRowsTest::checkRecordFolder_data() {
    QTest::addColumn<QString>("folder"); // in a fresh folder holding the file "file"
    QTest::addColumn<qint64>("free");    // bytes free in the file system, -1 as it is
    QTest::addColumn<bool>("links");
    QTest::addColumn<QString>("reason"); // empty: a record can be made
    QTest::newRow("a folder") << "." << qint64(-1) << true << "";
    QTest::newRow("missing") << "none" << qint64(-1) << true << "(No such file or directory)";
    QTest::newRow("a file") << "file" << qint64(-1) << true << "(Not a directory)";
    QTest::newRow("less than 1 MiB free") << "." << qint64(1048575) << true << "(less than 1 MiB free: 1048575 bytes)";
    QTest::newRow("1 MiB free, no unnamed files nor links") << "." << qint64(1048576) << false << "";
}

void RecordRowsTest::checkRecordFolder() {
    QFETCH(QString, folder);
    QFETCH(qint64, free);
    QFETCH(bool, links);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QFile(dir.filePath("file")).open(QIODevice::WriteOnly);
    storage::SaveCalls seam = storage::SystemSaveCalls();
    if (free >= 0)
        seam.freeBytes = [free](const char*) { return (long long)free; };
    if (!links) {
        seam.openUnnamed = [](const char*, mode_t) { return errno = EOPNOTSUPP, -1; };
        seam.link = [](const char*, const char*) { return errno = EPERM, -1; };
    }
    storage::SetSaveCalls(seam);
    const report::Done checked = record::CheckRecordFolder(dir.filePath(folder));
    storage::SetSaveCalls(storage::SystemSaveCalls());
    QCOMPARE(checked ? QString() : checked.Reason().mid(checked.Reason().lastIndexOf('(')), reason);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"file"});
}

// Rows on a pipe whose reader starts late (or is gone): every row waits for it up to the limit;
// beyond, rows are dropped and counted, and that is said once. The reader gets the first rows.
void RecordRowsTest::rowStream_data() {
    QTest::addColumn<QString>("reader");
    QTest::addColumn<int>("starts");
    QTest::addColumn<int>("rows");      // in each run
    QTest::addColumn<int>("pipeBytes"); // 0: as the system makes it
    QTest::addColumn<int>("maxBacklog");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QString>("shortfall"); // a pattern; its number is the rows lost
    QTest::addColumn<int>("lostAtLeast");
    const QString late = "head -c1 <&3 >/dev/null; sleep 1; exec cat >\"$0\"";
    const int all = int(record::RowStream::kMaxBacklogBytes);
    QTest::newRow("a late reader gets every row, one header over two runs")
        << late << 2 << 1500 << 0 << all << 0 << "" << 0;
    // The pipe takes 4096 bytes, the backlog 1000, of the 12,600 bytes of rows.
    QTest::newRow("beyond the limit")
        << late << 1 << 200 << 4096 << 1000 << 1
        << "^(\\d+) rows did not reach standard output \\(its reader fell 1000 bytes behind\\)$" << 115;
    QTest::newRow("reader gone") << "exit 0" << 1 << 3 << 0 << all << 1
                                 << "^(3) rows did not reach standard output \\(its reader is gone\\)$" << 3;
}

void RecordRowsTest::rowStream() {
    QFETCH(QString, reader);
    QFETCH(int, starts);
    QFETCH(int, rows);
    QFETCH(int, pipeBytes);
    QFETCH(int, maxBacklog);
    QFETCH(int, reports);
    QFETCH(QString, shortfall);
    QFETCH(int, lostAtLeast);
    QTemporaryDir dir;
    const QString got = dir.filePath("got.csv");
    std::signal(SIGPIPE, SIG_IGN);
    SlowReader slow(reader.replace("$0", got));
    if (pipeBytes > 0)
        QVERIFY(::fcntl(slow.pipe[1], F_SETPIPE_SZ, pipeBytes) >= 0);
    if (reader.startsWith("exit"))
        ::waitpid(slow.pid, nullptr, 0);
    QStringList said;
    const report::Output before = report::SetReportOutput([&said](const char*, const QString& text) { said << text; });
    record::RowStream stream(slow.pipe[1], std::size_t(maxBacklog));
    int n = 0;
    for (int run = 0; run < starts; ++run) {
        QVERIFY(stream.RunStarted({kStart, "tavrin", "sim"}));
        for (int i = 0; i < rows; ++i)
            QVERIFY(stream.Take(Row(n++)));
        if (run == 0)
            slow.Go();
        QCOMPARE(bool(stream.RunEnded()), shortfall.isEmpty());
    }
    slow.Finish();
    report::SetReportOutput(before);
    QCOMPARE(said.size(), reports);
    const QRegularExpressionMatch match = QRegularExpression(shortfall).match(stream.Shortfall());
    QVERIFY2(shortfall.isEmpty() ? stream.Shortfall().isEmpty() : match.hasMatch(), qPrintable(stream.Shortfall()));
    const int lost = match.captured(1).toInt();
    QVERIFY(lost >= lostAtLeast);
    if (reader.startsWith("exit"))
        return;
    // Row(i) as the record spells it, written out here, not by the code under test.
    QByteArray expected = "time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note,ad0_value,ad0_unit,ad1_value,ad1_unit\r\n";
    for (int i = 0; i < n - lost; ++i)
        expected += QString::asprintf("2026-12-07T09:30:47.123+09:00,%d.%03d,0,%d,%d.%02d,,,,,,,%d.%02d,V,,\r\n",
                                      i / 10, i % 10 * 100, i % 601, i % 1000 / 100, i % 100, i % 1000 / 100,
                                      i % 100).toLatin1();
    QCOMPARE(ReadAll(got), expected);
}

// A program that ends with its run: the run's end waits for no reader; the rows still waiting go out
// afterwards as the reader takes them, in the event loop, and a reader that takes nothing is given up
// after the stall limit. Then the drain says it is over.
void RecordRowsTest::rowStreamDrainedAtTheProgramsEnd_data() {
    QTest::addColumn<bool>("readerStarts"); // once the run has ended; or only after the drain
    QTest::addColumn<int>("stallMs");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QString>("shortfall");
    QTest::newRow("a reader that starts after the run's end gets every row") << true << 30'000 << 0 << "^$";
    QTest::newRow("a reader that takes nothing: given up after the limit")
        << false << 1'000 << 1
        << "^\\d+ rows did not reach standard output \\(its reader took nothing for 1 seconds\\)$";
}

void RecordRowsTest::rowStreamDrainedAtTheProgramsEnd() {
    QFETCH(bool, readerStarts);
    QFETCH(int, stallMs);
    QFETCH(int, reports);
    QFETCH(QString, shortfall);
    QTemporaryDir dir;
    const QString got = dir.filePath("got.csv");
    std::signal(SIGPIPE, SIG_IGN);
    SlowReader slow("head -c1 <&3 >/dev/null; exec cat >\"" + got + "\"");
    QStringList said;
    const report::Output before =
        report::SetReportOutput([&said](const char*, const QString& text) { said << text; });
    record::RowStream stream(slow.pipe[1], record::RowStream::kMaxBacklogBytes, stallMs, false);
    QVERIFY(stream.RunStarted({kStart, "tavrin", "sim"}));
    const int rows = 1500; // more than the pipe holds
    for (int i = 0; i < rows; ++i)
        QVERIFY(stream.Take(Row(i)));
    QVERIFY(stream.RunEnded());
    if (readerStarts)
        slow.Go();
    bool drained = false;
    stream.DrainThen([&drained] { drained = true; });
    QTRY_VERIFY_WITH_TIMEOUT(drained, 60'000);
    if (!readerStarts)
        slow.Go();
    slow.Finish();
    report::SetReportOutput(before);
    QCOMPARE(said.size(), reports);
    QVERIFY2(QRegularExpression(shortfall).match(stream.Shortfall()).hasMatch(),
             qPrintable(stream.Shortfall()));
    if (readerStarts)
        QCOMPARE(ReadAll(got).count('\n'), rows + 1);
}

// A report on standard error clears the progress line first and draws it again below.
void RecordRowsTest::progressLineUnderReports() {
    int pipe[2];
    QVERIFY(::pipe(pipe) == 0);
    const int savedError = ::dup(STDERR_FILENO);
    ::dup2(pipe[1], STDERR_FILENO);
    record::ProgressLine progress([] { return 3; });
    QVERIFY(progress.RunStarted({kStart, "tavrin", "sim"}));
    QVERIFY(progress.Take(Row(12)));
    report::WriteStandardError("publish", "a notice");
    QVERIFY(progress.RunEnded());
    report::WriteStandardError("app", "after");
    QVERIFY(report::FlushStandardError(60'000));
    ::dup2(savedError, STDERR_FILENO);
    ::close(pipe[1]);
    QFile read;
    QVERIFY(read.open(pipe[0], QIODevice::ReadOnly, QFile::AutoCloseHandle));
    const QByteArray line = "\rsamples 1  sweep 0  elapsed 0:00:01  files written 3\033[K";
    QCOMPARE(read.readAll(), line + "\r\033[Ktavrin: publish: a notice\n" + line + line + "\ntavrin: app: after\n");
}

QTEST_GUILESS_MAIN(RecordRowsTest)
#include "record_rows_test.moc"
