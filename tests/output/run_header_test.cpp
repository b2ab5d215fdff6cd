#include "output/run_header.h"

#include <QTest>

class RunHeaderTest : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void dateTimeLine_data();
    void dateTimeLine();
};

void RunHeaderTest::lines_data() {
    QTest::addColumn<QString>("samplingTime");
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<int>("fileIndex");
    QTest::addColumn<QString>("samplingLine");
    QTest::addColumn<QString>("fileNameLine");

    QTest::newRow("defaults") << "10"
                              << "tavrin" << 0 << "SamplingTime = 10* 0.1S"
                              << "FileName = tavrin0";
    QTest::newRow("largest sampling time") << "600"
                                           << "tavrin" << 1 << "SamplingTime = 600* 0.1S"
                                           << "FileName = tavrin1";
    QTest::newRow("empty base name") << "10"
                                     << "" << 0 << "SamplingTime = 10* 0.1S"
                                     << "FileName = 0";
    QTest::newRow("last index") << "1"
                                << "run" << 65535 << "SamplingTime = 1* 0.1S"
                                << "FileName = run65535";
    QTest::newRow("as typed") << " 7 "
                              << "out/測定 " << 12 << "SamplingTime =  7 * 0.1S"
                              << "FileName = out/測定 12";
}

void RunHeaderTest::lines() {
    QFETCH(QString, samplingTime);
    QFETCH(QString, baseName);
    QFETCH(int, fileIndex);
    QFETCH(QString, samplingLine);
    QFETCH(QString, fileNameLine);

    const QStringList lines =
        output::RunHeaderLines(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)), QLocale::c(), samplingTime,
                               baseName, quint16(fileIndex));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[1], samplingLine);
    QCOMPARE(lines[2], fileNameLine);
}

void RunHeaderTest::dateTimeLine_data() {
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("dateAlone");
    QTest::addColumn<QString>("expected"); // the whole line for the date alone, else how it begins

    QTest::newRow("afternoon") << QTime(14, 7, 9) << false << "5 Mar 2024 14:07:09";
    QTest::newRow("midnight") << QTime(0, 0, 0) << true << "5 Mar 2024";
    QTest::newRow("midnight and a fraction") << QTime(0, 0, 0, 500) << true << "5 Mar 2024";
    QTest::newRow("one second past midnight") << QTime(0, 0, 1) << false << "5 Mar 2024 00:00:01";
    QTest::newRow("one hour past midnight") << QTime(1, 0, 0) << false << "5 Mar 2024 01:00:00";
}

void RunHeaderTest::dateTimeLine() {
    QFETCH(QTime, time);
    QFETCH(bool, dateAlone);
    QFETCH(QString, expected);

    const QStringList lines =
        output::RunHeaderLines(QDateTime(QDate(2024, 3, 5), time), QLocale::c(), "10", "tavrin", 0);
    const QString line = lines.value(0);
    if (dateAlone) {
        QCOMPARE(line, expected);
    } else {
        QVERIFY2(line.startsWith(expected), qPrintable(line));
    }
}

QTEST_MAIN(RunHeaderTest)
#include "run_header_test.moc"
