// The measuring tools under the benchmark figures: the spread of timings, CPU time and
// context switches read from /proc, and the exit statuses, folder and memory of a started program.
#include "bench/child_process.h"
#include "bench/process_cpu_time.h"
#include "bench/sample_spread.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace std::chrono_literals;

class TestBenchSupport : public QObject {
    Q_OBJECT

private slots:
    void spreadOfTimings_data() {
        QTest::addColumn<std::vector<double>>("values");
        QTest::addColumn<double>("median");
        QTest::addColumn<double>("p90");
        QTest::addColumn<double>("p99");
        QTest::addColumn<double>("mean");
        QTest::newRow("none") << std::vector<double>{} << 0.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("one") << std::vector<double>{7} << 7.0 << 7.0 << 7.0 << 7.0;
        QTest::newRow("odd count, unsorted") << std::vector<double>{3, 1, 2} << 2.0 << 3.0 << 3.0 << 2.0;
        QTest::newRow("1 to 10, shuffled")
            << std::vector<double>{5, 1, 9, 3, 7, 2, 10, 4, 8, 6} << 6.0 << 9.0 << 10.0 << 5.5;
        std::vector<double> oneSlow(99, 1.0);
        oneSlow.push_back(1000);
        QTest::newRow("one slow sample in a hundred") << oneSlow << 1.0 << 1.0 << 1.0 << 10.99;
        std::vector<double> twoSlow(98, 1.0);
        twoSlow.insert(twoSlow.end(), {500, 1000});
        QTest::newRow("two slow samples in a hundred") << twoSlow << 1.0 << 1.0 << 500.0 << 15.98;
    }
    void spreadOfTimings() {
        QFETCH(std::vector<double>, values);
        QFETCH(double, median);
        QFETCH(double, p90);
        QFETCH(double, p99);
        QFETCH(double, mean);
        const auto spread = bench::SpreadOf(values);
        QCOMPARE(spread.count, values.size());
        QCOMPARE(spread.median, median);
        QCOMPARE(spread.p90, p90);
        QCOMPARE(spread.p99, p99);
        QVERIFY(qAbs(spread.mean - mean) < 1e-9);
    }

    void cpuTimeFromStatLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<long>("ticksPerSecond");
        QTest::addColumn<qint64>("expectedMs"); // -1: no figure
        const QByteArray tail = " S 1 4242 4242 0 -1 4194560 500 0 0 0 250 30 0 0 20 0 3 0 100 1000 50";
        QTest::newRow("plain name") << "4242 (tavrin)" + tail << 100L << qint64(2800);
        QTest::newRow("name with spaces") << "4242 (my logger)" + tail << 100L << qint64(2800);
        QTest::newRow("name with parentheses") << "4242 (a) S (b))" + tail << 100L << qint64(2800);
        QTest::newRow("1000 ticks a second") << "4242 (tavrin)" + tail << 1000L << qint64(280);
        QTest::newRow("cut before stime")
            << QByteArray("4242 (tavrin) S 1 4242 4242 0 -1 4194560 500 0 0 0 250") << 100L << qint64(-1);
        QTest::newRow("no command name") << QByteArray("4242 tavrin S 1 2 3") << 100L << qint64(-1);
        QTest::newRow("empty") << QByteArray() << 100L << qint64(-1);
    }
    void cpuTimeFromStatLine() {
        QFETCH(QByteArray, line);
        QFETCH(long, ticksPerSecond);
        QFETCH(qint64, expectedMs);
        const auto cpu = bench::CpuTimeFromStatLine(std::string_view(line.constData(), size_t(line.size())),
                                                    ticksPerSecond);
        if (expectedMs < 0) {
            QVERIFY(!cpu);
            return;
        }
        QVERIFY(cpu);
        QCOMPARE(std::chrono::duration_cast<std::chrono::milliseconds>(*cpu).count(), expectedMs);
    }

    void contextSwitchesFromStatus_data() {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<qint64>("voluntary"); // -1: no figure
        QTest::addColumn<qint64>("involuntary");
        QTest::newRow("a thread's status")
            << QByteArray("Name:\ttavrin\nState:\tS (sleeping)\nThreads:\t5\nvoluntary_ctxt_switches:\t1202\n"
                          "nonvoluntary_ctxt_switches:\t37\n")
            << qint64(1202) << qint64(37);
        QTest::newRow("no involuntary line")
            << QByteArray("voluntary_ctxt_switches:\t4\n") << qint64(-1) << qint64(-1);
        QTest::newRow("empty") << QByteArray() << qint64(-1) << qint64(-1);
    }
    void contextSwitchesFromStatus() {
        QFETCH(QByteArray, status);
        QFETCH(qint64, voluntary);
        QFETCH(qint64, involuntary);
        const auto counts =
            bench::ContextSwitchesFromStatus(std::string_view(status.constData(), size_t(status.size())));
        if (voluntary < 0) {
            QVERIFY(!counts);
            return;
        }
        QVERIFY(counts);
        QCOMPARE(counts->voluntary, voluntary);
        QCOMPARE(counts->involuntary, involuntary);
    }

    // The figure read from /proc for this process follows the kernel's own clock for it.
    void ownCpuTimeFromProc() {
        const auto proc0 = bench::ProcessCpuTime(getpid());
        const auto own0 = bench::OwnCpuTime();
        QVERIFY(proc0);
        volatile unsigned long spin = 0;
        while (bench::OwnCpuTime() - own0 < 50ms)
            spin = spin + 1;
        const auto proc1 = bench::ProcessCpuTime(getpid());
        const auto own1 = bench::OwnCpuTime();
        QVERIFY(proc1);
        const auto procSpent = *proc1 - *proc0;
        const auto ownSpent = own1 - own0;
        // /proc/PID/stat counts in clock ticks of 10 ms where the scheduler's figure is missing.
        QVERIFY2(procSpent > ownSpent - 20ms && procSpent < ownSpent + 20ms,
                 qPrintable(QStringLiteral("/proc %1 ms, clock %2 ms")
                                .arg(std::chrono::duration<double, std::milli>(procSpent).count())
                                .arg(std::chrono::duration<double, std::milli>(ownSpent).count())));
    }

    void exitStatusOfAStartedProgram_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::newRow("normal end") << "echo shown" << 0 << "shown\n";
        QTest::newRow("status 2") << "echo timed out >&2; exit 2" << 2 << "timed out\n";
        QTest::newRow("killed") << "kill -KILL $$" << -9 << "";
    }
    void exitStatusOfAStartedProgram() {
        QFETCH(QString, script);
        QFETCH(int, status);
        QFETCH(QString, output);
        QTemporaryDir scratch;
        bench::ChildProcess child("/bin/sh", {"-c", script.toStdString()},
                                  scratch.filePath(QStringLiteral("output")).toStdString());
        const auto ended = child.WaitForExit(10s);
        QVERIFY(ended);
        QCOMPARE(*ended, status);
        QVERIFY(!child.Running());
        QCOMPARE(QString::fromStdString(child.OutputTail()), output);
        // A process that is gone has no CPU time or context switches to read, but its peak memory.
        QVERIFY(!bench::ProcessCpuTime(child.Pid()));
        QVERIFY(!bench::ProcessContextSwitches(child.Pid()));
        QVERIFY(child.PeakRssKib() && *child.PeakRssKib() > 0);
    }

    void programStartedInAFolder() {
        QTemporaryDir scratch, folder;
        QFile marker(folder.filePath(QStringLiteral("marker")));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        bench::ChildProcess child("/bin/sh", {"-c", "ls"},
                                  scratch.filePath(QStringLiteral("output")).toStdString(),
                                  folder.path().toStdString());
        QCOMPARE(child.WaitForExit(10s), std::optional<int>(0));
        QCOMPARE(QString::fromStdString(child.OutputTail()), QStringLiteral("marker\n"));
    }

    void programStillRunningIsKilledAndReaped() {
        QTemporaryDir scratch;
        bench::ChildProcess child("/bin/sh", {"-c", "exec sleep 60"},
                                  scratch.filePath(QStringLiteral("output")).toStdString());
        QVERIFY(!child.WaitForExit(0ms));
        QVERIFY(child.Running());
        QVERIFY(bench::ProcessCpuTime(child.Pid()));
        QVERIFY(bench::ProcessContextSwitches(child.Pid()));
        QVERIFY(!child.PeakRssKib());
        child.Kill();
        QCOMPARE(child.WaitForExit(0ms), std::optional<int>(-9));
    }

    void programThatCannotStart() {
        QTemporaryDir scratch;
        QVERIFY_THROWS_EXCEPTION(
            std::runtime_error,
            bench::ChildProcess("/nonexistent/tavrin", {},
                                scratch.filePath(QStringLiteral("output")).toStdString()));
    }
};

QTEST_GUILESS_MAIN(TestBenchSupport)
#include "test_bench_support.moc"
