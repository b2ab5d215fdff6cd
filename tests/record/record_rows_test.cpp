// The run record in-process: what a reply decodes to, row by row; names that
// never take an existing file; a write that fails.
#include "acquisition/reply_decoding.h"
#include "acquisition/sample_feed.h"
#include "record/csv_row.h"
#include "record/run_record_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <csignal>
#include <sys/resource.h>

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

} // namespace

class RecordRowsTest : public QObject {
    Q_OBJECT

private slots:
    void decodeRules_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ad0On");
        QTest::addColumn<bool>("ad1On");
        QTest::addColumn<QByteArray>("row");
        const QByteArray t = "2026-12-07T09:30:47.123+09:00,83.045,2,17,";
        QTest::newRow("a sample") << QByteArray("AD0=307 V, AD1=123?\r\n") << true << true << t + "3.07,1.23,1,1,1,1,\r\n";
        QTest::newRow("status 9") << QByteArray("AD0=600 V, AD1=000" "9\r\n") << true << true << t + "6.00,0.00,1,0,0,1,\r\n";
        QTest::newRow("status 0") << QByteArray("AD0=000 V, AD1=999" "0\r\n") << true << true << t + "0.00,9.99,0,0,0,0,\r\n";
        QTest::newRow("status A: high bits ignored") << QByteArray("AD0=001 V, AD1=010A\r\n") << true << true
                                                     << t + "0.01,0.10,0,0,0,1,\r\n";
        QTest::newRow("noise before the marker") << QByteArray("..\r\nAD0=250 V, AD1=301" "5\r\n") << true << true
                                                 << t + "2.50,3.01,0,1,0,1,\r\n";
        QTest::newRow("AD0 not digits") << QByteArray("AD0=1:0 V, AD1=123" "3\r\n") << true << true
                                        << t + ",1.23,0,0,1,1,\r\n";
        QTest::newRow("AD1 with a blank") << QByteArray("AD0=123 V, AD1= 23" "3\r\n") << true << true
                                          << t + "1.23,,0,0,1,1,\r\n";
        QTest::newRow("AD0 box off") << QByteArray("AD0=307 V, AD1=123" "3\r\n") << false << true << t + ",1.23,0,0,1,1,\r\n";
        QTest::newRow("both boxes off") << QByteArray("AD0=307 V, AD1=123" "3\r\n") << false << false
                                        << t + ",,0,0,1,1,\r\n";
        QTest::newRow("no marker") << QByteArray("#D0=307 V, #D1=123" "3\r\n") << true << true << t + ",,,,,,no frame\r\n";
        QTest::newRow("marker past 49") << QByteArray(50, '.') + "AD0=307 V, AD1=123" "3\r\n" << true << true
                                        << t + ",,,,,,no frame\r\n";
    }
    void decodeRules() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ad0On);
        QFETCH(bool, ad1On);
        QFETCH(QByteArray, row);
        // Sweep 2 and 83.045 s into the run, at column 17.
        struct Rows : acquisition::SampleSink {
            std::string text;
            const char* Module() const override { return "test"; }
            report::Done RunStarted(const acquisition::RunInfo&) override { return {}; }
            report::Done Take(const acquisition::DecodedSample& s) override {
                record::AppendRow(text, s);
                return {};
            }
        } rows;
        long long ms = 1'000'000;
        acquisition::SampleFeed feed({&rows}, [&ms] { return std::chrono::milliseconds(ms); }, {});
        feed.RunStarted({});
        feed.SweepEnded();
        feed.SweepEnded();
        ms += 83'045;
        feed.Take(acquisition::SampleOf(acquisition::DecodeReply(Reply(reply)), {ad0On, ad1On}), kReplyTime, 17);
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
                 QByteArray("time,elapsed_s,sweep,x,ad0_v,ad1_v,hh,hl,lh,ll,note\r\n"
                            "2026-12-07T09:30:47.123+09:00,0.000,0,0,,,,,,,no reply\r\n"));
        QCOMPARE(ReadAll(target.fileName()), before);
        for (const QString& p : planted)
            if (p.startsWith("file:"))
                QCOMPARE(ReadAll(dir.filePath(p.section(':', 1))), before);
        QVERIFY(!QFile::exists(dir.filePath("nowhere")));
    }

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
                                     [&reports](const char*, const QString& m) { reports << m; });
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
        // 53 bytes of header, then whole rows of 60 bytes: 15 fit under 1000 bytes, the torn 16th is cut off.
        QCOMPARE(kept.size(), 53 + 15 * 60);
        QVERIFY(kept.endsWith("3.07,1.23,1,1,1,1,\r\n"));
    }
};

QTEST_GUILESS_MAIN(RecordRowsTest)
#include "record_rows_test.moc"
