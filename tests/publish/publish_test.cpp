#include "publish/mqtt_publisher.h"
#include "publish/outbox.h"
#include "publish/publish_target.h"
#include "publish/sample_json.h"
#include "tests/publish/mqtt_fixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>
#include <set>

using acquisition::DecodedSample;
using acquisition::SampleNote;
using publish::PublishNotice;

Q_DECLARE_METATYPE(acquisition::DecodedSample)

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(9, 30, 0), QTimeZone(9 * 3600));

// Sample n of a run: one sweep and a bit, AD0 rising, AD1 empty every 7th, the levels counting.
DecodedSample Sample(int n) {
    DecodedSample s;
    s.time = kStart.addMSecs(100LL * n);
    s.elapsedMs = 100LL * n;
    s.sweep = n / 601;
    s.x = n % 601;
    s.ad0 = n % 600;
    if (n % 7 != 0)
        s.ad1 = 600 - n % 600;
    s.levels = static_cast<std::uint8_t>(n % 16);
    return s;
}

// The x of every sample message, in arrival order.
std::vector<int> Columns(testing::Subscriber& subscriber) {
    std::vector<int> xs;
    for (const auto& m : subscriber.Messages())
        if (m.topic == "lab/A1B2/sample")
            xs.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object()["x"].toInt());
    return xs;
}

struct Notices {
    std::mutex mutex;
    std::vector<PublishNotice> said;
    std::function<void(const PublishNotice&)> Sink() {
        return [this](const PublishNotice& n) {
            std::lock_guard lock(mutex);
            said.push_back(n);
        };
    }
    QString Kinds() {
        std::lock_guard lock(mutex);
        QString kinds;
        for (const auto& n : said)
            kinds += QString::number(int(n.kind)) + QString::number(n.count) + QLatin1Char(' ');
        return kinds.trimmed();
    }
};

std::unique_ptr<publish::MqttPublisher> Publisher(quint16 port, Notices& notices, std::size_t capacity) {
    publish::PublisherOptions options;
    options.capacity = capacity;
    options.reconnectDelayMaxS = 1;
    options.unreachableAfter = std::chrono::milliseconds(300);
    options.notify = notices.Sink();
    QString error;
    return publish::MqttPublisher::Make(
        *publish::ParsePublishUrl(QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(port), &error), options,
        &error);
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
};

void PublishTest::parseUrl_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("parsed"); // host port user prefix tls, or the error's start
    QTest::newRow("plain") << "mqtt://broker/lab"
                           << "broker 1883  lab 0";
    QTest::newRow("user, port, levels") << "mqtt://ann@db.example:1884/lab/floor2/"
                                        << "db.example 1884 ann lab/floor2 0";
    QTest::newRow("tls") << "mqtts://broker/lab"
                         << "broker 8883  lab 1";
    QTest::newRow("ipv6") << "MQTT://[::1]:2000/x"
                          << "::1 2000  x 0";
    QTest::newRow("password") << "mqtt://ann:pw@broker/lab"
                              << "--publish: put the password in the environment";
    QTest::newRow("scheme") << "http://broker/lab"
                            << "--publish wants mqtt://";
    QTest::newRow("no prefix") << "mqtt://broker/"
                               << "--publish: the URL 'mqtt://broker/' needs a topic prefix";
    QTest::newRow("no host") << "mqtt:///lab"
                             << "--publish: the URL 'mqtt:///lab' names no broker host";
    QTest::newRow("wildcard") << "mqtt://broker/lab/+"
                              << "--publish: the topic prefix 'lab/+' may not hold";
    QTest::newRow("fragment") << "mqtt://broker/lab/#"
                              << "--publish: the URL 'mqtt://broker/lab/#' has a '?'";
}

void PublishTest::parseUrl() {
    QFETCH(QString, url);
    QFETCH(QString, parsed);
    QString error;
    const auto t = publish::ParsePublishUrl(url, &error);
    if (t)
        QCOMPARE(
            QStringLiteral("%1 %2 %3 %4 %5").arg(t->host).arg(t->port).arg(t->user, t->prefix).arg(t->tls),
            parsed);
    else
        QVERIFY2(error.startsWith(parsed), qPrintable(error));
}

void PublishTest::sampleJson_data() {
    QTest::addColumn<DecodedSample>("sample");
    QTest::addColumn<QString>("json");
    DecodedSample s = Sample(612);
    QTest::newRow("plain")
        << s
        << R"({"time":"2026-12-07T09:31:01.200+09:00","elapsed_s":61.200,"sweep":1,"x":11,)"
           R"("ad0_v":0.12,"ad1_v":5.88,"hh":0,"hl":1,"lh":0,"ll":0,"note":null,)"
           R"("run":"2026-12-07T09:30:00.000+09:00"})";
    s = Sample(7);
    s.time = QDateTime(QDate(2026, 1, 2), QTime(23, 59, 59, 5), QTimeZone(-(3 * 3600 + 30 * 60)));
    s.elapsedMs = 5;
    s.ad0 = 600;
    QTest::newRow("empty AD1, west of UTC")
        << s
        << R"({"time":"2026-01-02T23:59:59.005-03:30","elapsed_s":0.005,"sweep":0,"x":7,"ad0_v":6.00,)"
           R"("ad1_v":null,"hh":0,"hl":1,"lh":1,"ll":1,"note":null,"run":"2026-12-07T09:30:00.000+09:00"})";
    s = DecodedSample{kStart, 1000, 0, 600, std::nullopt, std::nullopt, std::nullopt, SampleNote::NoReply};
    QTest::newRow("no reply")
        << s
        << R"({"time":"2026-12-07T09:30:00.000+09:00","elapsed_s":1.000,"sweep":0,"x":600,"ad0_v":null,)"
           R"("ad1_v":null,"hh":null,"hl":null,"lh":null,"ll":null,"note":"no reply",)"
           R"("run":"2026-12-07T09:30:00.000+09:00"})";
    s = DecodedSample{kStart, 0, 2, 0, 5, 10, 0x0F, SampleNote::UnitBack};
    QTest::newRow("unit back")
        << s
        << R"({"time":"2026-12-07T09:30:00.000+09:00","elapsed_s":0.000,"sweep":2,"x":0,"ad0_v":0.05,)"
           R"("ad1_v":0.10,"hh":1,"hl":1,"lh":1,"ll":1,"note":"unit back","run":"2026-12-07T09:30:00.000+09:00"})";
}

void PublishTest::sampleJson() {
    QFETCH(DecodedSample, sample);
    QFETCH(QString, json);
    QCOMPARE(QString::fromStdString(publish::SampleJson(sample, publish::IsoTime(kStart))), json);
}

void PublishTest::outbox_data() {
    // Steps: P push, N hand the next out (mid = 10 + its number), E hand it out with its PUBACK arriving
    // first, A<mid> PUBACK, R reconnect. `handed` lists what went out, by push number.
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("handed");
    QTest::addColumn<QString>("counts"); // waiting delivered dropped
    QTest::newRow("in order") << 8 << "P P P N N A10 N A12 A11"
                              << "0 1 2"
                              << "0 3 0";
    QTest::newRow("resent after reconnect") << 8 << "P P P N N A11 R N N"
                                            << "0 1 0 2"
                                            << "2 1 0";
    QTest::newRow("ack of an old mid after reconnect") << 8 << "P P N R A10 N"
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
        } else if (step == QLatin1String("N") || step == QLatin1String("E")) {
            auto h = box.Next();
            QVERIFY(h);
            const int number = std::stoi(h->message.payload);
            out << QString::number(number);
            if (step == QLatin1String("E"))
                box.Acknowledged(10 + number);
            box.Handed(h->sequence, 10 + number);
        } else if (step == QLatin1String("R")) {
            box.Reconnected();
        } else {
            box.Acknowledged(step.mid(1).toInt());
        }
    }
    QCOMPARE(out.join(QLatin1Char(' ')), handed);
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(box.Waiting()).arg(box.Delivered()).arg(box.Dropped()), counts);
}

void PublishTest::broker_data() {
    QTest::addColumn<int>("cutAt"); // samples taken before the relay goes down; -1: never
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("first");    // the first x the subscriber gets
    QTest::addColumn<QString>("said"); // notices: kind and count (0 unreachable, 1 back, 2 dropped)
    QTest::newRow("a sweep") << -1 << 1000 << 601 << 0 << "";
    QTest::newRow("cut for 3 s mid-sweep") << 300 << 1000 << 601 << 0 << "00 10";
    QTest::newRow("down at start, queue full") << 0 << 100 << 150 << 50 << "00 10 250";
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
    Notices notices;
    {
        auto publisher =
            Publisher(cutAt < 0 ? brokerPort : relay.Port(), notices, static_cast<std::size_t>(capacity));
        QVERIFY(publisher);
        if (cutAt > 0)
            QVERIFY(relay.Start());
        publisher->RunStarted({kStart, QStringLiteral("t"), QStringLiteral("A1B2")});
        for (int n = 0; n < samples; ++n) {
            if (n == cutAt) {
                QTRY_VERIFY(Columns(subscriber).size() >= 100 || cutAt == 0);
                relay.Stop();
            }
            publisher->Take(Sample(n));
        }
        if (cutAt >= 0) {
            QTRY_COMPARE(notices.Kinds(), QStringLiteral("00"));
            QTest::qWait(3000);
            QVERIFY(relay.Start());
        }
        QTRY_COMPARE_WITH_TIMEOUT(publisher->Snapshot().waiting, std::size_t(0), 30000);
    }
    QCOMPARE(notices.Kinds(), said);
    // Complete and in order: duplicates after a cut aside, every x from `first` on, once at its first
    // arrival.
    const std::vector<int> xs = Columns(subscriber);
    std::vector<int> firstArrivals;
    std::set<int> seen;
    for (int x : xs)
        if (seen.insert(x).second)
            firstArrivals.push_back(x);
    QCOMPARE(int(firstArrivals.size()), samples - first);
    for (int i = 0; i < int(firstArrivals.size()); ++i)
        QCOMPARE(firstArrivals[i], first + i);
    if (cutAt < 0)
        QCOMPARE(int(xs.size()), samples);
    const auto messages = subscriber.Messages();
    QTRY_COMPARE(subscriber.Messages().back().payload, std::string("offline"));
    QCOMPARE(messages.front().topic + " " + messages.front().payload, std::string("lab/A1B2/status online"));
}

QTEST_GUILESS_MAIN(PublishTest)
#include "publish_test.moc"
