// The run record of the real program, on the simulated unit and on the unit
// emulator's pseudo-terminal: one sweep gives 601 rows of what the unit sent, in
// a window and headless with no display; a second run leaves the first record
// alone; a signalled run keeps its rows, and a signal or a kill at the start
// leaves no half-made record; a slow reader of the stream gets every row; a
// failed write stops the record alone; the command line is answered with no
// window system.
//
// The simulated unit answers inside the program, by the program's own clock,
// and a stalled program does not make up the ticks it missed: a short tick is
// safe with it however loaded the machine. The emulator is another process: a
// stall of it while the program's ticks go on would look like a silent unit, so
// runs on it have ticks of 50 ms, half a second for each reply.
#include "device/unit_model.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 60'000;
// The reply wait is 10 ticks: half a second for the emulator to answer on a loaded machine.
const QString kEmulatorTickMs = QStringLiteral("50");
const QByteArray kHeader = "time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note,ad0_value,ad0_unit,ad1_value,ad1_unit\r\n";

// A pseudo-terminal with the emulated unit behind it; its requests count from 0.
struct Emulator {
    QProcess process;
    QString path;
    explicit Emulator(const QStringList& options = {}) {
        process.start(QStringLiteral(UNIT_EMULATOR_PATH), options);
        if (process.waitForStarted() && process.waitForReadyRead(kWaitMs))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Emulator() {
        process.terminate();
        process.waitForFinished(kWaitMs);
    }
};

QProcessEnvironment Environment(bool display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    if (display)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

void Start(QProcess& p, const QStringList& arguments, const QString& dir, bool display) {
    p.setProcessEnvironment(Environment(display));
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(TAVRIN_EXECUTABLE), arguments);
}

int Finish(QProcess& p) {
    if (!p.waitForFinished(kWaitMs))
        p.kill();
    p.waitForFinished();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QByteArray Parameters(const QByteArray& options, const QByteArray& samplingTime = "0001") {
    // Green, olive, the sampling time in four hex digits, then the six option bytes.
    return "1008000008080" + samplingTime + options + QByteArray(7, '\0');
}

bool WriteParameters(const QTemporaryDir& dir, const QByteArray& options, const QByteArray& samplingTime = "0001") {
    QFile par(dir.filePath("ombu01.par"));
    return par.open(QIODevice::WriteOnly) && par.write(Parameters(options, samplingTime)) == 30;
}

QStringList Records(const QString& dir) {
    return QDir(dir).entryList({"tavrin-*.csv"}, QDir::Files, QDir::Name);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> Rows(const QByteArray& record) {
    QList<QByteArray> rows = record.split('\n');
    rows.removeLast(); // after the last CR LF, or a row in flight
    if (!rows.isEmpty())
        rows.removeFirst(); // the header
    return rows;
}

// Rows in the first record in `dir` so far.
qsizetype RowsSoFar(const QString& dir) {
    const QStringList records = Records(dir);
    return records.isEmpty() ? 0 : Rows(ReadAll(dir + '/' + records.first())).size();
}

// What in `dir` is not a whole record: a temporary in sight, a record without its header row (an
// empty one too), or, with `wholeRows`, one with a torn last row.
QStringList PartialRecords(const QString& dir, bool wholeRows) {
    QStringList found;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        const QByteArray bytes = ReadAll(dir + '/' + name);
        if (name.contains(".tmp-") ||
            (name.endsWith(".csv") && (!bytes.startsWith(kHeader) || (wholeRows && !bytes.endsWith("\r\n")))))
            found << QStringLiteral("%1 (%2 bytes)").arg(name).arg(bytes.size());
    }
    return found;
}

// Whether the program (not the test forked to start it) has its handler for `signalNumber` in place.
bool Catches(qint64 pid, int signalNumber) {
    if (ReadAll(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed() != "tavrin")
        return false;
    const QList<QByteArray> status = ReadAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n');
    for (const QByteArray& line : status)
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1) & 1;
    return false;
}

// Starts the program and returns as soon as its stop signal handlers are in, the first thing it does.
bool StartAndAwaitHandlers(QProcess& p, const QStringList& arguments, const QString& dir, bool display) {
    Start(p, arguments, dir, display);
    if (!p.waitForStarted(kWaitMs))
        return false;
    for (const QDeadlineTimer limit(kWaitMs); !Catches(p.processId(), SIGTERM);)
        if (limit.hasExpired())
            return false;
    return true;
}

QByteArray Volts(unsigned hundredths) {
    return QByteArray::number(hundredths / 100) + '.' + QByteArray::number(hundredths % 100).rightJustified(2, '0');
}

} // namespace

// A vfat image made with mkfs.vfat and mounted through FUSE (fusefat) for as long as this lives; `problem`
// says why not, where the machine has no such tools or lets no one mount.
struct FuseVfat {
    QString mountPoint;
    QString problem;
    FuseVfat(const QString& image, const QString& at) {
        const auto run = [this](const QString& program, const QStringList& arguments) {
            QProcess p;
            p.start(program, arguments);
            if (!p.waitForFinished(30'000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
                problem = program + ": " + p.errorString() + " " + p.readAllStandardError().trimmed();
            return problem.isEmpty();
        };
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(16 << 20)) {
            problem = "cannot make the image";
            return;
        }
        file.close();
        if (run("mkfs.vfat", {image}) && run("fusefat", {"-o", "rw+", image, at}))
            mountPoint = at;
    }
    ~FuseVfat() {
        if (mountPoint.isEmpty())
            return;
        QProcess p;
        p.start("fusermount", {"-u", mountPoint});
        if (!p.waitForFinished(30'000) || p.exitCode() != 0)
            QProcess::execute("umount", {mountPoint});
    }
};

class RecordRunTest : public QObject {
    Q_OBJECT

private slots:
    void commandLineNeedsNoWindowSystem_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--headless";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "tavrin 1";
        QTest::newRow("unknown option") << QStringList{"--colour"} << 1 << "Unknown option";
        QTest::newRow("sampling time 0") << QStringList{"--sampling-time", "0"} << 1 << "--sampling-time";
        QTest::newRow("sampling time 601") << QStringList{"--sampling-time", "601"} << 1 << "1 to 600";
        // --list-units runs once the whole command line has been taken.
        QTest::newRow("sampling time 600")
            << QStringList{"--sampling-time", "600", "--list-units"} << 0 << "WAY";
        QTest::newRow("sampling time 1") << QStringList{"--sampling-time", "1", "--list-units"} << 0 << "WAY";
        QTest::newRow("tick of a minute") << QStringList{"--tick-ms", "60000", "--list-units"} << 0 << "WAY";
        QTest::newRow("continuous yes") << QStringList{"--continuous", "yes"} << 1 << "on or off";
        QTest::newRow("auto-save 1") << QStringList{"--auto-save", "1"} << 1 << "--auto-save";
        QTest::newRow("channel ad2") << QStringList{"--channels", "ad2"} << 1 << "ad0,ad1";
        QTest::newRow("bad device") << QStringList{"--device", "usb"} << 1 << "usb";
        QTest::newRow("record folder missing") << QStringList{"--record", "/no/such/folder"} << 1 << "/no/such/folder";
    }
    void commandLineNeedsNoWindowSystem() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QProcess p;
        Start(p, arguments, QDir::tempPath(), false);
        QCOMPARE(Finish(p), status);
        const QString output = p.readAllStandardOutput() + p.readAllStandardError();
        QVERIFY2(output.contains(said), qPrintable(output));
    }

    // The window (off-screen) and headless (no display at all) write the same record, on the simulated
    // unit and on the emulator. Headless also overrides the file's settings for the run, which leaves
    // the file as it was.
    void oneSweepRecordsWhatTheUnitSent_data() {
        QTest::addColumn<bool>("headless");
        QTest::addColumn<bool>("onEmulator");
        QTest::addColumn<QByteArray>("options");   // the parameter file's six option bytes
        QTest::addColumn<QByteArray>("samplingTime"); // and its sampling time
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("window, simulated unit")
            << false << false << QByteArray("111000") << QByteArray("0001")
            << QStringList{"--start", "--exit-after-run"};
        QTest::newRow("headless on the emulator, overriding continuous")
            << true << true << QByteArray("111100") << QByteArray("000A")
            << QStringList{"--headless", "--continuous", "off", "--sampling-time", "1"};
        // AD0 in °C, a hundredth of a volt a degree, with limits; SCRIPT writes down each call's arguments.
        QTest::newRow("headless, an oven on AD0 and a command at each crossing")
            << true << false << QByteArray("111000") << QByteArray("0001")
            << QStringList{"--headless", "--ad0-scale", "0=0,5=500", "--ad0-unit", "°C", "--ad0-limits", "100:400",
                           "--on-limit", "SCRIPT"};
    }
    void oneSweepRecordsWhatTheUnitSent() {
        QFETCH(bool, headless);
        QFETCH(bool, onEmulator);
        QFETCH(QByteArray, options);
        QFETCH(QByteArray, samplingTime);
        QFETCH(QStringList, arguments);
        QStringList unitAndTick{"--device", "sim", "--tick-ms", "2"};
        std::optional<Emulator> unit;
        if (onEmulator) {
            QVERIFY(!unit.emplace().path.isEmpty());
            unitAndTick = QStringList{"--device", "tty:" + unit->path, "--tick-ms", kEmulatorTickMs};
        }
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, options, samplingTime));
        const bool oven = arguments.contains("--ad0-scale");
        QFile script(dir.filePath("on-limit"));
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\n"
                                                                  "printf '%s|' \"$@\" >>\"${0%/*}/crossings\"\n"
                                                                  "echo >>\"${0%/*}/crossings\"\n") > 0);
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        arguments.replaceInStrings(QRegularExpression("^SCRIPT$"), script.fileName());
        QProcess p;
        Start(p, unitAndTick + QStringList{"--param-dir", dir.path()} + arguments, dir.path(), !headless);
        QVERIFY2(Finish(p) == 0, p.readAllStandardError().constData());
        QCOMPARE(ReadAll(dir.filePath("ombu01.par")), Parameters(options, samplingTime));

        QCOMPARE(Records(dir.path()).size(), 1);
        const QString first = dir.filePath(Records(dir.path()).first());
        const QByteArray record = ReadAll(first);
        QVERIFY(record.startsWith(kHeader));
        const QList<QByteArray> rows = Rows(record);
        QCOMPARE(rows.size(), qsizetype(601));
        // Three rows written out, then every row against the unit's own signal.
        QVERIFY2(QDateTime::fromString(QString::fromLatin1(rows[0].left(29)), Qt::ISODateWithMs).isValid(), rows[0]);
        QVERIFY(rows[0].endsWith(oven ? ",0,0,3.00,0.00,0,0,0,0,,300,°C,0.00,V\r"
                                      : ",0,0,3.00,0.00,0,0,0,0,,3.00,V,0.00,V\r"));
        QVERIFY(rows[60].endsWith(oven ? ",0,60,5.50,3.60,0,1,1,1,,550,°C,3.60,V\r"
                                       : ",0,60,5.50,3.60,0,1,1,1,,5.50,V,3.60,V\r"));
        QVERIFY(rows[600].endsWith(oven ? ",0,600,3.00,0.00,1,0,1,1,,300,°C,0.00,V\r"
                                        : ",0,600,3.00,0.00,1,0,1,1,,3.00,V,0.00,V\r"));
        // The oven's crossings: out only from inside, back only from outside, each on the right side of
        // its limit; the command ran once for each, with the row's value and time.
        QByteArray outside;
        QByteArray calls;
        for (unsigned n = 0; n < 601; ++n) {
            const QList<QByteArray> f = rows[n].chopped(1).split(',');
            QCOMPARE(f.size(), qsizetype(15));
            const std::uint8_t lines = device::UnitModel::DigitalLines(n);
            const unsigned ad0 = device::UnitModel::Ad0(n);
            const QByteArray note = f[10];
            const QByteArray expected = "0," + QByteArray::number(n) + ',' + Volts(ad0) + ',' +
                                        Volts(device::UnitModel::Ad1(n)) + ',' + char('0' + (lines >> 3 & 1)) + ',' +
                                        char('0' + (lines >> 2 & 1)) + ',' + char('0' + (lines >> 1 & 1)) + ',' +
                                        char('0' + (lines & 1)) + ',' + note + ',' +
                                        (oven ? QByteArray::number(ad0) + ",°C," : Volts(ad0) + ",V,") +
                                        Volts(device::UnitModel::Ad1(n)) + ",V";
            QCOMPARE(f.mid(2).join(','), expected);
            if (note.isEmpty())
                continue;
            QVERIFY2(oven, rows[n].constData());
            if (note == "ad0 back")
                QVERIFY2(!outside.isEmpty() && ad0 >= 100 && ad0 <= 400, rows[n].constData());
            else
                QVERIFY2(outside.isEmpty() && (note == "ad0 high" ? ad0 > 400 : note == "ad0 low" && ad0 < 100),
                         rows[n].constData());
            outside = note == "ad0 back" ? QByteArray() : note;
            calls += QByteArray(note).replace(' ', '|') + '|' + QByteArray::number(ad0) + "|°C|" + f[0] + "|\n";
        }
        QCOMPARE(ReadAll(dir.filePath("crossings")), calls);
        QVERIFY(!oven || calls.count('\n') >= 8);

        // A second run in the same folder, on the simulated unit: a record of its own, the first one
        // byte for byte as it was.
        QProcess again;
        Start(again, QStringList{"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path()} + arguments,
              dir.path(), !headless);
        QVERIFY2(Finish(again) == 0, again.readAllStandardError().constData());
        QCOMPARE(Records(dir.path()).size(), 2);
        QCOMPARE(ReadAll(first), record);
    }

    // Where the record goes, and the row a silent unit leaves. "SUB" stands for a folder beside the sweep
    // files ("VFAT": a USB stick's file system, an image mounted through FUSE, which knows neither
    // unnamed files nor links nor renames that never replace); "SILENT" for an emulator that never
    // answers, so that only the time-out ends its run. Every row on standard output matches `everyRow`,
    // when given.
    void recordDestinations_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("recordsHere");
        QTest::addColumn<int>("recordsInSub");
        QTest::addColumn<int>("rowsOnStandardOutput");
        QTest::addColumn<QString>("everyRow");
        const QStringList sim{"--device", "sim"};
        QTest::newRow("default") << sim << 0 << 1 << 0 << 0 << "";
        QTest::newRow("off") << sim + QStringList{"--record", "off"} << 0 << 0 << 0 << 0 << "";
        QTest::newRow("another folder") << sim + QStringList{"--record", "SUB"} << 0 << 0 << 1 << 0 << "";
        QTest::newRow("a vfat stick") << sim + QStringList{"--record", "VFAT"} << 0 << 0 << 1 << 0 << "";
        QTest::newRow("standard output") << sim + QStringList{"--record", "-"} << 0 << 0 << 0 << 601 << "";
        QTest::newRow("AD0 alone: AD1 empty in every row")
            << sim + QStringList{"--record", "-", "--channels", "ad0"} << 0 << 0 << 0 << 601
            << "^[^,]+,[^,]+,0,[0-9]+,([0-9]\\.[0-9][0-9]),,[01],[01],[01],[01],,\\1,V,,\r$";
        QTest::newRow("silent unit") << QStringList{"--device", "SILENT", "--record", "-"} << 2 << 0 << 0 << 1
                                     << ",0,0,,,,,,,no reply,,,,\r$";
    }
    void recordDestinations() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(int, recordsHere);
        QFETCH(int, recordsInSub);
        QFETCH(int, rowsOnStandardOutput);
        QFETCH(QString, everyRow);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("SUB"));
        QVERIFY(WriteParameters(dir, "111000"));
        std::optional<FuseVfat> vfat;
        if (arguments.contains("VFAT")) {
            vfat.emplace(dir.filePath("vfat.img"), dir.filePath("SUB"));
            if (!vfat->problem.isEmpty())
                QSKIP(qPrintable("no vfat file system to be had here: " + vfat->problem));
            arguments.replaceInStrings(QRegularExpression("^VFAT$"), "SUB");
        }
        arguments.replaceInStrings(QRegularExpression("^SUB$"), dir.filePath("SUB"));
        Emulator silent({"--silent-after", "0"});
        arguments.replaceInStrings(QRegularExpression("^SILENT$"), "tty:" + silent.path);
        QProcess p;
        Start(p, arguments + QStringList{"--tick-ms", "2", "--param-dir", dir.path(), "--headless"}, dir.path(), false);
        QCOMPARE(Finish(p), status);
        QCOMPARE(Records(dir.path()).size(), recordsHere);
        QCOMPARE(Records(dir.filePath("SUB")).size(), recordsInSub);
        if (vfat) {
            const QByteArray record = ReadAll(QDir(dir.filePath("SUB")).filePath(Records(dir.filePath("SUB")).first()));
            QVERIFY(record.startsWith(kHeader));
            QCOMPARE(Rows(record).size(), qsizetype(601));
        }
        const QByteArray out = p.readAllStandardOutput();
        if (rowsOnStandardOutput == 0) {
            QCOMPARE(out, QByteArray());
            return;
        }
        QVERIFY(out.startsWith(kHeader) && out.endsWith("\r\n"));
        const QList<QByteArray> rows = Rows(out);
        QCOMPARE(rows.size(), qsizetype(rowsOnStandardOutput));
        const QRegularExpression pattern(everyRow);
        for (const QByteArray& row : rows)
            QVERIFY2(pattern.match(QString::fromLatin1(row)).hasMatch(), row.constData());
    }

    // A file size limit stands in for a full disk: the record stops with its whole rows and says
    // why on standard error; the run goes on to its normal end, and the exit status tells that the
    // record is short.
    void aRecordThatCannotBeWrittenStopsAlone() {
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, "111000"));
        QProcess p;
        p.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit small{1000, 1000};
            setrlimit(RLIMIT_FSIZE, &small);
        });
        Start(p, {"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path(), "--headless"}, dir.path(), false);
        QCOMPARE(Finish(p), 4);
        const QString err = p.readAllStandardError();
        QCOMPARE(err.count("The run record stopped"), 1);
        QVERIFY2(err.contains(QRegularExpression("\ntavrin: record: the run record .* stopped after [0-9]+ rows")),
                 qPrintable(err));
        QVERIFY2(err.contains("File too large"), qPrintable(err));
        const QByteArray record = ReadAll(dir.filePath(Records(dir.path()).first()));
        QVERIFY(record.endsWith("\r\n") && record.size() <= 1000);
        QCOMPARE(Rows(record).size(), qsizetype(12));
    }

    // A signal in the middle of a continuous run: every row before stays, none is torn. SIGINT, SIGTERM
    // and SIGHUP end the run as STOP does, headless and in the window; SIGKILL loses at most the row
    // in flight. A SIGHUP the program was started with ignored (nohup) stays ignored: the run goes on
    // until SIGTERM.
    void aSignalledRunKeepsItsRows_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("window");
        QTest::addColumn<bool>("ignoredAtStart");
        QTest::newRow("SIGKILL") << int(SIGKILL) << -1 << false << false;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 0 << false << false;
        QTest::newRow("SIGINT") << int(SIGINT) << 0 << false << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 0 << false << false;
        QTest::newRow("SIGHUP ignored at start") << int(SIGHUP) << 0 << false << true;
        QTest::newRow("SIGTERM to the window") << int(SIGTERM) << 0 << true << false;
    }
    void aSignalledRunKeepsItsRows() {
        QFETCH(int, signalNumber);
        QFETCH(int, status);
        QFETCH(bool, window);
        QFETCH(bool, ignoredAtStart);
        Emulator unit;
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, "111100"));
        QProcess p;
        if (ignoredAtStart)
            p.setChildProcessModifier([] { std::signal(SIGHUP, SIG_IGN); });
        const QStringList mode =
            window ? QStringList{"--start", "--exit-after-run"} : QStringList{"--headless"};
        Start(p,
              QStringList{"--device", "tty:" + unit.path, "--tick-ms", kEmulatorTickMs, "--param-dir",
                          dir.path()} +
                  mode,
              dir.path(), window);
        qsizetype seen = 0;
        QVERIFY(QTest::qWaitFor([&] { return (seen = RowsSoFar(dir.path())) >= 40; }, kWaitMs));
        ::kill(pid_t(p.processId()), signalNumber);
        if (ignoredAtStart) {
            QVERIFY(QTest::qWaitFor([&] { return RowsSoFar(dir.path()) >= seen + 20; }, kWaitMs));
            ::kill(pid_t(p.processId()), SIGTERM);
        }
        QCOMPARE(Finish(p), status);
        const QByteArray record = ReadAll(dir.filePath(Records(dir.path()).first()));
        QVERIFY(record.endsWith("\r\n"));
        const QList<QByteArray> rows = Rows(record);
        QVERIFY(rows.size() >= seen);
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QList<QByteArray> f = rows[i].split(',');
            QCOMPARE(f.value(2).toLongLong() * 601 + f.value(3).toLongLong(), (long long)i);
        }
    }

    // A stop signal as soon as the program takes one, before its event loop runs: it ends with 0 and
    // leaves no record, or a whole one.
    void aSignalAtTheStartLeavesNoPartialRecord_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("window");
        QTest::newRow("SIGTERM, headless") << int(SIGTERM) << false;
        QTest::newRow("SIGHUP, headless") << int(SIGHUP) << false;
        QTest::newRow("SIGINT, window") << int(SIGINT) << true;
    }
    void aSignalAtTheStartLeavesNoPartialRecord() {
        QFETCH(int, signalNumber);
        QFETCH(bool, window);
        const QStringList mode =
            window ? QStringList{"--start", "--exit-after-run"} : QStringList{"--headless"};
        for (int attempt = 0; attempt < 5; ++attempt) {
            QTemporaryDir dir;
            QVERIFY(WriteParameters(dir, "111100"));
            QProcess p;
            QVERIFY(StartAndAwaitHandlers(
                p, QStringList{"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path()} + mode,
                dir.path(), window));
            ::kill(pid_t(p.processId()), signalNumber);
            QCOMPARE(Finish(p), 0);
            QCOMPARE(PartialRecords(dir.path(), true), QStringList());
        }
    }

    // SIGKILL at moments spread over the first 15 ms of main, when the record is made (a few ms in):
    // never a record without its header row (an empty one included), never a temporary in sight.
    void aKillAtTheStartLeavesNoRecordWithoutItsHeader() {
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, "111100"));
        for (int attempt = 0; attempt < 60; ++attempt) {
            QProcess p;
            QVERIFY(StartAndAwaitHandlers(
                p, {"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path(), "--headless"}, dir.path(),
                false));
            ::usleep(useconds_t(attempt * 250));
            ::kill(pid_t(p.processId()), SIGKILL);
            Finish(p);
            QCOMPARE(PartialRecords(dir.path(), false), QStringList());
        }
        qInfo("%lld of 60 killed runs had made their record", (long long)Records(dir.path()).size());
    }

    // Standard error a pipe that is full from the start and never read, and both channels crossing
    // their limits again and again: the sweep goes on at its pace, every sample in its record, and the
    // program ends as it would, giving standard error a moment at most.
    void aStandardErrorNobodyReadsHoldsNoSampleBack() {
        int ends[2];
        QVERIFY(::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0);
        QVERIFY(::fcntl(ends[1], F_SETPIPE_SZ, 4096) >= 0);
        const QByteArray fill(4096, 'x');
        while (::write(ends[1], fill.constData(), std::size_t(fill.size())) > 0) {
        }
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, "111000"));
        QProcess p;
        p.setStandardErrorFile(QProcess::nullDevice());
        // Blocking for the program, as a terminal nobody reads is.
        p.setChildProcessModifier([writeEnd = ends[1]] {
            ::fcntl(writeEnd, F_SETFL, 0);
            ::dup2(writeEnd, STDERR_FILENO);
        });
        Start(p,
              {"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path(), "--headless", "--continuous",
               "off", "--ad0-limits", "2:4", "--ad0-hold", "0", "--ad1-limits", "1:5", "--ad1-hold", "0"},
              dir.path(), false);
        const bool ended = p.waitForFinished(30'000);
        if (!ended)
            p.kill();
        p.waitForFinished();
        ::close(ends[0]);
        ::close(ends[1]);
        QVERIFY2(ended, "the run was held up by its standard error");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QByteArray record = ReadAll(dir.filePath(Records(dir.path()).value(0)));
        QVERIFY(record.contains(",ad0 high,") && record.contains(",ad1 low,"));
        const QList<QByteArray> rows = Rows(record);
        QCOMPARE(rows.size(), qsizetype(601));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QList<QByteArray> f = rows[i].split(',');
            QCOMPARE(f.value(2).toLongLong() * 601 + f.value(3).toLongLong(), (long long)i);
        }
    }

    // --record - into a pipe whose reader starts 12 s after the run's end, when more rows wait than
    // the pipe holds: every row arrives, whole and in order, the header once, and the run ends with 0.
    void aSlowReaderOfTheStreamGetsEveryRow() {
        int pipeEnds[2];
        QVERIFY(::pipe2(pipeEnds, O_CLOEXEC) == 0);
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, "111100"));
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setChildProcessModifier([writeEnd = pipeEnds[1]] { ::dup2(writeEnd, STDOUT_FILENO); });
        Start(p,
              {"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path(), "--headless", "--record", "-"},
              dir.path(), false);
        // The pipe is full when its write end, held here too until the signal, takes nothing more.
        QVERIFY(QTest::qWaitFor(
            [&] {
                pollfd writable{pipeEnds[1], POLLOUT, 0};
                return ::poll(&writable, 1, 0) == 0;
            },
            kWaitMs));
        int held = 0;
        QCOMPARE(::ioctl(pipeEnds[0], FIONREAD, &held), 0);
        QTest::qWait(1000); // more rows than the pipe holds
        ::kill(pid_t(p.processId()), SIGINT);
        ::close(pipeEnds[1]);
        QTest::qWait(12'000);
        QByteArray out;
        char block[65536];
        for (pollfd ready{pipeEnds[0], POLLIN, 0}; ::poll(&ready, 1, kWaitMs) > 0;) {
            const ssize_t n = ::read(pipeEnds[0], block, sizeof block);
            if (n <= 0)
                break;
            out.append(block, n);
        }
        ::close(pipeEnds[0]);
        QCOMPARE(Finish(p), 0);
        QVERIFY(out.startsWith(kHeader) && out.endsWith("\r\n"));
        QCOMPARE(out.count(kHeader), qsizetype(1));
        const QList<QByteArray> rows = Rows(out);
        QVERIFY2(out.size() - kHeader.size() > held, qPrintable(QString::number(out.size())));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QList<QByteArray> f = rows[i].split(',');
            QCOMPARE(f.value(2).toLongLong() * 601 + f.value(3).toLongLong(), (long long)i);
        }
    }
};

QTEST_GUILESS_MAIN(RecordRunTest)
#include "record_run_test.moc"
