#include "acquisition/sample_words.h"
#include "publish/mqtt_publisher.h"
#include "publish/outbox.h"
#include "publish/sample_json.h"
#include "tests/publish/mqtt_fixture.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <set>

using acquisition::DecodedSample;
Q_DECLARE_METATYPE(acquisition::DecodedSample)
Q_DECLARE_METATYPE(channels::Channels)

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(9, 30, 0), QTimeZone(9 * 3600));
const std::string kRun = "\"run\":\"2026-12-07T09:30:00.000+09:00\"}";

// AD0 an oven, 0-5 V for 0-500 °C, its high limit 400 °C; AD1 as it comes, in volts.
channels::Channels Oven() {
    channels::Channels settings = channels::DefaultChannels();
    settings[0].name = QStringLiteral("Oven");
    settings[0].unit = QStringLiteral("°C");
    settings[0].scale = {0, 0, 5, 500};
    settings[0].limits.high = 400;
    return settings;
}

// Sample n of a run: AD0 rising, AD1 empty every 7th, the levels counting.
DecodedSample Sample(int n) {
    DecodedSample s{kStart.addMSecs(100LL * n),       100LL * n, n / 601, n % 601, n % 600, 600 - n % 600,
                    static_cast<std::uint8_t>(n % 16), acquisition::SampleNote::None, {}, {}, {}};
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
    void topicLevel_data();
    void topicLevel();
    void unreachableSaysWhy_data();
    void unreachableSaysWhy();
    void alarmsDroppedSaidWhenTheFirstGoes();
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
    row("encoded wildcard", "mqtt://broker/lab%23", "--publish: the topic prefix 'lab#' may not hold");
    row("encoded NUL", "mqtt://broker/lab%00x", "--publish: the topic prefix may not hold a NUL");
    row("encoded line feed (C0)", "mqtt://broker/lab%0Ax",
        "--publish: the topic prefix may not hold control characters (U+0000–U+001F, U+007F, U+0080–U+009F); "
        "it holds U+000A (%0A)");
    row("encoded DEL", "mqtt://broker/lab%7F",
        "--publish: the topic prefix may not hold control characters (U+0000–U+001F, U+007F, U+0080–U+009F); "
        "it holds U+007F (%7F)");
    row("encoded NEL (C1)", "mqtt://broker/%C2%85lab",
        "--publish: the topic prefix may not hold control characters (U+0000–U+001F, U+007F, U+0080–U+009F); "
        "it holds U+0085 (%C2%85)");
    row("encoded U+00A0, past C1", "mqtt://broker/a%C2%A0b", "broker 1883  a\u00A0b 0");
    row("$SYS", "mqtt://broker/$SYS/x", "--publish: the topic prefix '$SYS/x' may not begin with '$'");
    row("encoded $", "mqtt://broker/%24x", "--publish: the topic prefix '$x' may not begin with '$'");
    row("port 0", "mqtt://broker:0/lab", "--publish: the port in 'mqtt://broker:0/lab' must be a number from 1 to 65535");
    row("port 65536", "mqtt://broker:65536/lab", "--publish: the port in 'mqtt://broker:65536/lab' must be");
    row("encoded slash", "mqtt://broker/a%2Fb%20c", "broker 1883  a/b c 0");
    row("encoded UTF-8", "mqtt://broker/caf%C3%A9/%e2%82%ac", "broker 1883  café/€ 0");
    const char* const notUtf8 =
        "--publish wants the URL in percent-encoded UTF-8 (é is %C3%A9, a '%' itself %25): ";
    row("encoded byte that is not UTF-8", "mqtt://broker/a%FF",
        (std::string(notUtf8) + "%FF in 'mqtt://broker/a%FF' is not UTF-8").c_str());
    row("encoded lead byte, then no follower", "mqtt://broker/a%C3%28",
        (std::string(notUtf8) + "%C3%28 in 'mqtt://broker/a%C3%28' is not UTF-8").c_str());
    row("encoded lead byte, then a plain character", "mqtt://broker/a%C3(",
        (std::string(notUtf8) + "%C3 in 'mqtt://broker/a%C3(' is not UTF-8").c_str());
    row("overlong slash", "mqtt://broker/a%C0%AF",
        (std::string(notUtf8) + "%C0%AF in 'mqtt://broker/a%C0%AF' is not UTF-8").c_str());
    row("encoded surrogate", "mqtt://broker/a%ED%A0%80",
        (std::string(notUtf8) + "%ED%A0%80 in 'mqtt://broker/a%ED%A0%80' is not UTF-8").c_str());
    row("in the user name", "mqtt://a%FF@broker/lab",
        (std::string(notUtf8) + "%FF in 'mqtt://a%FF@broker/lab' is not UTF-8").c_str());
    row("not hex", "mqtt://broker/%G1",
        (std::string(notUtf8) + "'mqtt://broker/%G1' has a '%' without two hex digits after it").c_str());
    row("a lone %", "mqtt://broker/a%",
        (std::string(notUtf8) + "'mqtt://broker/a%' has a '%' without two hex digits after it").c_str());
    row("one hex digit", "mqtt://broker/a%4",
        (std::string(notUtf8) + "'mqtt://broker/a%4' has a '%' without two hex digits after it").c_str());
    const QByteArray longest = "mqtt://b/" + QByteArray(65269, 'p');
    QTest::newRow("longest prefix") << QString::fromLatin1(longest) << "b 1883  " + QString(65269, 'p') + " 0";
    QTest::newRow("prefix too long")
        << QString::fromLatin1(longest + "p")
        << "--publish: the topic prefix is 65270 bytes long; a topic may have 65535 bytes, so with the unit "
           "and '/alarm/ad0' the prefix may have at most 65269";
}

void PublishTest::parseUrl() {
    QFETCH(QString, url);
    QFETCH(QString, parsed);
    if (const auto t = publish::ParsePublishUrl(url))
        QCOMPARE(
            QStringLiteral("%1 %2 %3 %4 %5").arg(t->host).arg(t->port).arg(t->user, t->prefix).arg(t->tls),
            parsed);
    else
        QVERIFY2(t.Reason().startsWith(parsed), qPrintable(t.Reason()));
}

void PublishTest::sampleJson_data() {
    QTest::addColumn<DecodedSample>("sample");
    QTest::addColumn<channels::Channels>("settings");
    QTest::addColumn<std::string>("json");
    const channels::Channels volts = channels::DefaultChannels();
    const std::string inVolts = R"("ad0_unit":"V","ad0_name":"AD0",)";
    const std::string ad1InVolts = R"("ad1_unit":"V","ad1_name":"AD1",)";
    QTest::newRow("plain")
        << Sample(612) << volts
        << R"({"time":"2026-12-07T09:31:01.200+09:00","elapsed_s":61.200,"sweep":1,"x":11,)"
           R"("ad0_v":0.12,"ad1_v":5.88,"hh":0,"hl":1,"lh":0,"ll":0,"note":null,"ad0_value":0.12,)" +
               inVolts + R"("ad1_value":5.88,)" + ad1InVolts + kRun;
    DecodedSample s = Sample(7);
    s.time = QDateTime(QDate(2026, 1, 2), QTime(23, 59, 59, 5), QTimeZone(-(3 * 3600 + 30 * 60)));
    s.ad0 = 600;
    QTest::newRow("empty AD1, west of UTC")
        << s << volts
        << R"({"time":"2026-01-02T23:59:59.005-03:30","elapsed_s":0.700,"sweep":0,"x":7,"ad0_v":6.00,)"
           R"("ad1_v":null,"hh":0,"hl":1,"lh":1,"ll":1,"note":null,"ad0_value":6.00,)" +
               inVolts + R"("ad1_value":null,)" + ad1InVolts + kRun;
    s = DecodedSample{kStart, 5, 0, 600, {}, {}, {}, acquisition::SampleNote::NoReply, {}, {}, {}};
    QTest::newRow("no reply")
        << s << volts
        << R"({"time":"2026-12-07T09:30:00.000+09:00","elapsed_s":0.005,"sweep":0,"x":600,)"
           R"("ad0_v":null,"ad1_v":null,"hh":null,"hl":null,"lh":null,"ll":null,)"
           R"("note":"no reply","ad0_value":null,)" +
               inVolts + R"("ad1_value":null,)" + ad1InVolts + kRun;
    QTest::newRow("LH alone")
        << Sample(2) << volts
        << R"({"time":"2026-12-07T09:30:00.200+09:00","elapsed_s":0.200,"sweep":0,"x":2,"ad0_v":0.02,)"
           R"("ad1_v":5.98,"hh":0,"hl":0,"lh":1,"ll":0,"note":null,"ad0_value":0.02,)" +
               inVolts + R"("ad1_value":5.98,)" + ad1InVolts + kRun;
    QTest::newRow("LL alone")
        << Sample(1) << volts
        << R"({"time":"2026-12-07T09:30:00.100+09:00","elapsed_s":0.100,"sweep":0,"x":1,"ad0_v":0.01,)"
           R"("ad1_v":5.99,"hh":0,"hl":0,"lh":0,"ll":1,"note":null,"ad0_value":0.01,)" +
               inVolts + R"("ad1_value":5.99,)" + ad1InVolts + kRun;
    s = DecodedSample{kStart, 0, 2, 0, 5, 10, 0x0F, acquisition::SampleNote::UnitBack, {}, {}, {}};
    QTest::newRow("unit back: no values")
        << s << Oven()
        << R"({"time":"2026-12-07T09:30:00.000+09:00","elapsed_s":0.000,"sweep":2,"x":0,)"
           R"("ad0_v":0.05,"ad1_v":0.10,"hh":1,"hl":1,"lh":1,"ll":1,"note":"unit back",)"
           R"("ad0_value":null,"ad0_unit":"°C","ad0_name":"Oven","ad1_value":null,)" +
               ad1InVolts + kRun;
    s = Sample(410);
    s.crossings = {channels::Crossing::High, {}};
    QTest::newRow("an oven above its limit") << s << Oven()
        << R"({"time":"2026-12-07T09:30:41.000+09:00","elapsed_s":41.000,"sweep":0,"x":410,"ad0_v":4.10,)"
           R"("ad1_v":1.90,"hh":1,"hl":0,"lh":1,"ll":0,"note":"ad0 high",)"
           R"("ad0_value":410,"ad0_unit":"°C","ad0_name":"Oven","ad1_value":1.90,)" +
               ad1InVolts + kRun;
    channels::Channels quoted = Oven();
    quoted[1].name = "\"Line\"\\2\t";
    quoted[1].unit = "bar";
    quoted[1].scale = {0, 0, 1, 0.5};
    s.crossings = {channels::Crossing::High, channels::Crossing::Low};
    QTest::newRow("two crossings; a name to escape; three decimals") << s << quoted
        << R"({"time":"2026-12-07T09:30:41.000+09:00","elapsed_s":41.000,"sweep":0,"x":410,"ad0_v":4.10,)"
           R"("ad1_v":1.90,"hh":1,"hl":0,"lh":1,"ll":0,"note":"ad0 high; ad1 low",)"
           R"("ad0_value":410,"ad0_unit":"°C","ad0_name":"Oven","ad1_value":0.950,"ad1_unit":"bar",)"
           R"("ad1_name":"\"Line\"\\2\u0009",)" + kRun;
    // A scale no check would let through: JSON has no infinity; a unit as typed, no apostrophe.
    channels::Channels unchecked = volts;
    unchecked[0].scale = {0, 0, 1, 1e308};
    unchecked[1].unit = "=mA";
    QTest::newRow("a value past a double: null; a unit beginning with =")
        << Sample(612) << unchecked
        << R"({"time":"2026-12-07T09:31:01.200+09:00","elapsed_s":61.200,"sweep":1,"x":11,)"
           R"("ad0_v":0.12,"ad1_v":5.88,"hh":0,"hl":1,"lh":0,"ll":0,"note":null,"ad0_value":null,)" +
               inVolts + R"("ad1_value":5.88,"ad1_unit":"=mA","ad1_name":"AD1",)" + kRun;
}

void PublishTest::sampleJson() {
    QFETCH(DecodedSample, sample);
    QFETCH(channels::Channels, settings);
    QFETCH(std::string, json);
    QCOMPARE(publish::SampleJson(sample, acquisition::TimeText(kStart), settings), json);
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
    QTest::addColumn<QString>("firstJson"); // the first sample the subscriber gets
    QTest::addColumn<QString>("said");      // notices: kind (0 unreachable, 1 back, 2 dropped), count
    QTest::addColumn<QString>("shortfall");
    const QString first0 = R"({"time":"2026-12-07T09:30:00.000+09:00","elapsed_s":0.000,"sweep":0,"x":0,"ad0_v":0.00,)"
                           R"("ad1_v":null,"hh":0,"hl":0,"lh":0,"ll":0,"note":null,"ad0_value":0,"ad0_unit":"°C",)"
                           R"("ad0_name":"Oven","ad1_value":null,"ad1_unit":"V","ad1_name":"AD1",)";
    QTest::newRow("a sweep") << -1 << 1000 << 601 << first0 << "" << "";
    QTest::newRow("cut mid-sweep") << 100 << 1000 << 601 << first0 << "0 0, 1 0" << "";
    QTest::newRow("down at start, queue full")
        << 0 << 100 << 150
        << R"({"time":"2026-12-07T09:30:05.000+09:00","elapsed_s":5.000,"sweep":0,"x":50,"ad0_v":0.50,)"
           R"("ad1_v":5.50,"hh":0,"hl":0,"lh":1,"ll":0,"note":null,"ad0_value":50,"ad0_unit":"°C",)"
           R"("ad0_name":"Oven","ad1_value":5.50,"ad1_unit":"V","ad1_name":"AD1",)"
        << "0 0, 1 0, 2 50" << "50 samples were dropped for room before the MQTT broker at 127.0.0.1:";
}

void PublishTest::broker() {
    QFETCH(int, cutAt);
    QFETCH(int, capacity);
    QFETCH(int, samples);
    QFETCH(QString, firstJson);
    QFETCH(QString, said);
    QFETCH(QString, shortfall);
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
    // Dropping ("4 0") is said when it starts: before the broker is back, and only then.
    const auto said_ = [&] {
        std::lock_guard lock(mutex);
        return QStringList(notices).filter(QRegularExpression("^[0-3] ")).join(QStringLiteral(", "));
    };
    const auto droppingSaidWhen = [&] {
        std::lock_guard lock(mutex);
        return notices.indexOf("4 0") < 0 ? -1 : int(notices.indexOf("4 0") < notices.indexOf("1 0"));
    };
    {
        const auto target = publish::ParsePublishUrl(
            QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(cutAt < 0 ? brokerPort : relay.Port()));
        auto made = publish::MqttPublisher::Make(*target, options);
        QVERIFY(made);
        auto publisher = std::move(*made);
        QVERIFY(cutAt <= 0 || relay.Start());
        QVERIFY(publisher->RunStarted({kStart, QStringLiteral("t"), QStringLiteral("A1B2"), Oven()}));
        // Three crossings among the first samples, which a full queue drops: their alarms go all the same.
        for (int n = 0; n < samples; ++n) {
            DecodedSample sample = Sample(n);
            if (n == 3 || n == 9)
                sample.crossings[0] = n == 3 ? channels::Crossing::High : channels::Crossing::Back;
            if (n == 5)
                sample.crossings[1] = channels::Crossing::Low;
            QVERIFY(publisher->Take(sample));
        }
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
        if (cutAt < 0) { // a subscriber that comes later still learns the unit is online
            testing::Subscriber late(brokerPort, "lab/+/status");
            QTRY_COMPARE(late.Messages(), std::vector<std::string>{"lab/A1B2/status online"});
        }
        publisher->Finish();
        const QString fell = publisher->Shortfall();
        QVERIFY2(shortfall.isEmpty() ? fell.isEmpty() : fell.startsWith(shortfall), qPrintable(fell));
    }
    QCOMPARE(said_(), said);
    QCOMPARE(droppingSaidWhen(), shortfall.isEmpty() ? -1 : 1);
    QTRY_COMPARE(subscriber.Messages().back(), std::string("lab/A1B2/status offline"));
    // Each channel's alarm topic holds its last crossing for whoever subscribes now.
    testing::Subscriber dashboard(brokerPort, "lab/A1B2/alarm/+");
    const auto retained = [&dashboard] {
        auto held = dashboard.Messages();
        std::sort(held.begin(), held.end());
        return held;
    };
    QTRY_COMPARE(retained(),
                 (std::vector<std::string>{
                     R"(lab/A1B2/alarm/ad0 {"channel":"ad0","name":"Oven","state":"back","value":9,"unit":"°C",)"
                     R"("low":null,"high":400,"time":"2026-12-07T09:30:00.900+09:00",)" + kRun,
                     R"(lab/A1B2/alarm/ad1 {"channel":"ad1","name":"AD1","state":"low","value":5.95,"unit":"V",)"
                     R"("low":null,"high":null,"time":"2026-12-07T09:30:00.500+09:00",)" + kRun}));
    // Complete, exact and in order, duplicates aside.
    const auto messages = subscriber.Messages();
    QCOMPARE(messages.front(), std::string("lab/A1B2/status online"));
    std::vector<QJsonObject> firstArrivals;
    std::set<std::string> seen;
    for (const std::string& m : messages)
        if (m.starts_with("lab/A1B2/sample ") && seen.insert(m).second)
            firstArrivals.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(m.substr(16))).object());
    QCOMPARE(QString::fromStdString(*std::find_if(messages.begin(), messages.end(),
                                                  [](const std::string& m) { return m.starts_with("lab/A1B2/sample "); })),
             "lab/A1B2/sample " + firstJson + QString::fromStdString(kRun));
    const int first = samples - int(firstArrivals.size());
    for (int n = first; n < samples; ++n) {
        const QJsonObject o = firstArrivals[std::size_t(n - first)];
        QCOMPARE(o["x"].toInt() + 601 * o["sweep"].toInt(), n);
        QCOMPARE(qRound(o["elapsed_s"].toDouble() * 10), n);
        QCOMPARE(qRound(o["ad0_v"].toDouble() * 100), n % 600);
        QCOMPARE(o["lh"].toInt() * 2 + o["ll"].toInt(), n % 4);
        QCOMPARE(o["hh"].toInt() * 2 + o["hl"].toInt(), n % 16 / 4);
    }
    // Nothing but the samples, the three alarms and the two statuses (QoS 1 may deliver one twice, even
    // without a cut).
    if (cutAt < 0)
        QCOMPARE(std::set<std::string>(messages.begin(), messages.end()).size(), std::size_t(samples + 5));
}

void PublishTest::topicLevel_data() {
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("level");
    QTest::newRow("serial number") << "FT4X7Q2B" << "FT4X7Q2B";
    QTest::newRow("slash") << "a/b" << "a_b";
    QTest::newRow("wildcards") << "#+x" << "__x";
    QTest::newRow("NUL") << QString("a") + QChar(0) + "b" << "a_b";
    QTest::newRow("empty") << "" << "unknown";
    QTest::newRow("too long: cut at 255 bytes, between characters")
        << "x" + QString(200, QChar(0x3042)) << "x" + QString(84, QChar(0x3042));
}

void PublishTest::topicLevel() {
    QFETCH(QString, unit);
    QFETCH(QString, level);
    QCOMPARE(publish::TopicLevel(unit), level);
}

// "Cannot reach" says why: a refused connection, a broker that takes the connection and never
// answers, TLS to a broker that has none; a broker that refuses the connection is named with its
// reason, on the status line too. PORT stands for the listener's port.
void PublishTest::unreachableSaysWhy_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("listener"); // "none", "silent" (TCP only), "mosquitto", "mosquitto, user ann"
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("status");
    const QString unreachable = "MQTTブローカーに接続できません";
    QTest::newRow("refused") << "mqtt" << "none"
                             << "cannot reach the MQTT broker at 127.0.0.1:PORT (Connection refused)" << unreachable;
    QTest::newRow("no CONNACK") << "mqtt" << "silent"
                                << "cannot reach the MQTT broker at 127.0.0.1:PORT (no answer to the MQTT "
                                   "connection (no CONNACK) within 300 ms)"
                                << unreachable;
    QTest::newRow("TLS to a plain broker")
        << "mqtts" << "mosquitto" << "cannot reach the MQTT broker at 127.0.0.1:PORT (TLS handshake failed: "
        << unreachable;
    // Mosquitto answers a wrong password with return code 5, not 4.
    QTest::newRow("wrong password")
        << "mqtt" << "mosquitto, user ann"
        << "the MQTT broker at 127.0.0.1:PORT refused the connection: not authorised (CONNACK return code 5); "
           "samples wait in memory"
        << "MQTTブローカーが接続を拒否しました: 接続が許可されていません";
}

void PublishTest::unreachableSaysWhy() {
    QFETCH(QString, scheme);
    QFETCH(QString, listener);
    QFETCH(QString, reason);
    QFETCH(QString, status);
    const quint16 port = testing::FreePort();
    const bool user = listener == "mosquitto, user ann";
    QTcpServer silent;
    testing::MosquittoBroker broker;
    QVERIFY(listener != "silent" || silent.listen(QHostAddress::LocalHost, port));
    QVERIFY(!listener.startsWith("mosquitto") || broker.Start(port, user ? "ann" : "", "secret"));
    std::mutex mutex;
    QString message;
    QString statusText;
    publish::PublisherOptions options;
    // Time enough for a broker's answer on a busy machine; a silent listener's wait is the one named.
    options.unreachableAfter = std::chrono::milliseconds(listener == "silent" ? 300 : 3000);
    options.flushOnExit = std::chrono::milliseconds(0);
    options.password = user ? "wrong" : "";
    options.notify = [&](const publish::PublishNotice& n) {
        std::lock_guard lock(mutex);
        if (n.kind == publish::PublishNotice::Kind::Unreachable) {
            message = n.message;
            statusText = n.status;
        }
    };
    const auto target = publish::ParsePublishUrl(scheme + (user ? "://ann@" : "://") +
                                                 QStringLiteral("127.0.0.1:%1/lab").arg(port));
    auto made = publish::MqttPublisher::Make(*target, options);
    QVERIFY(made);
    auto publisher = std::move(*made);
    QVERIFY(publisher->RunStarted({kStart, QStringLiteral("t"), QStringLiteral("A1B2")}));
    const auto said = [&] {
        std::lock_guard lock(mutex);
        return message;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!said().isEmpty(), 10000);
    QVERIFY2(said().contains(QString(reason).replace("PORT", QString::number(port))), qPrintable(said()));
    std::lock_guard lock(mutex);
    QCOMPARE(statusText, status);
}

// With the broker away, a channel crossing its limits more often than the alarms' queue holds: the
// first alarm dropped is said then, once, not only in the count at the end.
void PublishTest::alarmsDroppedSaidWhenTheFirstGoes() {
    std::mutex mutex;
    QStringList said;
    publish::PublisherOptions options;
    options.flushOnExit = std::chrono::milliseconds(0);
    options.notify = [&](const publish::PublishNotice& n) {
        std::lock_guard lock(mutex);
        if (n.kind == publish::PublishNotice::Kind::AlarmsDropping)
            said << n.message;
    };
    // Nothing listens on the port.
    const auto target =
        publish::ParsePublishUrl(QStringLiteral("mqtt://127.0.0.1:%1/lab").arg(testing::FreePort()));
    auto made = publish::MqttPublisher::Make(*target, options);
    QVERIFY(made);
    auto publisher = std::move(*made);
    QVERIFY(publisher->RunStarted({kStart, QStringLiteral("t"), QStringLiteral("A1B2"), Oven()}));
    const auto saidNow = [&] {
        std::lock_guard lock(mutex);
        return said;
    };
    for (int n = 0; n < 1000; ++n) {
        DecodedSample sample = Sample(n);
        sample.crossings[0] = n % 2 == 0 ? channels::Crossing::High : channels::Crossing::Back;
        QVERIFY(publisher->Take(sample));
    }
    QCOMPARE(saidNow(), QStringList{}); // 1000 alarms fit
    for (int n = 1000; n < 1003; ++n) {
        DecodedSample sample = Sample(n);
        sample.crossings[0] = channels::Crossing::High;
        QVERIFY(publisher->Take(sample));
    }
    const QString message =
        "the MQTT queue of alarms is full (1000 crossings): the oldest alarms are dropped from "
        "now on while the broker at 127.0.0.1:%1 is away; their number is said at the end";
    QTRY_COMPARE_WITH_TIMEOUT(saidNow(), QStringList{message.arg(target->port)}, 30'000);
    publisher->Finish();
    QVERIFY2(publisher->Shortfall().contains("3 alarms were dropped for room"),
             qPrintable(publisher->Shortfall()));
}

QTEST_GUILESS_MAIN(PublishTest)
#include "publish_test.moc"
