// The real program with a command that never returns: the command holds none of
// the program's descriptors (the MQTT connection to a real broker included), and
// a stop signal ends it and a broker that is not there side by side, the command
// within its end wait (10 s) and the MQTT queue within its own (10 s), not one
// after the other.
#include "tests/publish/mqtt_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class AlarmProgramTest : public QObject {
    Q_OBJECT
private slots:
    void aHungCommandHoldsNothingAndEndsWithTheProgram_data();
    void aHungCommandHoldsNothingAndEndsWithTheProgram();
};

void AlarmProgramTest::aHungCommandHoldsNothingAndEndsWithTheProgram_data() {
    QTest::addColumn<bool>("brokerUp");
    QTest::addColumn<QString>("mqttSaid");
    QTest::newRow("a broker connected") << true << "";
    QTest::newRow("no broker") << false << "samples were not delivered to the MQTT broker";
}

void AlarmProgramTest::aHungCommandHoldsNothingAndEndsWithTheProgram() {
    QFETCH(bool, brokerUp);
    QFETCH(QString, mqttSaid);
    const quint16 port = testing::FreePort();
    testing::MosquittoBroker broker;
    if (brokerUp)
        QVERIFY(broker.Start(port));
    QTemporaryDir dir;
    const QString script = dir.filePath("on-limit");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(("#!/bin/sh\necho $$ >'" + dir.filePath("started") + "'\nexec sleep 100000\n").toUtf8());
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcess tavrin;
    tavrin.setWorkingDirectory(dir.path());
    QStringList arguments{"--headless", "--device",     "sim", "--tick-ms",       "10",     "--record",
                          "off",        "--continuous", "on",  "--sampling-time", "1",      "--ad0-scale",
                          "0=0,5=500",  "--ad0-unit",   "°C",  "--ad0-limits",    "100:400"};
    arguments << "--param-dir" << dir.path() << "--on-limit"
              << "'" + script + "' --oven"
              << "--publish" << QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(port);
    tavrin.start(QStringLiteral(TAVRIN_EXECUTABLE), arguments);
    QTRY_VERIFY_WITH_TIMEOUT(QFile(dir.filePath("started")).size() > 0, 60'000);
    QFile started(dir.filePath("started"));
    QVERIFY(started.open(QIODevice::ReadOnly));
    const pid_t command = pid_t(started.readAll().trimmed().toInt());
    QVERIFY(command > 0);
    // Its descriptors as seen from outside: its standard streams alone, once it has become the sleep.
    const QString descriptors = QStringLiteral("/proc/%1/fd").arg(command);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(QStringLiteral("/proc/%1/exe").arg(command))
                                 .symLinkTarget()
                                 .endsWith(QStringLiteral("/sleep")),
                             30'000);
    // The exec closes the descriptors marked close-on-exec just after the program is the new one.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(descriptors).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
                              QStringList({"0", "1", "2"}), 10'000);
    QElapsedTimer sinceStop;
    sinceStop.start();
    QCOMPARE(::kill(pid_t(tavrin.processId()), SIGTERM), 0);
    QVERIFY(tavrin.waitForFinished(60'000));
    // One after the other they took 20 s and more; side by side about 10 s.
    QVERIFY2(sinceStop.elapsed() < 15'000, qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(tavrin.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tavrin.exitCode(), 4); // the command ended (and without a broker, the samples not delivered)
    const QString err = QString::fromLocal8Bit(tavrin.readAllStandardError());
    QVERIFY2(err.contains("was still running when the program ended: it is ended (SIGTERM now"),
             qPrintable(err));
    QVERIFY2(err.contains(mqttSaid), qPrintable(err));
    QVERIFY2(!err.contains("QProcess"), qPrintable(err));
    // The command went with the program.
    QTRY_VERIFY_WITH_TIMEOUT(::kill(command, 0) != 0, 30'000);
}

QTEST_GUILESS_MAIN(AlarmProgramTest)
#include "alarm_program_test.moc"
