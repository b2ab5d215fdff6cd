// The real program publishing: headless on the simulated unit, through a relay that goes down
// for 3 s mid-sweep, an oven on AD0 crossing its limits.
#include "tests/publish/mqtt_fixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <set>

class PublishProgramTest : public QObject {
    Q_OBJECT
private slots:
    void wholeProgramThroughACut();
};

// The real program, headless on the simulated unit, publishing through a relay that goes down for
// 3 s mid-sweep: every column of the sweep reaches the subscriber, in order, and the run ends normally;
// AD0's alarm topic holds, retained, the last crossing the samples noted.
void PublishProgramTest::wholeProgramThroughACut() {
    testing::MosquittoBroker broker;
    const quint16 brokerPort = testing::FreePort();
    QVERIFY(broker.Start(brokerPort));
    testing::TcpRelay relay(testing::FreePort(), brokerPort);
    QVERIFY(relay.Start());
    testing::Subscriber subscriber(brokerPort, "lab/#");
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.Subscribed(), 60000);
    QTemporaryDir dir;
    QProcess tavrin;
    tavrin.setWorkingDirectory(dir.path());
    tavrin.start(QStringLiteral(TAVRIN_EXECUTABLE),
                 {"--headless", "--device", "sim", "--tick-ms", "10", "--param-dir", dir.path(), "--record", "off",
                  "--continuous", "off", "--sampling-time", "1", "--ad0-scale", "0=0,5=500", "--ad0-unit", "°C",
                  "--ad0-limits", "100:400", "--publish",
                  QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(relay.Port())});
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.Messages().size() > 50, 60000);
    relay.Stop();
    QTest::qWait(3000);
    QVERIFY(relay.Start());
    // The relay lives on this event loop: keep it turning while the program finishes.
    QTRY_VERIFY_WITH_TIMEOUT(tavrin.state() == QProcess::NotRunning, 60000);
    QCOMPARE(tavrin.exitCode(), 0);
    std::vector<int> columns; // first arrivals
    std::set<std::string> seen;
    QJsonObject crossed; // the last sample that crossed a limit
    for (const std::string& m : subscriber.Messages())
        if (m.starts_with("lab/sim/sample ") && seen.insert(m).second) {
            const QJsonObject sample = QJsonDocument::fromJson(QByteArray::fromStdString(m.substr(15))).object();
            columns.push_back(sample["x"].toInt());
            if (sample["note"].toString().startsWith("ad0 "))
                crossed = sample;
        }
    QVERIFY(!crossed.isEmpty());
    testing::Subscriber dashboard(brokerPort, "lab/sim/alarm/ad0");
    QTRY_COMPARE_WITH_TIMEOUT(dashboard.Messages().size(), std::size_t(1), 60000);
    const QJsonObject alarm =
        QJsonDocument::fromJson(QByteArray::fromStdString(dashboard.Messages()[0].substr(18))).object();
    QCOMPARE(alarm["state"].toString(), crossed["note"].toString().mid(4));
    QCOMPARE(alarm["value"].toDouble(), crossed["ad0_value"].toDouble());
    QCOMPARE(alarm["unit"].toString(), "°C");
    QCOMPARE(alarm["time"].toString(), crossed["time"].toString());
    QCOMPARE(int(columns.size()), 601);
    for (int x = 0; x <= 600; ++x)
        QCOMPARE(columns[std::size_t(x)], x);
}

QTEST_GUILESS_MAIN(PublishProgramTest)
#include "publish_program_test.moc"
