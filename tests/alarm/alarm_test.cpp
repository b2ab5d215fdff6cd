// What calls for attention at a crossing: the --on-limit command, split into its
// words, run for real (a script in a temporary folder that writes down its
// arguments), one crossing at a time, within its time limit, with no descriptor
// of ours; and the desktop's notice, counted through its seam, and once through
// a session bus of the test's own with a stand-in notification service on it.
#include "alarm/command_words.h"
#include "alarm/desktop_notice.h"
#include "alarm/limit_command.h"
#include "report/reporter.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QDateTime kTime(QDate(2026, 12, 7), QTime(9, 30, 47, 123), QTimeZone(9 * 3600));

// AD0 an oven: 0-5 V for 0-500 °C, its limits 100 and 400 °C; AD1 in volts.
acquisition::RunInfo OvenRun() {
    acquisition::RunInfo run;
    run.channels[0].name = QStringLiteral("Oven");
    run.channels[0].unit = QStringLiteral("°C");
    run.channels[0].scale = {0, 0, 5, 500};
    run.channels[0].limits.low = 100;
    run.channels[0].limits.high = 400;
    return run;
}

// A sample of 4.12 V on AD0 and 1.23 V on AD1 that makes the crossings `notes` ("ad0 high; ad1 low").
acquisition::DecodedSample Crossing(const QString& notes) {
    acquisition::DecodedSample sample;
    sample.time = kTime;
    sample.ad0 = 412;
    sample.ad1 = 123;
    for (const auto& [channel, crossing] : channels::ParseNotes(notes.toStdString()))
        sample.crossings[std::size_t(channel)] = crossing;
    return sample;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Where a link of /proc leads, as it reads ("pipe:[88473]", "/dev/null").
QByteArray Link(const QString& path) {
    char target[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return n > 0 ? QByteArray(target, n) : QByteArray();
}

// A script in `dir` that runs `then`, then writes its arguments, each followed by '|', as a line of the
// file `got` there.
QString WriteScript(const QTemporaryDir& dir, const QString& then) {
    const QString script = dir.filePath("on-limit");
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(("#!/bin/sh\n" + then + "\nprintf '%s|' \"$@\" >>'" + dir.filePath("got") + "'\necho >>'" +
                dir.filePath("got") + "'\n")
                   .toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

// The stand-in for the desktop's notification service: keeps each notice's summary and body.
class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList shown;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int) {
        shown << summary + " / " + body + " / urgency " + QString::number(hints.value("urgency").toInt());
        return uint(shown.size());
    }
};

} // namespace

class AlarmTest : public QObject {
    Q_OBJECT

    QStringList said_;
    report::Output reports_;

private slots:
    void init() {
        said_.clear();
        reports_ = report::SetReportOutput([this](const char*, const QString& text) { said_ << text; });
    }
    void cleanup() { report::SetReportOutput(reports_); }

    // As a shell splits a simple command's words; "REFUSED: why" for one refused.
    void splitCommandWords_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("plain words") << "oven-alarm --lab B2" << QStringList{"oven-alarm", "--lab", "B2"};
        QTest::newRow("blanks around and between") << " \ta  b\n c " << QStringList{"a", "b", "c"};
        QTest::newRow("a shell's command in single quotes")
            << "/bin/sh -c 'exit 3'" << QStringList{"/bin/sh", "-c", "exit 3"};
        QTest::newRow("one word in single quotes") << "rec.py 'a b'" << QStringList{"rec.py", "a b"};
        QTest::newRow("a backslash before a blank") << "a\\ b" << QStringList{"a b"};
        QTest::newRow("an escaped quote in double quotes") << "\"a\\\"b\"" << QStringList{"a\"b"};
        QTest::newRow("the four escapes in double quotes")
            << "\"\\$ \\` \\\\ \\n\"" << QStringList{"$ ` \\ \\n"};
        QTest::newRow("a backslash in single quotes") << "'a\\b'" << QStringList{"a\\b"};
        QTest::newRow("a single quote in double quotes") << "\"it's\"" << QStringList{"it's"};
        QTest::newRow("a double quote in single quotes") << "'say \"hi\"'" << QStringList{"say \"hi\""};
        QTest::newRow("empty quotes: an empty word") << "run '' \"\" x" << QStringList{"run", "", "", "x"};
        QTest::newRow("quotes inside a word") << "a'b c'\"d e\"f" << QStringList{"ab cd ef"};
        QTest::newRow("a backslash before a letter") << "\\a" << QStringList{"a"};
        QTest::newRow("a line continued") << "a\\\nb c" << QStringList{"ab", "c"};
        QTest::newRow("a line continued in double quotes") << "\"a\\\nb\"" << QStringList{"ab"};
        QTest::newRow("a lone backslash at the end") << "a\\" << QStringList{"a\\"};
        QTest::newRow("nothing expanded, no operators")
            << "echo $HOME ~ *.csv a|b c;d >e `f` #g"
            << QStringList{"echo", "$HOME", "~", "*.csv", "a|b", "c;d", ">e", "`f`", "#g"};
        QTest::newRow("only blanks") << " \t " << QStringList{};
        QTest::newRow("a single quote never closed")
            << "rec.py 'a b" << QStringList{"REFUSED: its single quote at character 8 is never closed"};
        QTest::newRow("a double quote never closed")
            << "x \"a\\\"" << QStringList{"REFUSED: its double quote at character 3 is never closed"};
    }
    void splitCommandWords() {
        QFETCH(QString, command);
        QFETCH(QStringList, words);
        const auto got = alarms::SplitCommandWords(command);
        QCOMPARE(got ? *got : QStringList{"REFUSED: " + got.Reason()}, words);
    }

    // SCRIPT stands for a script that runs `then`, then writes its arguments, each followed by '|', as
    // a line of the file `got`; DIR for the folder it is in. The crossing's word is the script's $2.
    void limitCommand_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("then");
        QTest::addColumn<QStringList>("samples"); // the crossings of each
        QTest::addColumn<int>("maxWaiting");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<bool>("endAtOnce"); // the program ends right after the samples
        QTest::addColumn<QByteArray>("got");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QString>("shortfall");
        const QByteArray t = "2026-12-07T09:30:47.123+09:00|\n";
        const QString waits = "ad1 low waits: the --on-limit command for ad0 high is still running (its time "
                              "limit %1); crossings run their commands in turn once it has ended";
        QTest::newRow("one crossing") << "SCRIPT --oven"
                                      << "" << QStringList{"ad0 high"} << 100 << 60'000 << false
                                      << "--oven|ad0|high|412|°C|" + t << QStringList{} << "";
        QTest::newRow("three queued, in turn: the wait said once")
            << "SCRIPT"
            << "" << QStringList{"ad0 high; ad1 low", "ad0 back"} << 100 << 60'000 << false
            << "ad0|high|412|°C|" + t + "ad1|low|1.23|V|" + t + "ad0|back|412|°C|" + t
            << QStringList{waits.arg("60 s")} << "";
        QTest::newRow("arguments split as a shell splits them")
            << "SCRIPT 'a b' \"c\\\"d\" e\\ f ''"
            << "" << QStringList{"ad0 high"} << 100 << 60'000 << false << "a b|c\"d|e f||ad0|high|412|°C|" + t
            << QStringList{} << "";
        QTest::newRow("a program that does not exist")
            << "DIR/none \"an argument\""
            << "" << QStringList{"ad0 low"} << 100 << 60'000 << false << QByteArray()
            << QStringList{"ad0 low: the --on-limit command DIR/none 'an argument' ad0 low 412 °C "
                           "2026-12-07T09:30:47.123+09:00 failed: it could not start: "}
            << "1 --on-limit commands failed";
        QTest::newRow("status 3")
            << "SCRIPT"
            << "exit 3" << QStringList{"ad0 high"} << 100 << 60'000 << false << QByteArray()
            << QStringList{"ad0 high: the --on-limit command SCRIPT ad0 high 412 °C "
                           "2026-12-07T09:30:47.123+09:00 failed: it ended with status 3"}
            << "1 --on-limit commands failed";
        QTest::newRow("too many waiting: said when the first is dropped")
            << "SCRIPT"
            << "" << QStringList{"ad0 high; ad1 low", "ad0 back"} << 1 << 60'000 << false
            << "ad0|high|412|°C|" + t + "ad1|low|1.23|V|" + t
            << QStringList{waits.arg("60 s"), "1 crossings wait for the --on-limit command SCRIPT: later "
                                              "crossings run no command "
                                              "until it catches up; their number is said at the end"}
            << "1 crossings ran no --on-limit command, too many waiting";
        QTest::newRow("one that never ends: ended at its limit, the next runs")
            << "SCRIPT"
            << "[ \"$2\" = high ] && exec sleep 100000" << QStringList{"ad0 high; ad1 low"} << 100 << 1'000
            << false << "ad1|low|1.23|V|" + t
            << QStringList{waits.arg("1 s"),
                           "ad0 high: the --on-limit command SCRIPT ad0 high 412 °C "
                           "2026-12-07T09:30:47.123+09:00 is still running after its time "
                           "limit of 1 s: it is ended (SIGTERM now, SIGKILL 5 s later if it "
                           "is still running)"}
            << "1 --on-limit commands failed";
        QTest::newRow("one that ignores SIGTERM, and what it started: SIGKILL")
            << "SCRIPT"
            << "[ \"$2\" = high ] && { trap '' TERM; sleep 100000; }" << QStringList{"ad0 high; ad1 low"}
            << 100 << 1'000 << false << "ad1|low|1.23|V|" + t
            << QStringList{waits.arg("1 s"), "ad0 high: the --on-limit command SCRIPT ad0 high 412 °C "
                                             "2026-12-07T09:30:47.123+09:00 is still running after its time "
                                             "limit of 1 s: it is ended"}
            << "1 --on-limit commands failed";
        QTest::newRow("the program ends first")
            << "SCRIPT"
            << "exec sleep 100000" << QStringList{"ad0 high; ad1 low"} << 100 << 60'000 << true
            << QByteArray()
            << QStringList{waits.arg("60 s"),
                           "the --on-limit command SCRIPT did not run for 1 crossings (ad1 low): the program "
                           "ended first",
                           "ad0 high: the --on-limit command SCRIPT ad0 high 412 °C "
                           "2026-12-07T09:30:47.123+09:00 "
                           "was still running when the program ended: it is ended (SIGTERM now, SIGKILL 5 s "
                           "later if it is still running)"}
            << "1 --on-limit commands failed; 1 crossings ran no --on-limit command, the program ending "
               "first";
    }
    void limitCommand() {
        QFETCH(QString, command);
        QFETCH(QString, then);
        QFETCH(QStringList, samples);
        QFETCH(int, maxWaiting);
        QFETCH(int, limitMs);
        QFETCH(bool, endAtOnce);
        QFETCH(QByteArray, got);
        QFETCH(QStringList, said);
        QFETCH(QString, shortfall);
        QTemporaryDir dir;
        const QString script = WriteScript(dir, then);
        command.replace("SCRIPT", script).replace("DIR", dir.path());

        alarms::LimitCommand sink(command, std::chrono::milliseconds(limitMs), std::size_t(maxWaiting));
        QSignalSpy ended(&sink, &alarms::LimitCommand::CommandEnded);
        QVERIFY(sink.RunStarted(OvenRun()));
        int crossings = 0;
        for (const QString& notes : samples) {
            QVERIFY(sink.Take(Crossing(notes)));
            crossings += int(channels::ParseNotes(notes.toStdString()).size());
        }
        QVERIFY(sink.Take(Crossing(QString()))); // a plain sample runs nothing
        if (endAtOnce) {
            bool over = false;
            sink.FinishWithin(std::chrono::milliseconds(0), [&over] { over = true; });
            QTRY_VERIFY_WITH_TIMEOUT(over, 30'000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), qMin(crossings, maxWaiting + 1), 30'000);
        }
        QVERIFY(sink.Idle());
        QCOMPARE(ReadAll(dir.filePath("got")), got);
        QStringList expected = said.replaceInStrings("SCRIPT", script).replaceInStrings("DIR", dir.path());
        QCOMPARE(said_.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(said_[i].startsWith(expected[i]), qPrintable(said_[i]));
        QCOMPARE(sink.Shortfall(), shortfall);
    }

    // A command has no descriptor of ours but 0-2, even one we hold open without close-on-exec (a
    // socket, as libmosquitto's is): read from outside, in /proc, while it runs. Standard input is
    // /dev/null, standard output goes where standard error goes, and it leads a session of its own.
    void commandHoldsNoDescriptorOfOurs() {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        const int file = ::open("/dev/zero", O_RDONLY);
        QVERIFY(socket > 2 && file > 2);
        QCOMPARE(::fcntl(socket, F_GETFD) & FD_CLOEXEC, 0);
        QTemporaryDir dir;
        alarms::LimitCommand sink(WriteScript(dir, "exec sleep 100000"));
        QVERIFY(sink.RunStarted(OvenRun()));
        QVERIFY(sink.Take(Crossing("ad0 high")));
        auto* process = sink.findChild<QProcess*>();
        QVERIFY(process);
        const QString proc = QStringLiteral("/proc/%1/").arg(process->processId());
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(proc + "cmdline").startsWith("sleep"), 30'000);
        // The exec closes the descriptors marked close-on-exec just after the command line is the new one.
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(proc + "fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
            (QStringList{"0", "1", "2"}), 10'000);
        QCOMPARE(Link(proc + "fd/0"), "/dev/null");
        QCOMPARE(Link(proc + "fd/1"), Link("/proc/self/fd/2"));
        // stat: pid (comm) state ppid pgrp session
        const QList<QByteArray> stat = ReadAll(proc + "stat").split(')').value(1).split(' ');
        QCOMPARE(stat.value(3), QByteArray::number(process->processId())); // its process group
        QCOMPARE(stat.value(4), QByteArray::number(process->processId())); // its session
        bool over = false;
        sink.FinishWithin(std::chrono::milliseconds(0), [&over] { over = true; });
        QTRY_VERIFY_WITH_TIMEOUT(over, 30'000);
        ::close(socket);
        ::close(file);
    }

    // What the desktop is asked to show, and what is said, once, when it cannot show anything.
    void desktopNotice_data() {
        QTest::addColumn<QString>("answer");    // "shown", or the error's type and message
        QTest::addColumn<QStringList>("asked"); // summary / body / urgency
        const QStringList asked{
            "Tavrin: Oven high / ad0 (Oven) high: 412 °C, above the high limit of 400 °C / urgency 2",
            "Tavrin: Oven back / ad0 (Oven) back: 412 °C, back inside 100 °C to 400 °C / urgency 1",
            "Tavrin: AD1 low / ad1 (AD1) low: 1.23 V, below the low limit of 2.00 V / urgency 2"};
        QTest::newRow("shown") << "shown" << asked;
        QTest::newRow("no service: said once") << "ServiceUnknown: no notification service" << asked;
        QTest::newRow("no bus: said once, nothing sent after") << "Disconnected: no bus" << asked.mid(0, 1);
    }
    void desktopNotice() {
        QFETCH(QString, answer);
        QFETCH(QStringList, asked);
        QStringList got;
        alarms::DesktopNotice sink([&](const QVariantList& arguments) {
            got << arguments[3].toString() + " / " + arguments[4].toString() + " / urgency " +
                       QString::number(arguments[6].toMap().value("urgency").toInt());
            if (answer == "shown")
                return QDBusPendingCall::fromCompletedCall(
                    QDBusMessage::createMethodCall("s", "/p", "i", "m").createReply());
            const auto type =
                answer.startsWith("Disconnected") ? QDBusError::Disconnected : QDBusError::ServiceUnknown;
            return QDBusPendingCall::fromError(QDBusError(type, answer.section(": ", 1)));
        });
        acquisition::RunInfo run = OvenRun();
        run.channels[1].limits.low = 2;
        QVERIFY(sink.RunStarted(run));
        for (const char* notes : {"ad0 high", "", "ad0 back; ad1 low"})
            QVERIFY(sink.Take(Crossing(notes)));
        QCOMPARE(got, asked);
        QCOMPARE(said_,
                 answer == "shown"
                     ? QStringList{}
                     : QStringList{"desktop notifications are not available (" + answer.section(": ", 1) +
                                   "); crossings are said here and on the status line only"});
    }

    // The real call, on a session bus of the test's own with the stand-in service on it.
    void notifiedThroughASessionBus() {
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty())
            QSKIP("no dbus-daemon here (Debian package dbus-daemon)");
        QProcess bus;
        bus.start(daemon, {"--session", "--nofork", "--print-address"});
        QVERIFY(bus.waitForReadyRead(30'000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        Notifications service;
        {
            QDBusConnection own = QDBusConnection::connectToBus(address, "notifications");
            QVERIFY(own.registerService("org.freedesktop.Notifications"));
            QVERIFY(own.registerObject("/org/freedesktop/Notifications", &service,
                                       QDBusConnection::ExportAllSlots));
            alarms::DesktopNotice sink;
            QVERIFY(sink.RunStarted(OvenRun()));
            QVERIFY(sink.Take(Crossing("ad0 high")));
            QTRY_COMPARE(service.shown,
                         QStringList{"Tavrin: Oven high / ad0 (Oven) high: 412 °C, above the high "
                                     "limit of 400 °C / urgency 2"});
            QCOMPARE(said_, QStringList{});
        }
        QDBusConnection::disconnectFromBus("notifications");
        bus.terminate();
        QVERIFY(bus.waitForFinished(30'000));
    }
};

QTEST_GUILESS_MAIN(AlarmTest)
#include "alarm_test.moc"
