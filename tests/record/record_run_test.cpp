// The run record of the real program on the unit emulator's pseudo-terminal:
// one sweep gives 601 rows of what the unit sent, in a window and headless with
// no display; a second run leaves the first record alone; a signalled run keeps
// its rows; a failed write stops the record alone; the command line is answered
// with no window system.
#include "device/unit_model.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

namespace {

constexpr int kWaitMs = 60'000;
// The reply wait is 10 ticks: 50 ms for the emulator to answer on a busy machine.
const QString kEmulatorTickMs = QStringLiteral("5");

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
        process.waitForFinished();
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

QByteArray Volts(unsigned hundredths) {
    return QByteArray::number(hundredths / 100) + '.' + QByteArray::number(hundredths % 100).rightJustified(2, '0');
}

} // namespace

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

    // The window (off-screen) and headless (no display at all) write the same record. Headless also
    // overrides the file's settings for the run, which leaves the file as it was.
    void oneSweepRecordsWhatTheUnitSent_data() {
        QTest::addColumn<bool>("headless");
        QTest::addColumn<QByteArray>("options");   // the parameter file's six option bytes
        QTest::addColumn<QByteArray>("samplingTime"); // and its sampling time
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("window") << false << QByteArray("111000") << QByteArray("0001") << QStringList{"--start", "--exit-after-run"};
        QTest::newRow("headless, overriding continuous")
            << true << QByteArray("111100") << QByteArray("000A") << QStringList{"--headless", "--continuous", "off", "--sampling-time", "1"};
    }
    void oneSweepRecordsWhatTheUnitSent() {
        QFETCH(bool, headless);
        QFETCH(QByteArray, options);
        QFETCH(QByteArray, samplingTime);
        QFETCH(QStringList, arguments);
        Emulator unit;
        QVERIFY(!unit.path.isEmpty());
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, options, samplingTime));
        const QStringList common{"--device", "tty:" + unit.path, "--tick-ms", kEmulatorTickMs, "--param-dir", dir.path()};
        QProcess p;
        Start(p, common + arguments, dir.path(), !headless);
        QVERIFY2(Finish(p) == 0, p.readAllStandardError().constData());
        QCOMPARE(ReadAll(dir.filePath("ombu01.par")), Parameters(options, samplingTime));

        QCOMPARE(Records(dir.path()).size(), 1);
        const QString first = dir.filePath(Records(dir.path()).first());
        const QByteArray record = ReadAll(first);
        QVERIFY(record.startsWith("time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note\r\n"));
        const QList<QByteArray> rows = Rows(record);
        QCOMPARE(rows.size(), qsizetype(601));
        // Three rows written out, then every row against the unit's own signal.
        QVERIFY2(QDateTime::fromString(QString::fromLatin1(rows[0].left(29)), Qt::ISODateWithMs).isValid(), rows[0]);
        QVERIFY(rows[0].endsWith(",0,0,3.00,0.00,0,0,0,0,\r"));
        QVERIFY(rows[60].endsWith(",0,60,5.50,3.60,0,1,1,1,\r"));
        QVERIFY(rows[600].endsWith(",0,600,3.00,0.00,1,0,1,1,\r"));
        for (unsigned n = 0; n < 601; ++n) {
            const QList<QByteArray> f = rows[n].chopped(1).split(',');
            QCOMPARE(f.size(), qsizetype(11));
            const std::uint8_t lines = device::UnitModel::DigitalLines(n);
            const QByteArray expected = "0," + QByteArray::number(n) + ',' + Volts(device::UnitModel::Ad0(n)) + ',' +
                                        Volts(device::UnitModel::Ad1(n)) + ',' + char('0' + (lines >> 3 & 1)) + ',' +
                                        char('0' + (lines >> 2 & 1)) + ',' + char('0' + (lines >> 1 & 1)) + ',' +
                                        char('0' + (lines & 1)) + ',';
            QCOMPARE(f.mid(2).join(','), expected);
        }

        // A second run in the same folder (on an emulator of its own: the first one may not yet have
        // seen the first run close its terminal): a record of its own, the first one byte for byte as it was.
        Emulator secondUnit;
        QProcess again;
        Start(again, QStringList{"--device", "tty:" + secondUnit.path} + common.mid(2) + arguments, dir.path(),
              !headless);
        QVERIFY2(Finish(again) == 0, again.readAllStandardError().constData());
        QCOMPARE(Records(dir.path()).size(), 2);
        QCOMPARE(ReadAll(first), record);
    }

    // Where the record goes, and the row a silent unit leaves. "SUB" stands for a folder beside the sweep files.
    void recordDestinations_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("recordsHere");
        QTest::addColumn<int>("recordsInSub");
        QTest::addColumn<int>("rowsOnStandardOutput");
        const QStringList sim{"--device", "sim"};
        QTest::newRow("default") << sim << 0 << 1 << 0 << 0;
        QTest::newRow("off") << sim + QStringList{"--record", "off"} << 0 << 0 << 0 << 0;
        QTest::newRow("another folder") << sim + QStringList{"--record", "SUB"} << 0 << 0 << 1 << 0;
        QTest::newRow("standard output") << sim + QStringList{"--record", "-"} << 0 << 0 << 0 << 601;
        QTest::newRow("silent unit") << QStringList{"--device", "SILENT", "--record", "-"} << 2 << 0 << 0 << 1;
    }
    void recordDestinations() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(int, recordsHere);
        QFETCH(int, recordsInSub);
        QFETCH(int, rowsOnStandardOutput);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("SUB"));
        QVERIFY(WriteParameters(dir, "111000"));
        arguments.replaceInStrings(QRegularExpression("^SUB$"), dir.filePath("SUB"));
        Emulator silent({"--silent-after", "0"});
        arguments.replaceInStrings(QRegularExpression("^SILENT$"), "tty:" + silent.path);
        QProcess p;
        Start(p, arguments + QStringList{"--tick-ms", "2", "--param-dir", dir.path(), "--headless"}, dir.path(), false);
        QCOMPARE(Finish(p), status);
        QCOMPARE(Records(dir.path()).size(), recordsHere);
        QCOMPARE(Records(dir.filePath("SUB")).size(), recordsInSub);
        const QByteArray out = p.readAllStandardOutput();
        if (rowsOnStandardOutput == 0) {
            QCOMPARE(out, QByteArray());
            return;
        }
        QVERIFY(out.startsWith("time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note\r\n"));
        QCOMPARE(Rows(out).size(), qsizetype(rowsOnStandardOutput));
        if (status == 2)
            QVERIFY2(out.endsWith(",0,0,,,,,,,no reply\r\n"), out.constData());
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
        QCOMPARE(Rows(record).size(), qsizetype(15));
    }

    // A signal in the middle of a continuous run: every row before stays, none is torn. SIGINT and
    // SIGTERM end the run as STOP does; SIGKILL loses at most the row in flight.
    void aSignalledRunKeepsItsRows_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGKILL") << int(SIGKILL) << -1;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 0;
        QTest::newRow("SIGINT") << int(SIGINT) << 0;
    }
    void aSignalledRunKeepsItsRows() {
        QFETCH(int, signalNumber);
        QFETCH(int, status);
        Emulator unit;
        QTemporaryDir dir;
        QVERIFY(WriteParameters(dir, "111100"));
        QProcess p;
        Start(p, {"--device", "tty:" + unit.path, "--tick-ms", kEmulatorTickMs, "--param-dir", dir.path(), "--headless"},
              dir.path(), false);
        qsizetype seen = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QStringList records = Records(dir.path());
                seen = records.isEmpty() ? 0 : Rows(ReadAll(dir.filePath(records.first()))).size();
                return seen >= 200;
            },
            kWaitMs));
        ::kill(pid_t(p.processId()), signalNumber);
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
};

QTEST_GUILESS_MAIN(RecordRunTest)
#include "record_run_test.moc"
