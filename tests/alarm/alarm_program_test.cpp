// The real program's end with a command that never returns and a broker that is
// not there: a stop signal ends both side by side, the command within its end
// wait (10 s) and the MQTT queue within its own (10 s), not one after the other.
#include "tests/publish/mqtt_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class AlarmProgramTest : public QObject {
    Q_OBJECT
private slots:
    void stopSignalEndsAHungCommandAndADeadBrokerSideBySide();
};

void AlarmProgramTest::stopSignalEndsAHungCommandAndADeadBrokerSideBySide() {
    QTemporaryDir dir;
    const QString script = dir.filePath("on-limit");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(("#!/bin/sh\necho $$ >'" + dir.filePath("started") + "'\nexec sleep 100000\n").toUtf8());
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcess tavrin;
    tavrin.setWorkingDirectory(dir.path());
    // Nothing listens on the broker's port.
    QStringList arguments{"--headless", "--device",     "sim", "--tick-ms",       "10",     "--record",
                          "off",        "--continuous", "on",  "--sampling-time", "1",      "--ad0-scale",
                          "0=0,5=500",  "--ad0-unit",   "°C",  "--ad0-limits",    "100:400"};
    arguments << "--param-dir" << dir.path() << "--on-limit"
              << "'" + script + "' --oven"
              << "--publish" << QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(testing::FreePort());
    tavrin.start(QStringLiteral(TAVRIN_EXECUTABLE), arguments);
    QTRY_VERIFY_WITH_TIMEOUT(QFile(dir.filePath("started")).size() > 0, 60'000);
    QFile started(dir.filePath("started"));
    QVERIFY(started.open(QIODevice::ReadOnly));
    const pid_t command = pid_t(started.readAll().trimmed().toInt());
    QVERIFY(command > 0);
    QElapsedTimer sinceStop;
    sinceStop.start();
    QCOMPARE(::kill(pid_t(tavrin.processId()), SIGTERM), 0);
    QVERIFY(tavrin.waitForFinished(60'000));
    // One after the other they took 20 s and more; side by side about 10 s.
    QVERIFY2(sinceStop.elapsed() < 15'000, qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(tavrin.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tavrin.exitCode(), 4); // the command ended, the samples not delivered
    const QString err = QString::fromLocal8Bit(tavrin.readAllStandardError());
    QVERIFY2(err.contains("was still running when the program ended: it is ended (SIGTERM now"),
             qPrintable(err));
    QVERIFY2(err.contains("samples were not delivered to the MQTT broker"), qPrintable(err));
    QVERIFY2(!err.contains("QProcess"), qPrintable(err));
    // The command went with the program.
    QTRY_VERIFY_WITH_TIMEOUT(::kill(command, 0) != 0, 30'000);
}

QTEST_GUILESS_MAIN(AlarmProgramTest)
#include "alarm_program_test.moc"
