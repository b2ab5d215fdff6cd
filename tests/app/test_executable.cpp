// The real program from the outside: its command line, and one unattended
// sweep on the simulated unit with the files it leaves.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <functional>
#include <optional>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// A minute for anything the program or the emulator is waited for: a loaded machine cannot fail it.
constexpr int kWaitMs = 60'000;

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

// Runs the program to its end; once `stopWhen` holds, it is sent SIGTERM.
Outcome Run(const QStringList& arguments, const QString& workingDir = QString(),
            const QString& runtimeDir = QString(), const std::function<void()>& inChild = {},
            const std::function<bool()>& stopWhen = {}) {
    QProcess p;
    if (inChild)
        p.setChildProcessModifier(inChild);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!runtimeDir.isEmpty())
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
    p.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(QStringLiteral(TAVRIN_EXECUTABLE), arguments);
    const QDeadlineTimer limit(kWaitMs);
    bool stopped = !stopWhen;
    while (!p.waitForFinished(stopped ? int(limit.remainingTime()) : 50)) {
        if (p.state() == QProcess::NotRunning || limit.hasExpired()) {
            p.kill();
            p.waitForFinished();
            return {-1, QString(), QStringLiteral("did not finish")};
        }
        if (!stopped && (stopped = stopWhen()))
            ::kill(pid_t(p.processId()), SIGTERM);
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

void WriteParameters(const QString& folder, const QByteArray& options) {
    QFile f(folder + "/ombu01.par");
    QVERIFY(f.open(QIODevice::WriteOnly));
    // Green, olive, sampling time 1, then the six option bytes.
    f.write("1008000008080" "0001" + options + QByteArray(7, '\0'));
}

// The unit emulator under a serial number of its own, registered in `runtimeDir`.
class Emulator {
public:
    Emulator(const QString& runtimeDir, const QStringList& arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        process_.setProcessEnvironment(env);
        process_.start(QStringLiteral(UNIT_EMULATOR_PATH), arguments);
        while (process_.waitForStarted(kWaitMs) && !process_.canReadLine())
            if (!process_.waitForReadyRead(kWaitMs))
                break;
    }
    ~Emulator() {
        process_.terminate();
        process_.waitForFinished(kWaitMs);
    }
    bool Ready() { return process_.canReadLine(); }

private:
    QProcess process_;
};

} // namespace

class TestExecutable : public QObject {
    Q_OBJECT

private slots:
    void badCommandLinesAreRefusedClearly_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option") << QStringList{"--colour"} << "Unknown option";
        QTest::newRow("tick not a number") << QStringList{"--tick-ms", "fast"} << "--tick-ms";
        QTest::newRow("tick zero") << QStringList{"--tick-ms", "0"} << "--tick-ms";
        QTest::newRow("missing value") << QStringList{"--device"} << "Missing value";
        QTest::newRow("bad device") << QStringList{"--device", "usb"} << "usb";
        QTest::newRow("stray argument") << QStringList{"extra"} << "extra";
        QTest::newRow("password in the publish URL")
            << QStringList{"--publish", "mqtt://ann:pw@127.0.0.1/lab"} << "TAVRIN_MQTT_PASSWORD";
        QTest::newRow("a control character in the publish prefix")
            << QStringList{"--publish", "mqtt://127.0.0.1/lab%0A"}
            << "tavrin: --publish: the topic prefix may not hold control characters (U+0000–U+001F, U+007F, "
               "U+0080–U+009F); it holds U+000A (%0A)\nTry 'tavrin --help'.\n";
        QTest::newRow("a publish URL whose escapes are not UTF-8")
            << QStringList{"--publish", "mqtt://127.0.0.1/a%C3%28"}
            << "tavrin: --publish wants the URL in percent-encoded UTF-8 (é is %C3%A9, a '%' itself %25): "
               "%C3%28 in 'mqtt://127.0.0.1/a%C3%28' is not UTF-8\nTry 'tavrin --help'.\n";
        QTest::newRow("bad language") << QStringList{"--lang", "fr"} << "--lang wants ja or en";
        QTest::newRow("a scale of one volt") << QStringList{"--ad0-scale", "1=0,1=5"}
                                             << "--ad0-scale wants two different volts (V1 and V2 are the same), not "
                                                "'1=0,1=5'";
        QTest::newRow("limits upside down") << QStringList{"--ad1-limits", "400:100"}
                                            << "--ad1-limits wants a low limit that is not above the high one";
        QTest::newRow("a hold before it starts") << QStringList{"--ad0-hold", "-1"} << "--ad0-hold wants a number";
        QTest::newRow("a unit with a comma") << QStringList{"--ad1-unit", "m,s"} << "--ad1-unit wants a unit";
        QTest::newRow("no command on a limit") << QStringList{"--on-limit", " "}
                                               << "--on-limit wants a program to run";
        QTest::newRow("a quote never closed in the command on a limit")
            << QStringList{"--on-limit", "rec.py 'a b"}
            << "--on-limit wants a program and its arguments with every quote closed (its single quote at "
               "character 8 is never closed), not 'rec.py 'a b'";
        QTest::newRow("a command's time limit of 0")
            << QStringList{"--on-limit-timeout", "0"}
            << "--on-limit-timeout wants a number of seconds above 0, at "
               "most 86400, not '0'";
        QTest::newRow("a command's time limit that is not a number")
            << QStringList{"--on-limit-timeout", "soon"} << "--on-limit-timeout wants a number of seconds";
    }
    void badCommandLinesAreRefusedClearly() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTest::newRow("a scale that gives inf")
            << QStringList{"--ad0-scale", "0=0,1=1e308"}
            << "--ad0-scale wants a line whose values for readings of 0.00 V to 9.99 V stay below 1e+15 in "
               "size (15 "
               "digits with the 0 decimals it needs), not one that gives inf at 9.99 V, not '0=0,1=1e308'";
        QTest::newRow("a scale that gives 3.07e62")
            << QStringList{"--ad0-scale", "0=0,1=1e100"} << "not one that gives 9.99e+100 at 9.99 V";
        QTest::newRow("limits past 15 digits at the scale given")
            << QStringList{"--ad0-scale", "0=0,5=500", "--ad0-limits", ":1e15"}
            << "--ad0-limits wants limits below 1e+15 in size (15 digits with the 0 decimals of the "
               "channel's scale)";
        QTest::newRow("limits past 15 digits in volts")
            << QStringList{"--ad1-limits", "-1e13:"}
            << "--ad1-limits wants limits below 1e+13 in size (15 digits with the 2 decimals of the "
               "channel's scale)";
        QTest::newRow("a unit with an escape, shown escaped")
            << QStringList{"--ad0-unit", "\x1b[31mC"}
            << "--ad0-unit wants a unit that is not empty, has at most 64 characters and holds no comma, "
               "quote or "
               "control character (tab, line end, escape, U+0085, U+2028 and the like), not 'U+001B[31mC'";
        QTest::newRow("a unit with a tab") << QStringList{"--ad0-unit", "a\tb"} << "not 'aU+0009b'";
        QTest::newRow("a unit with DEL") << QStringList{"--ad0-unit", "a\x7f"} << "not 'aU+007F'";
        QTest::newRow("a unit with U+0085")
            << QStringList{"--ad1-unit", QString::fromUtf16(u"a\u0085")} << "not 'aU+0085'";
        QTest::newRow("a name with U+2028")
            << QStringList{"--ad0-name", QString::fromUtf16(u"a\u2028b")} << "not 'aU+2028b'";
        QTest::newRow("a name of 65 characters")
            << QStringList{"--ad0-name", QString(65, 'n')}
            << "--ad0-name wants a name that is not empty, has at most 64";
        const Outcome o = Run(arguments);
        QCOMPARE(o.exitCode, 1);
        QVERIFY2(o.err.contains(message), qPrintable(o.err));
    }

    void helpNamesTheSettingsFile() {
        const Outcome o = Run({"--help"});
        QCOMPARE(o.exitCode, 0);
        QVERIFY(o.out.contains("ombu01.par"));
        QVERIFY(o.out.contains("--device"));
        QVERIFY(o.out.contains("--tick-ms"));
        QCOMPARE(Run({"--version"}).out.trimmed(), QStringLiteral("tavrin " TAVRIN_VERSION));
    }

    void unattendedSweepSavesItsFiles() {
        QTemporaryDir dir;
        WriteParameters(dir.path(), "111010");   // AD0, AD1, line mode, auto-save; not continuous
        const Outcome o = Run({"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path(), "--start",
                               "--exit-after-run"},
                              dir.path());
        QCOMPARE(o.exitCode, 0);
        const QImage chart(dir.filePath("tavrin0.bmp"));
        QCOMPARE(chart.size(), QSize(609, 403));
        QCOMPARE(chart.pixel(45, 300) & 0xFFFFFF, 0x808080u);   // zero-volt axis
        QFile log(dir.filePath("tavrin0.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.at(1), QByteArray("SamplingTime = 1* 0.1S\r"));
        QCOMPARE(lines.at(2), QByteArray("FileName = tavrin0\r"));
        qsizetype replies = 0;
        for (const QByteArray& line : lines)
            replies += line.startsWith("AD0=") ? 1 : 0;
        QCOMPARE(replies, qsizetype(601));
        QVERIFY(!QFile::exists(dir.filePath("tavrin1.bmp")));
    }

    // The status and its reason, also when the program was started with standard error closed: its
    // messages then go nowhere, and nothing else takes their place. Rows for a standard output closed
    // at start are refused as a bad command line. What did not reach the record stream or the broker
    // is said once. "PTY" stands for a terminal that never answers: a unit really silent, so that only
    // the time-out ends the run.
    void unattendedRunEndsWithItsStatusAndReason_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("atStart"); // "stdout closed", "stderr closed", "stdout's reader gone"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const QStringList silent{"--device", "PTY"};
        const QStringList sweep{"--device", "sim", "--continuous", "off", "--headless"};
        QTest::newRow("a silent unit: the time-out, saying why")
            << silent + QStringList{"--start", "--exit-after-run"} << "" << 2
            << "tavrin: acquisition: the unit did not answer within 10 ticks; the run ended\n";
        QTest::newRow("standard error closed, a silent unit")
            << silent + QStringList{"--headless"} << "stderr closed" << 2 << "";
        QTest::newRow("standard output closed, the record on it")
            << sweep + QStringList{"--record", "-"} << "stdout closed" << 1
            << "tavrin: --record - wants standard output open, but tavrin was started with it closed: every "
               "row would be lost\nTry 'tavrin --help'.\n";
        QTest::newRow("the record stream's reader gone: the rows lost said once")
            << sweep + QStringList{"--record", "-"} << "stdout's reader gone" << 4
            << "tavrin: record: The record stream on standard output stopped: its reader is gone. Rows from now "
               "on are lost; their number is said at the run's end.\n"
               "tavrin: record: 601 rows did not reach standard output (its reader is gone)\n";
        QTest::newRow("a silent unit and the record stream's reader gone: the time-out's status")
            << silent + QStringList{"--headless", "--record", "-"} << "stdout's reader gone" << 2
            << "tavrin: record: The record stream on standard output stopped: its reader is gone. Rows from now "
               "on are lost; their number is said at the run's end.\n"
               "tavrin: acquisition: the unit did not answer within 10 ticks; the run ended\n"
               "tavrin: record: 1 rows did not reach standard output (its reader is gone)\n";
        // Nothing listens on port 1; the samples wait 10 s for it at exit.
        QTest::newRow("no broker: the samples not delivered said once")
            << sweep + QStringList{"--record", "off", "--publish", "mqtt://127.0.0.1:1/lab"} << "" << 4
            << "tavrin: publish: cannot reach the MQTT broker at 127.0.0.1:1 (Connection refused); samples wait in "
               "memory (up to 100000 of them) and are sent when it is back\n"
               "tavrin: publish: 601 samples were not delivered to the MQTT broker at 127.0.0.1:1 before exit\n";
    }
    void unattendedRunEndsWithItsStatusAndReason() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, atStart);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTemporaryDir dir;
        WriteParameters(dir.path(), "111100");
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        arguments.replaceInStrings(QRegularExpression("^PTY$"),
                                   "tty:" + QString::fromLocal8Bit(::ptsname(master)));
        const int closed = atStart == "stdout closed" ? 1 : atStart == "stderr closed" ? 2 : -1;
        const bool readerGone = atStart == "stdout's reader gone";
        const Outcome o = Run(arguments + QStringList{"--tick-ms", "2", "--param-dir", dir.path()},
                              dir.path(), dir.path(), [closed, readerGone] {
                                  if (closed >= 0)
                                      ::close(closed);
                                  int ends[2];
                                  if (readerGone && ::pipe(ends) == 0) {
                                      ::close(ends[0]);
                                      ::dup2(ends[1], STDOUT_FILENO);
                                      ::close(ends[1]);
                                  }
                              });
        ::close(master);
        QCOMPARE(o.exitCode, status);
        QCOMPARE(o.err, said);
    }

    // An unattended run refuses to start without a record folder it can write: nothing of the run
    // happens, not even a request to the unit. Permissions do not bind root: the program then runs
    // as nobody.
    void unattendedRunRefusesARecordFolderItCannotWrite() {
        QTemporaryDir dir;
        WriteParameters(dir.path(), "111100");
        const QString readOnly = dir.filePath("read-only");
        QVERIFY(QDir(dir.path()).mkdir("read-only"));
        QCOMPARE(::chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.filePath("ombu01.par")).constData(), 0666), 0);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        QCOMPARE(::chmod(::ptsname(master), 0666), 0);
        const passwd* nobody = ::getpwnam("nobody");
        const uid_t uid = nobody ? nobody->pw_uid : 65534;
        const gid_t gid = nobody ? nobody->pw_gid : 65534;
        const Outcome o = Run({"--device", "tty:" + QString::fromLocal8Bit(::ptsname(master)), "--tick-ms",
                               "2", "--param-dir", dir.path(), "--record", readOnly, "--headless"},
                              dir.path(), dir.path(), [uid, gid] {
                                  if (::geteuid() == 0 &&
                                      (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
                                       ::setresuid(uid, uid, uid) != 0))
                                      ::_exit(125);
                              });
        char request[8];
        const ssize_t requested = ::read(master, request, sizeof request);
        ::close(master);
        QCOMPARE(o.exitCode, 3);
        QCOMPARE(o.err,
                 "tavrin: record: no run record can be created in " + readOnly + " (Permission denied)\n");
        QVERIFY2(requested <= 0, "the unit was asked for a sample");
        QCOMPARE(QDir(readOnly).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void unattendedRunOfRepliesWithoutAFrameEndsAsAnError() {
        QProcess emulator;
        emulator.start(QStringLiteral(UNIT_EMULATOR_PATH), {"--garbage"});
        QVERIFY(emulator.waitForStarted(kWaitMs));
        while (!emulator.canReadLine())
            QVERIFY(emulator.waitForReadyRead(kWaitMs));
        const QString tty = QString::fromLocal8Bit(emulator.readLine()).trimmed();
        QTemporaryDir dir;
        WriteParameters(dir.path(), "111100"); // continuous: only the limit ends the run
        // Ticks of 50 ms: the emulator has half a second for each reply, so that a stalled emulator on
        // a loaded machine cannot end the run by the time-out instead.
        const Outcome o = Run({"--device", "tty:" + tty, "--tick-ms", "50", "--param-dir", dir.path(),
                               "--start", "--exit-after-run"},
                              dir.path());
        emulator.terminate();
        emulator.waitForFinished(kWaitMs);
        QCOMPARE(o.exitCode, 3);
        QVERIFY2(o.err.contains("100 replies in a row without a reply frame"), qPrintable(o.err));
    }

    // Unattended, a unit that cannot be opened ends the run at once, saying why.
    void unattendedRunWithoutItsUnitEndsWithAnError_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not a serial port") << "tty:/dev/null"
                                           << "tavrin: device: /dev/null is not a serial port";
        QTest::newRow("no such path") << "/nonexistent/ttyUSB9"
                                      << "tavrin: device: /nonexistent/ttyUSB9 is not there: is the unit plugged in?";
        QTest::newRow("library missing") << "d2xx:/nonexistent/libftd2xx.so"
                                         << "tavrin: device: FTDI's D2XX library could not be loaded";
        QTest::newRow("serial number not plugged in") << "tty:NOSUCH42"
                                                      << "tavrin: device: No unit with serial number NOSUCH42";
    }
    void unattendedRunWithoutItsUnitEndsWithAnError() {
        QFETCH(QString, device);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        WriteParameters(dir.path(), "111100");
        const Outcome o = Run({"--device", device, "--tick-ms", "2", "--param-dir", dir.path(), "--start",
                               "--exit-after-run"},
                              dir.path(), dir.path());
        QCOMPARE(o.exitCode, 3);
        QVERIFY2(o.err.contains(reason), qPrintable(o.err));
    }

    void listUnitsNeedsNoDisplay() {
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        Emulator emulator(runtime.path(), {"--serial", "EMUT0001"});
        QVERIFY(emulator.Ready());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TAVRIN_EXECUTABLE), {"--list-units"});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'));
        QVERIFY(lines.size() >= 3);
        QVERIFY2(lines.at(0).startsWith("WAY"), qPrintable(lines.at(0)));
        QVERIFY2(lines.filter(QRegularExpression("^tty +EMUT0001 +unit emulator +/dev/pts/[0-9]+ +yes$")).size() == 1,
                 qPrintable(lines.join('\n')));
        QVERIFY2(lines.filter(QRegularExpression("^sim +SIM00001 +simulated unit +built in +yes$")).size() == 1,
                 qPrintable(lines.join('\n')));
    }

    // The emulator is unplugged after 20 replies and plugged in again 3 s later. Ticks of 50 ms give
    // it half a second for each reply, and the time-out that finds it gone comes 2.5 s before it is
    // back, however loaded the machine. With --reconnect the run goes on, and is stopped once it has
    // 20 rows after the unit came back.
    void unattendedRunAndAnUnpluggedUnit_data() {
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("without --reconnect the run ends as an error, saying why") << false << 3;
        QTest::newRow("--reconnect waits for the same unit and goes on") << true << 0;
    }
    void unattendedRunAndAnUnpluggedUnit() {
        QFETCH(bool, reconnect);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        WriteParameters(dir.path(), "111000"); // one sweep
        Emulator emulator(dir.path(),
                          {"--serial", "EMUT0002", "--unplug-after", "20", "--replug-after-ms", "3000"});
        QVERIFY(emulator.Ready());
        QStringList arguments{"--device",    "EMUT0002", "--tick-ms", "50",
                              "--param-dir", dir.path(), "--start",   "--exit-after-run"};
        if (reconnect)
            arguments << "--reconnect";
        const auto rowsAfterUnitBack = [&dir] {
            const QStringList records = QDir(dir.path()).entryList({"tavrin-*.csv"});
            QFile record(dir.filePath(records.value(0)));
            if (records.isEmpty() || !record.open(QIODevice::ReadOnly))
                return false;
            const QByteArray bytes = record.readAll();
            const qsizetype back = bytes.indexOf(",unit back,,,,\r\n");
            return back >= 0 && bytes.mid(back).count('\n') > 20;
        };
        const Outcome o = Run(arguments, dir.path(), dir.path(), {}, rowsAfterUnitBack);
        QCOMPARE(o.exitCode, exitCode);
        QVERIFY2(o.err.contains(QRegularExpression("^tavrin: device: unit unplugged: /dev/pts/[0-9]+ has gone away")),
                 qPrintable(o.err));
        QCOMPARE(o.err.contains("\ntavrin: device: unit back: EMUT0002\n"), reconnect);
        QCOMPARE(rowsAfterUnitBack(), reconnect);
        QCOMPARE(o.err.contains(QRegularExpression("\ntavrin: device: the unit was unplugged \\(.*\\); --reconnect waits "
                                                   "for it to come back\n")),
                 !reconnect);
    }

    // A stop signal does not wait for the reply in flight: with 2 s ticks the reply wait would be 20 s,
    // and the run ends normally at once, its record's last row noting the request cut short. "PTY" is
    // a unit that never answers; the emulator answers after 15 s.
    void stopSignalDoesNotWaitForAReply_data() {
        QTest::addColumn<QStringList>("unit");
        QTest::newRow("a unit that stopped answering") << QStringList{};
        QTest::newRow("a reply in 15 s") << QStringList{"--serial", "EMUT0003", "--delay-us", "15000000"};
    }
    void stopSignalDoesNotWaitForAReply() {
        QFETCH(QStringList, unit);
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        WriteParameters(dir.path(), "111100");
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        std::optional<Emulator> emulator;
        if (!unit.isEmpty()) {
            emulator.emplace(dir.path(), unit);
            QVERIFY(emulator->Ready());
        }
        const QString device = unit.isEmpty() ? "tty:" + QString::fromLocal8Bit(::ptsname(master)) : unit[1];
        const auto record = [&dir] {
            const QStringList records = QDir(dir.path()).entryList({"tavrin-*.csv"});
            QFile file(dir.filePath(records.value(0)));
            return !records.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const Outcome o =
            Run({"--device", device, "--tick-ms", "2000", "--param-dir", dir.path(), "--headless"},
                dir.path(), dir.path(), {}, [&record] { return record().endsWith("\r\n"); });
        ::close(master);
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.err, QString());
        const QList<QByteArray> rows = record().split('\n');
        QCOMPARE(rows.size(), 3); // the header, the note, and nothing after the last line end
        QVERIFY2(rows[1].endsWith(",request cut short by stop,,,,\r"), rows[1].constData());
    }

    void unattendedRunReportsAnErrorOnStandardError() {
        QTemporaryDir dir;
        WriteParameters(dir.path(), "111110");   // continuous and auto-save
        QVERIFY(QFile(dir.filePath("tavrin0.bmp")).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir("tavrin0.txt"));   // the log file's name is taken by a folder
        const Outcome o = Run({"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path(), "--start",
                               "--exit-after-run"},
                              dir.path());
        QCOMPARE(o.exitCode, 3);
        QVERIFY2(o.err.contains("tavrin0.txt"), qPrintable(o.err));
    }

    // The viewer ends on a stop signal as on being closed, once it is up: it has said on stderr what
    // is wrong with its record.
    void viewerEndsOnAStopSignal_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QByteArray>("name"); // of the record, as the file system holds it
        QTest::newRow("SIGTERM") << int(SIGTERM) << QByteArray("not-a-record.csv");
        QTest::newRow("SIGHUP") << int(SIGHUP) << QByteArray("not-a-record.csv");
        QTest::newRow("SIGINT") << int(SIGINT) << QByteArray("not-a-record.csv");
        QTest::newRow("a name that is not UTF-8") << int(SIGTERM) << QByteArray("not-a-record-\xE9.csv");
    }
    void viewerEndsOnAStopSignal() {
        QFETCH(int, signalNumber);
        QFETCH(QByteArray, name);
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "a,b,c\n", 6) == 6);
        ::close(fd);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        // As a user's terminal has it, however this test was started (a background job ignores SIGINT).
        p.setChildProcessModifier([signalNumber] { std::signal(signalNumber, SIG_DFL); });
        p.setReadChannel(QProcess::StandardError);
        // The name's bytes as they are, which a QString argument could not carry.
        p.setWorkingDirectory(dir.path());
        QString escaped; // for printf's %b: a byte beyond ASCII as \0NNN
        for (const char c : name)
            escaped += uchar(c) < 0x80 ? QString(QLatin1Char(c)) : QString::asprintf("\\0%03o", uchar(c));
        p.start("/bin/sh", {"-c", "exec \"$0\" --view \"$(printf '%b' \"$1\")\"", QStringLiteral(TAVRIN_EXECUTABLE),
                            escaped});
        // Opened and read: what is wrong with it is said (a file not found would be said otherwise).
        const QByteArray notARecord = QStringLiteral("記録ファイルではありません").toUtf8();
        QByteArray said;
        while (!said.contains(notARecord) && p.waitForReadyRead(kWaitMs))
            said += p.readAllStandardError();
        QVERIFY2(said.contains("not-a-record") && said.contains(notARecord), said.constData());
        ::kill(pid_t(p.processId()), signalNumber);
        QVERIFY(p.waitForFinished(10'000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        ::unlink(path.constData()); // a name QTemporaryDir cannot spell
    }

    // What the viewer says under its plot later on, as a followed record's end, it says on stderr too.
    void viewerSaysAFollowedRecordsEndOnStandardError() {
        QTemporaryDir dir;
        QFile record(dir.filePath("live.csv"));
        QVERIFY(record.open(QIODevice::ReadWrite));
        // A row that cannot be read, so that the read is said to be over, then one that can.
        const QByteArray header =
            "time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note,ad0_value,ad0_unit,ad1_value,"
            "ad1_unit\r\n";
        QVERIFY(record.write(header +
                             "not a row\r\n2026-12-07T09:30:47.123+09:00,0.000,0,0,2.00,,,,,,,2.00,V,,\r\n") >
                0);
        record.flush();
        // Locked as a run locks the record it is writing: the viewer follows it.
        QVERIFY(::flock(record.handle(), LOCK_EX) == 0);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(TAVRIN_EXECUTABLE), {"--view", record.fileName()});
        QByteArray said;
        while (!said.contains("live.csv") && p.waitForReadyRead(kWaitMs))
            said += p.readAllStandardError();
        QVERIFY2(said.contains("live.csv"), said.constData());
        QVERIFY(record.resize(header.size()));
        const QByteArray shorter = QStringLiteral("live.csv: 記録ファイルが短くなりました").toUtf8();
        while (!said.contains(shorter) && p.waitForReadyRead(kWaitMs))
            said += p.readAllStandardError();
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(kWaitMs));
        QVERIFY2(said.contains("tavrin: trend: " + shorter), said.constData());
    }

    // Unattended, with no unit plugged in: --reconnect waits for one, saying so, until a stop signal ends
    // the run as STOP does; without it the run cannot start (status 3).
    void headlessWithoutAUnit_data() {
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");
        QTest::newRow("--reconnect waits") << true << "tavrin: device: no unit yet: waiting for one" << 0;
        QTest::newRow("without it, no run") << false << "tavrin: device: No FTDI serial port found" << 3;
    }
    void headlessWithoutAUnit() {
        QFETCH(bool, reconnect);
        QFETCH(QString, said);
        QFETCH(int, status);
        if (!QDir("/sys/class/tty").entryList({"ttyUSB*"}, QDir::System | QDir::AllEntries).isEmpty())
            QSKIP("a USB serial port is plugged in here");
        QTemporaryDir dir;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setReadChannel(QProcess::StandardError);
        QStringList arguments{"--headless", "--device", "tty", "--param-dir", dir.path(), "--record", "off"};
        if (reconnect)
            arguments << "--reconnect";
        p.start(QStringLiteral(TAVRIN_EXECUTABLE), arguments);
        QByteArray err;
        while (!err.contains(said.toUtf8()) && p.waitForReadyRead(kWaitMs))
            err += p.readAllStandardError();
        QVERIFY2(err.contains(said.toUtf8()), err.constData());
        if (reconnect) {
            QCOMPARE(p.state(), QProcess::Running);
            ::kill(pid_t(p.processId()), SIGTERM);
        }
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), status);
    }

    // A FIFO named as the settings file neither freezes the start nor keeps the unit closed; the
    // run goes on with the defaults and says why on stderr.
    void settingsFifoIsRefusedAndTheRunGoesOn() {
        QTemporaryDir dir;
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("ombu01.par")).constData(), 0666), 0);
        const Outcome o = Run({"--device", "tty:/dev/null", "--tick-ms", "2", "--param-dir", dir.path(),
                               "--start", "--exit-after-run"});
        QCOMPARE(o.exitCode, 3); // /dev/null is no serial port
        QVERIFY2(
            o.err.contains("ombu01.par in the folder " + dir.path() + ": it is a FIFO, not a regular file"),
            qPrintable(o.err));
    }

    // A FIFO named as tavrin.conf holds up neither the window nor the viewer: it is refused unopened
    // (the viewer says so on stderr), and both still end as they should.
    void settingsFileFifoIsRefusedUnopened_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("window") << QStringList{"--quit-when-shown"};
        QTest::newRow("viewer") << QStringList{"--view", "not-a-record.csv"};
    }
    void settingsFileFifoIsRefusedUnopened() {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("tavrin"));
        const QString fifo = dir.filePath("tavrin/tavrin.conf");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", dir.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(TAVRIN_EXECUTABLE), arguments + QStringList{"--param-dir", dir.path()});
        if (arguments.first() == "--view") {
            QByteArray said;
            while (!said.contains("tavrin.conf") && p.waitForReadyRead(kWaitMs))
                said += p.readAllStandardError();
            QVERIFY2(said.contains("tavrin: settings: The settings file " + QFile::encodeName(fifo) +
                                   " cannot be read (it is a FIFO, not a regular file)"),
                     said.constData());
            ::kill(pid_t(p.processId()), SIGTERM);
        }
        const bool finished = p.waitForFinished(kWaitMs);
        if (!finished)
            p.kill();
        QVERIFY(finished);
        QCOMPARE(p.exitCode(), 0);
        struct stat st = {};
        QVERIFY(::stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    }

    // A disk that fills during the save: the run ends by the error path, the files of an earlier
    // run stay whole, and no temporary file is left.
    void fullDiskEndsTheRunAndKeepsTheOlderFiles() {
        QTemporaryDir dir;
        WriteParameters(dir.path(), "111010"); // auto-save, not continuous
        for (const char* name : {"tavrin0.bmp", "tavrin0.txt"}) {
            QFile older(dir.filePath(name));
            QVERIFY(older.open(QIODevice::WriteOnly));
            older.write("from an earlier run");
        }
        const Outcome o = Run(
            {"--device", "sim", "--tick-ms", "2", "--param-dir", dir.path(), "--start", "--exit-after-run"},
            dir.path(), QString(), [] {
                // Writes past 100,000 bytes fail with "File too large".
                const rlimit limit{100000, 100000};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                std::signal(SIGXFSZ, SIG_IGN);
            });
        QCOMPARE(o.exitCode, 3);
        QVERIFY2(o.err.contains("Cannot write the chart file tavrin0.bmp: File too large"),
                 qPrintable(o.err));
        // Besides the older files, only this run's record: no temporary file.
        QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left.removeIf([](const QString& name) {
            return QRegularExpression("^tavrin-\\d{8}-\\d{6}\\.csv$").match(name).hasMatch();
        }), qsizetype(1));
        QCOMPARE(left, (QStringList{"ombu01.par", "tavrin0.bmp", "tavrin0.txt"}));
        for (const char* name : {"tavrin0.bmp", "tavrin0.txt"}) {
            QFile older(dir.filePath(name));
            QVERIFY(older.open(QIODevice::ReadOnly));
            QCOMPARE(older.readAll(), QByteArray("from an earlier run"));
        }
    }
};

QTEST_GUILESS_MAIN(TestExecutable)
#include "test_executable.moc"
