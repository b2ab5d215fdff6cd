// The one reporter: the same message again within a second is counted and said once a second with
// its count, wherever reports go; standard error that nobody reads never holds a report up, and
// what did not fit is counted and said once it is read again.
#include "report/reporter.h"
#include "report/standing_line.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

class ReporterTest : public QObject {
    Q_OBJECT

    report::Output reports_; // where reports go outside this test

private slots:
    void initTestCase() { reports_ = report::SetReportOutput(report::SetReportOutput({})); }
    void cleanup() {
        report::SetReportClock({});
        report::SetReportOutput(reports_);
    }

    // Steps: "T module text" a report at T ms; "T say" the timer's call at T; "T output" another output
    // from then on; "end" the program's end.
    void repeatsAreCounted_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("the first at once, the repeats of its second said when it is over")
            << QStringList{"0 limits a", "100 limits a", "900 limits a", "999 say", "1000 say"}
            << QStringList{"limits: a", "limits: a (repeated 2 times)"};
        QTest::newRow("a steady burst: a line a second")
            << QStringList{"0 limits a",    "500 limits a",  "1000 limits a",
                           "1500 limits a", "2000 limits a", "end"}
            << QStringList{"limits: a", "limits: a (repeated 2 times)", "limits: a (repeated 2 times)"};
        QTest::newRow("other texts are other messages")
            << QStringList{"0 limits a", "0 limits b", "10 limits a", "end"}
            << QStringList{"limits: a", "limits: b", "limits: a (repeated 1 time)"};
        QTest::newRow("the same text from another module is another message")
            << QStringList{"0 limits a", "0 device a", "end"} << QStringList{"limits: a", "device: a"};
        QTest::newRow("said again after its second with none counted: said as it is")
            << QStringList{"0 limits a", "1500 limits a", "end"} << QStringList{"limits: a", "limits: a"};
        QTest::newRow("another report says the counts whose second is over")
            << QStringList{"0 limits a", "200 limits a", "1200 device b"}
            << QStringList{"limits: a", "limits: a (repeated 1 time)", "device: b"};
        QTest::newRow("at the end every count is said")
            << QStringList{"0 limits a", "1 limits a", "2 limits a", "3 say", "end"}
            << QStringList{"limits: a", "limits: a (repeated 2 times)"};
        QTest::newRow("another output: the counts said where they went, then counted afresh")
            << QStringList{"0 limits a", "1 limits a", "2 output", "3 limits a"}
            << QStringList{"limits: a", "limits: a (repeated 1 time)", "then limits: a"};
    }
    void repeatsAreCounted() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, said);
        qint64 now = 0;
        report::SetReportClock([&now] { return now; });
        QStringList got;
        // Back before `got` goes: a switch of output says what is still counted.
        const auto restore = qScopeGuard([this] {
            report::SetReportOutput(reports_);
            report::SetReportClock({}); // the clock reads `now`, which goes with this test
        });
        report::SetReportOutput([&got](const char* module, const QString& text) {
            got << QString::fromLatin1(module) + ": " + text;
        });
        for (const QString& step : steps) {
            const QStringList words = step.split(' ');
            if (words[0] == "end") {
                report::SayRepeats(true);
                continue;
            }
            now = words[0].toLongLong();
            if (words[1] == "output")
                report::SetReportOutput([&got](const char* module, const QString& text) {
                    got << "then " + QString::fromLatin1(module) + ": " + text;
                });
            else if (words[1] == "say")
                report::SayRepeats();
            else
                report::Report(words[1] == "limits" ? report::module::kLimits : report::module::kDevice,
                               words[2]);
        }
        QCOMPARE(got, said);
    }

    // Standard error a pipe nobody reads: a flood of reports from two threads all return; once the
    // pipe is read, every line that fitted arrives whole, and the count of the others once.
    void aStandardErrorNobodyReadsHoldsNothingUp() {
        std::signal(SIGPIPE, SIG_IGN);
        int ends[2];
        QVERIFY(::pipe2(ends, O_CLOEXEC) == 0);
        QVERIFY(::fcntl(ends[1], F_SETPIPE_SZ, 4096) >= 0);
        const int savedError = ::dup(STDERR_FILENO);
        QVERIFY(::dup2(ends[1], STDERR_FILENO) == STDERR_FILENO);
        ::close(ends[1]);
        const std::size_t capacityBefore = report::SetStandardErrorCapacity(8192);
        constexpr int kEach = 5000;
        std::thread other([] {
            for (int i = 0; i < kEach; ++i)
                report::Report(report::module::kLimits, QStringLiteral("other %1").arg(i));
        });
        for (int i = 0; i < kEach; ++i)
            report::Report(report::module::kLimits, QStringLiteral("this %1").arg(i));
        other.join();
        // Everything has returned; now the pipe is read.
        QByteArray read;
        const QRegularExpression lostLine(
            "tavrin: (\\d+) messages to standard error were lost while it was not "
            "being read\n");
        char block[4096];
        for (pollfd ready{ends[0], POLLIN, 0};
             !lostLine.match(QString::fromLatin1(read)).hasMatch() && ::poll(&ready, 1, 60'000) > 0;) {
            const ssize_t n = ::read(ends[0], block, sizeof block);
            if (n <= 0)
                break;
            read.append(block, n);
        }
        QVERIFY(report::FlushStandardError(60'000));
        ::dup2(savedError, STDERR_FILENO);
        ::close(savedError);
        ::close(ends[0]);
        report::SetStandardErrorCapacity(capacityBefore);
        const QRegularExpressionMatch lost = lostLine.match(QString::fromLatin1(read));
        QVERIFY2(lost.hasMatch(), read.right(300).constData());
        QVERIFY(read.endsWith(lost.captured(0).toLatin1()));
        QCOMPARE(read.count("were lost"), qsizetype(1));
        const QList<QByteArray> lines = read.split('\n');
        qsizetype whole = 0;
        for (const QByteArray& line : lines)
            if (QRegularExpression("^tavrin: limits: (this|other) \\d+$")
                    .match(QString::fromLatin1(line))
                    .hasMatch())
                ++whole;
        // Each report arrived whole or was counted: none torn, none twice.
        QCOMPARE(whole + lost.captured(1).toLongLong(), qsizetype(2 * kEach));
        QCOMPARE(lines.size(), whole + 2); // and the lost line, and after its line end nothing
    }

    // The progress line standing under the reports is drawn again below each, as before.
    void theStandingLineStandsUnderReports() {
        int ends[2];
        QVERIFY(::pipe2(ends, O_CLOEXEC) == 0);
        const int savedError = ::dup(STDERR_FILENO);
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
        report::ShowStandingLine("samples 1");
        report::WriteStandardError("app", "a");
        report::EndStandingLine();
        QVERIFY(report::FlushStandardError(60'000));
        ::dup2(savedError, STDERR_FILENO);
        ::close(savedError);
        char block[256];
        const ssize_t n = ::read(ends[0], block, sizeof block);
        ::close(ends[0]);
        QCOMPARE(QByteArray(block, int(std::max<ssize_t>(n, 0))),
                 QByteArray("\rsamples 1\033[K\r\033[Ktavrin: app: a\n\rsamples 1\033[K\n"));
    }
};

QTEST_GUILESS_MAIN(ReporterTest)
#include "reporter_test.moc"
