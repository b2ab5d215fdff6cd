#include "publish/mqtt_publisher.h"
#include "publish/outbox.h"
#include "publish/sample_json.h"
#include "tests/publish/mqtt_fixture.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <set>

using acquisition::DecodedSample;
Q_DECLARE_METATYPE(acquisition::DecodedSample)

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(9, 30, 0), QTimeZone(9 * 3600));
const std::string kRun = "\"run\":\"2026-12-07T09:30:00.000+09:00\"}";

// Sample n of a run: AD0 rising, AD1 empty every 7th, the levels counting.
DecodedSample Sample(int n) {
    DecodedSample s{kStart.addMSecs(100LL * n),       100LL * n, n / 601, n % 601, n % 600, 600 - n % 600,
                    static_cast<std::uint8_t>(n % 16)};
    if (n % 7 == 0)
        s.ad1.reset();
    return s;
}

} // namespace

class PublishTest : public QObject {
    Q_OBJECT
private slots:
    void parseUrl_data();
    void parseUrl();
    void sampleJson_data();
    void sampleJson();
    void outbox_data();
    void outbox();
    void broker_data();
    void broker();
    void wholeProgramThroughACut();
};

void PublishTest::parseUrl_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("parsed"); // host port user prefix tls, or the error's start
    const auto row = [](const char* name, const char* url, const char* parsed) {
        QTest::newRow(name) << QString::fromUtf8(url) << QString::fromUtf8(parsed);
    };
    row("plain", "mqtt://broker/lab", "broker 1883  lab 0");
    row("user, port, levels", "mqtt://ann@db.example:1884/lab/floor2/", "db.example 1884 ann lab/floor2 0");
    row("tls", "mqtts://broker/lab", "broker 8883  lab 1");
    row("ipv6", "MQTT://[::1]:2000/x", "::1 2000  x 0");
    row("password", "mqtt://ann:pw@broker/lab", "--publish: put the password in the environment");
    row("scheme", "http://broker/lab", "--publish wants mqtt://");
    row("no prefix", "mqtt://broker/", "--publish: the URL 'mqtt://broker/' needs a topic prefix");
    row("no host", "mqtt:///lab", "--publish: the URL 'mqtt:///lab' names no broker host");
    row("wildcard", "mqtt://broker/lab/+", "--publish: the topic prefix 'lab/+' may not hold");
}

void PublishTest::parseUrl() {
    QFETCH(QString, url);
    QFETCH(QString, parsed);
    QString error;
    if (const auto t = publish::ParsePublishUrl(url, &error))
        QCOMPARE(
            QStringLiteral("%1 %2 %3 %4 %5").arg(t->host).arg(t->port).arg(t->user, t->prefix).arg(t->tls),
            parsed);
    else
        QVERIFY2(error.startsWith(parsed), qPrintable(error));
}

void PublishTest::sampleJson_data() {
    QTest::addColumn<DecodedSample>("sample");
    QTest::addColumn<std::string>("json");
    QTest::newRow("plain")
        << Sample(612)
        << R"({"time":"2026-12-07T09:31:01.200+09:00","elapsed_s":61.200,"sweep":1,"x":11,)"
           R"("ad0_v":0.12,"ad1_v":5.88,"hh":0,"hl":1,"lh":0,"ll":0,"note":null,)" +
               kRun;
    DecodedSample s = Sample(7);
    s.time = QDateTime(QDate(2026, 1, 2), QTime(23, 59, 59, 5), QTimeZone(-(3 * 3600 + 30 * 60)));
    s.ad0 = 600;
    QTest::newRow("empty AD1, west of UTC")
        << s
        << R"({"time":"2026-01-02T23:59:59.005-03:30","elapsed_s":0.700,"sweep":0,"x":7,"ad0_v":6.00,)"
           R"("ad1_v":null,"hh":0,"hl":1,"lh":1,"ll":1,"note":null,)" +
               kRun;
    s = DecodedSample{kStart, 5, 0, 600, {}, {}, {}, acquisition::SampleNote::NoReply};
    QTest::newRow("no reply")
        << s
        << R"({"time":"2026-12-07T09:30:00.000+09:00","elapsed_s":0.005,"sweep":0,"x":600,)"
           R"("ad0_v":null,"ad1_v":null,"hh":null,"hl":null,"lh":null,"ll":null,)"
           R"("note":"no reply",)" +
               kRun;
    s = DecodedSample{kStart, 0, 2, 0, 5, 10, 0x0F, acquisition::SampleNote::UnitBack};
    QTest::newRow("unit back")
        << s
        << R"({"time":"2026-12-07T09:30:00.000+09:00","elapsed_s":0.000,"sweep":2,"x":0,)"
           R"("ad0_v":0.05,"ad1_v":0.10,"hh":1,"hl":1,"lh":1,"ll":1,"note":"unit back",)" +
               kRun;
}

void PublishTest::sampleJson() {
    QFETCH(DecodedSample, sample);
    QFETCH(std::string, json);
    QCOMPARE(publish::SampleJson(sample, publish::IsoTime(kStart)), json);
}

void PublishTest::outbox_data() {
    // Steps: P push, N hand the next out (mid = 10 + its number), E the same with its PUBACK arriving
    // first, A<mid> PUBACK, R reconnect. `handed`: what went out, by number; `counts`: waiting delivered
    // dropped.
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("handed");
    QTest::addColumn<QString>("counts");
    QTest::newRow("in order") << 8 << "P P P N N A10 N A12 A11"
                              << "0 1 2"
                              << "0 3 0";
    QTest::newRow("resent after reconnect") << 8 << "P P P N N A11 R N N"
                                            << "0 1 0 2"
                                            << "2 1 0";
    QTest::newRow("old mid's ack after reconnect") << 8 << "P P N R A10 N"
                                                   << "0 1"
                                                   << "1 1 0";
    QTest::newRow("ack before handed") << 8 << "P P E N"
                                       << "0 1"
                                       << "1 1 0";
    QTest::newRow("full: oldest dropped") << 3 << "P P P P P N"
                                          << "2"
                                          << "3 0 2";
    QTest::newRow("full while in flight") << 2 << "P N P P A10 N"
                                          << "0 1"
                                          << "2 0 1";
}

void PublishTest::outbox() {
    QFETCH(int, capacity);
    QFETCH(QString, steps);
    QFETCH(QString, handed);
    QFETCH(QString, counts);
    publish::Outbox box(static_cast<std::size_t>(capacity), 4);
    int pushed = 0;
    QStringList out;
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        if (step == QLatin1String("P")) {
            box.Push({nullptr, std::to_string(pushed++)});
        } else if (step == QLatin1String("R")) {
            box.Reconnected();
        } else if (step.startsWith(QLatin1Char('A'))) {
            box.Acknowledged(step.mid(1).toInt());
        } else if (auto h = box.Next()) {
            out << QString::fromStdString(h->message.payload);
            if (step == QLatin1String("E"))
                box.Acknowledged(10 + out.last().toInt());
            box.Handed(h->sequence, 10 + out.last().toInt());
        }
    }
    QCOMPARE(out.join(QLatin1Char(' ')), handed);
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(box.Waiting()).arg(box.Delivered()).arg(box.Dropped()), counts);
}

void PublishTest::broker_data() {
    QTest::addColumn<int>("cutAt"); // samples taken before the relay goes down for 3 s; -1: no relay
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("first");    // the first sample the subscriber gets
    QTest::addColumn<QString>("said"); // notices: kind (0 unreachable, 1 back, 2 dropped), count
    QTest::newRow("a sweep") << -1 << 1000 << 601 << 0 << "";
    QTest::newRow("cut mid-sweep") << 100 << 1000 << 601 << 0 << "0 0, 1 0";
    QTest::newRow("down at start, queue full") << 0 << 100 << 150 << 50 << "0 0, 1 0, 2 50";
}

void PublishTest::broker() {
    QFETCH(int, cutAt);
    QFETCH(int, capacity);
    QFETCH(int, samples);
    QFETCH(int, first);
    QFETCH(QString, said);
    testing::MosquittoBroker broker;
    const quint16 brokerPort = testing::FreePort();
    QVERIFY(broker.Start(brokerPort));
    testing::TcpRelay relay(testing::FreePort(), brokerPort);
    testing::Subscriber subscriber(brokerPort, "lab/#");
    QTRY_VERIFY(subscriber.Subscribed());
    std::mutex mutex;
    QStringList notices;
    publish::PublisherOptions options;
    options.capacity = static_cast<std::size_t>(capacity);
    options.reconnectDelayMaxS = 1;
    options.unreachableAfter = std::chrono::milliseconds(300);
    options.notify = [&](const publish::PublishNotice& n) {
        std::lock_guard lock(mutex);
        notices << QStringLiteral("%1 %2").arg(int(n.kind)).arg(n.count);
    };
    const auto said_ = [&] {
        std::lock_guard lock(mutex);
        return notices.join(QStringLiteral(", "));
    };
    {
        QString error;
        const auto target = publish::ParsePublishUrl(
            QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(cutAt < 0 ? brokerPort : relay.Port()), &error);
        auto publisher = publish::MqttPublisher::Make(*target, options, &error);
        QVERIFY(publisher && (cutAt <= 0 || relay.Start()));
        QVERIFY(publisher->RunStarted({kStart, QStringLiteral("t"), QStringLiteral("A1B2")}));
        for (int n = 0; n < samples; ++n)
            QVERIFY(publisher->Take(Sample(n)));
        if (cutAt > 0) { // mid-stream: some acknowledged, some in flight, the rest waiting
            const QDeadlineTimer deadline(10000);
            while (publisher->Snapshot().delivered < std::uint64_t(cutAt) && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            relay.Stop();
            QVERIFY(publisher->Snapshot().waiting > 0);
        }
        if (cutAt >= 0) {
            QTRY_COMPARE(said_(), QStringLiteral("0 0"));
            QTest::qWait(3000);
            QVERIFY(relay.Start());
        }
        QTRY_COMPARE_WITH_TIMEOUT(publisher->Snapshot().waiting, std::size_t(0), 30000);
    }
    QCOMPARE(said_(), said);
    QTRY_COMPARE(subscriber.Messages().back(), std::string("lab/A1B2/status offline"));
    // Complete, exact and in order, duplicates aside.
    const auto messages = subscriber.Messages();
    QCOMPARE(messages.front(), std::string("lab/A1B2/status online"));
    std::vector<std::string> firstArrivals;
    std::set<std::string> seen;
    for (const std::string& m : messages)
        if (m.starts_with("lab/A1B2/sample ") && seen.insert(m).second)
            firstArrivals.push_back(m.substr(16));
    QCOMPARE(int(firstArrivals.size()), samples - first);
    for (int n = first; n < samples; ++n)
        QCOMPARE(firstArrivals[std::size_t(n - first)],
                 publish::SampleJson(Sample(n), publish::IsoTime(kStart)));
    // Nothing but the samples and the two statuses (QoS 1 may deliver one twice, even without a cut).
    if (cutAt < 0)
        QCOMPARE(std::set<std::string>(messages.begin(), messages.end()).size(), std::size_t(samples + 2));
}

// The real program, headless on the simulated unit, publishing through a relay that goes down for
// 3 s mid-sweep: every column of the sweep reaches the subscriber, in order, and the run ends normally.
void PublishTest::wholeProgramThroughACut() {
    testing::MosquittoBroker broker;
    const quint16 brokerPort = testing::FreePort();
    QVERIFY(broker.Start(brokerPort));
    testing::TcpRelay relay(testing::FreePort(), brokerPort);
    QVERIFY(relay.Start());
    testing::Subscriber subscriber(brokerPort, "lab/#");
    QTRY_VERIFY(subscriber.Subscribed());
    QTemporaryDir dir;
    QProcess tavrin;
    tavrin.setWorkingDirectory(dir.path());
    tavrin.start(QStringLiteral(TAVRIN_EXECUTABLE),
                 {"--headless", "--device", "sim", "--tick-ms", "10", "--param-dir", dir.path(), "--record", "off",
                  "--continuous", "off", "--sampling-time", "1", "--publish",
                  QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(relay.Port())});
    QTRY_VERIFY(subscriber.Messages().size() > 50);
    relay.Stop();
    QTest::qWait(3000);
    QVERIFY(relay.Start());
    // The relay lives on this event loop: keep it turning while the program finishes.
    QTRY_VERIFY_WITH_TIMEOUT(tavrin.state() == QProcess::NotRunning, 60000);
    QCOMPARE(tavrin.exitCode(), 0);
    std::vector<int> columns; // first arrivals
    std::set<std::string> seen;
    for (const std::string& m : subscriber.Messages())
        if (m.starts_with("lab/sim/sample ") && seen.insert(m).second)
            columns.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(m.substr(15))).object()["x"].toInt());
    QCOMPARE(int(columns.size()), 601);
    for (int x = 0; x <= 600; ++x)
        QCOMPARE(columns[std::size_t(x)], x);
}

QTEST_GUILESS_MAIN(PublishTest)
#include "publish_test.moc"
