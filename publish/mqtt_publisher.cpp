#include "publish/mqtt_publisher.h"

#include "acquisition/sample_words.h"
#include "publish/sample_json.h"
#include "report/failure.h"
#include "report/reporter.h"

#include <QCoreApplication>
#include <algorithm>
#include <iterator>
#include <mosquitto.h>
#include <mutex>

namespace publish {

namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveS = 30;
constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";
// Where the system's certificate authorities live (Debian's ca-certificates).
constexpr char kSystemCaPath[] = "/etc/ssl/certs";

// Status-line texts, in the window's language when shown.
constexpr char kStatusContext[] = "Status";
// cannot connect to the MQTT broker
constexpr char kStatusUnreachable[] = QT_TRANSLATE_NOOP("Status", "MQTTブローカーに接続できません");
// reconnected to the MQTT broker
constexpr char kStatusBack[] = QT_TRANSLATE_NOOP("Status", "MQTTブローカーに再接続しました");
// the MQTT queue is full: the oldest samples are being dropped
constexpr char kStatusDropping[] =
    QT_TRANSLATE_NOOP("Status", "MQTT送信待ちが満杯です: 古いデータから破棄します");
// dropped the %1 oldest samples waiting to be sent over MQTT
constexpr char kStatusDropped[] = QT_TRANSLATE_NOOP("Status", "MQTT送信待ちの古いデータ%1件を破棄しました");
// %1 samples were not sent over MQTT
constexpr char kStatusUndelivered[] = QT_TRANSLATE_NOOP("Status", "MQTT未送信のデータが%1件あります");
// the MQTT broker refused the connection (a return code MQTT 3.1.1 does not define)
constexpr char kStatusRefused[] = QT_TRANSLATE_NOOP("Status", "MQTTブローカーが接続を拒否しました");
// Refused, with the reason of each CONNACK return code from 1 to 5.
constexpr const char* kStatusRefusedBecause[] = {
    // unacceptable protocol version
    QT_TRANSLATE_NOOP("Status", "MQTTブローカーが接続を拒否しました: プロトコルのバージョンが違います"),
    // identifier rejected
    QT_TRANSLATE_NOOP("Status", "MQTTブローカーが接続を拒否しました: クライアントIDが拒否されました"),
    // server unavailable
    QT_TRANSLATE_NOOP("Status", "MQTTブローカーが接続を拒否しました: サーバーが使用できません"),
    // bad user name or password
    QT_TRANSLATE_NOOP("Status", "MQTTブローカーが接続を拒否しました: ユーザー名かパスワードが違います"),
    // not authorised
    QT_TRANSLATE_NOOP("Status", "MQTTブローカーが接続を拒否しました: 接続が許可されていません"),
};
// The same reasons for standard error.
constexpr const char* kRefusedBecause[] = {
    "unacceptable protocol version (it does not take MQTT 3.1.1)",
    "identifier rejected",
    "server unavailable",
    "bad user name or password",
    "not authorised",
};
constexpr int kRefusalReasons = int(std::size(kRefusedBecause));
static_assert(std::size(kStatusRefusedBecause) == std::size(kRefusedBecause));

QString StatusText(const char* text) {
    return QCoreApplication::translate(kStatusContext, text);
}

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// libmosquitto's own texts are English; a system error is given in English too.
QString ErrorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return report::SystemErrorText(errno);
    return QString::fromUtf8(mosquitto_strerror(rc));
}

// Why the broker refused the connection: its CONNACK return code (1 to 5 in MQTT 3.1.1) in words.
QString RefusalText(int code) {
    if (code >= 1 && code <= kRefusalReasons)
        return QString::fromLatin1(kRefusedBecause[code - 1]);
    return QStringLiteral("return code %1").arg(code);
}

QString DurationText(std::chrono::milliseconds wait) {
    if (wait.count() % 1000 != 0)
        return QStringLiteral("%1 ms").arg(wait.count());
    return QStringLiteral("%1 s").arg(wait.count() / 1000);
}

int PayloadLength(const std::string& payload) {
    return static_cast<int>(payload.size());
}

} // namespace

report::Result<std::unique_ptr<MqttPublisher>> MqttPublisher::Make(const PublishTarget& target,
                                                                   PublisherOptions options) {
    InitialiseLibrary();
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    if (!client)
        return report::Fail(QStringLiteral("cannot set up the MQTT client: out of memory"));
    auto fail = [&](const QString& what, int rc) {
        mosquitto_destroy(client);
        return report::Fail(QStringLiteral("cannot set up the MQTT client: %1 (%2)").arg(what, ErrorText(rc)));
    };
    int rc = mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("protocol version"), rc);
    if (target.tls) {
        rc = mosquitto_tls_set(client, nullptr, kSystemCaPath, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("TLS with the certificate authorities in %1")
                            .arg(QLatin1String(kSystemCaPath)),
                        rc);
    }
    if (!target.user.isEmpty()) {
        const QByteArray user = target.user.toUtf8();
        const QByteArray password = options.password.toUtf8();
        rc = mosquitto_username_pw_set(client, user.constData(),
                                       options.password.isEmpty() ? nullptr : password.constData());
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("user name"), rc);
    }
    rc = mosquitto_reconnect_delay_set(client, static_cast<unsigned>(std::max(1, options.reconnectDelayS)),
                                       static_cast<unsigned>(std::max(1, options.reconnectDelayMaxS)), true);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("reconnect delay"), rc);
    std::unique_ptr<MqttPublisher> publisher(new MqttPublisher(target, std::move(options), client));
    mosquitto_user_data_set(client, publisher.get());
    mosquitto_connect_callback_set(client, &MqttPublisher::ConnectCallback);
    mosquitto_disconnect_callback_set(client, &MqttPublisher::DisconnectCallback);
    mosquitto_publish_callback_set(client, &MqttPublisher::PublishCallback);
    mosquitto_log_callback_set(client, &MqttPublisher::LogCallback);
    return publisher;
}

MqttPublisher::MqttPublisher(const PublishTarget& target, PublisherOptions options, mosquitto* client)
    : target_(target), options_(std::move(options)), client_(client), outbox_(options_.capacity) {}

MqttPublisher::~MqttPublisher() {
    if (finisher_.joinable())
        finisher_.join();
    Finish();
    mosquitto_destroy(client_);
}

void MqttPublisher::FinishThen(std::function<void()> done) {
    finisher_ = std::thread([this, done = std::move(done)] {
        Finish();
        done();
    });
}

void MqttPublisher::Finish() {
    if (finished_)
        return;
    finished_ = true;
    if (!started_)
        return;
    bool connected = false;
    std::uint64_t undelivered = 0;
    std::uint64_t dropped = 0;
    {
        std::unique_lock lock(mutex_);
        // What is still queued goes out if the broker is there to take it, or comes back in time:
        // a connection cut near the end of a run must not lose the run's last samples.
        wake_.wait_for(lock, options_.flushOnExit,
                       [this] { return outbox_.Waiting() == 0 && alarms_.Waiting() == 0; });
        stopping_ = true;
        connected = connected_;
        undelivered = outbox_.Waiting();
        undelivered_ += undelivered;
        undeliveredAlarms_ += alarms_.Waiting();
        dropped = outbox_.Dropped();
    }
    wake_.notify_all();
    server_.join();
    if (connected)
        mosquitto_publish(client_, nullptr, statusTopic_.c_str(), static_cast<int>(sizeof kOffline - 1),
                          kOffline, kQos, true);
    mosquitto_disconnect(client_);
    if (networkThread_)
        mosquitto_loop_stop(client_, false);
    if (dropped > 0)
        Notify(PublishNotice::Kind::Dropped, dropped);
    if (undelivered > 0)
        Notify(PublishNotice::Kind::Undelivered, undelivered);
}

QString MqttPublisher::Shortfall() const {
    std::lock_guard lock(mutex_);
    QStringList parts;
    if (const std::uint64_t dropped = outbox_.Dropped(); dropped > 0)
        parts << QStringLiteral("%1 samples were dropped for room before the MQTT broker at %2 took them")
                     .arg(dropped)
                     .arg(BrokerName(target_));
    if (undelivered_ > 0)
        parts << QStringLiteral("%1 samples were not delivered to the MQTT broker at %2 before exit")
                     .arg(undelivered_)
                     .arg(BrokerName(target_));
    if (const std::uint64_t dropped = alarms_.Dropped(); dropped > 0)
        parts << QStringLiteral("%1 alarms were dropped for room before the MQTT broker at %2 took them")
                     .arg(dropped)
                     .arg(BrokerName(target_));
    if (undeliveredAlarms_ > 0)
        parts << QStringLiteral("%1 alarms were not delivered to the MQTT broker at %2 before exit")
                     .arg(undeliveredAlarms_)
                     .arg(BrokerName(target_));
    return parts.join(QStringLiteral("; "));
}

const char* MqttPublisher::Module() const {
    return report::module::kPublish;
}

QString MqttPublisher::StoppedStatus() const {
    return QStringLiteral(QT_TRANSLATE_NOOP("Status", "MQTT送信を中止しました"));
}

report::Done MqttPublisher::RunStarted(const acquisition::RunInfo& run) {
    run_ = acquisition::TimeText(run.started);
    channels_ = run.channels;
    sampleTopic_ = std::make_shared<const std::string>(SampleTopic(target_, run.unit).toStdString());
    for (int channel = 0; channel < channels::kChannelCount; ++channel)
        alarmTopics_[std::size_t(channel)] =
            std::make_shared<const std::string>(AlarmTopic(target_, run.unit, channel).toStdString());
    if (!started_)
        Start(run.unit);
    return {};
}

void MqttPublisher::Start(const QString& unit) {
    started_ = true;
    statusTopic_ = StatusTopic(target_, unit).toStdString();
    mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(sizeof kOffline - 1), kOffline, kQos,
                       true);
    disconnectedSince_ = std::chrono::steady_clock::now();
    server_ = std::thread([this] { Serve(); });
}

report::Done MqttPublisher::Take(const acquisition::DecodedSample& sample) {
    if (!started_)
        (void)RunStarted(acquisition::RunInfo{sample.time, QString(), QString()});
    const bool crossed = channels::Any(sample.crossings);
    if (finished_) {
        std::lock_guard lock(mutex_);
        ++undelivered_;
        if (crossed)
            undeliveredAlarms_ += std::size_t(bool(sample.crossings[0])) + std::size_t(bool(sample.crossings[1]));
        return {};
    }
    OutgoingMessage message{sampleTopic_, SampleJson(sample, run_, channels_)};
    std::array<std::optional<OutgoingMessage>, channels::kChannelCount> alarms;
    if (crossed)
        for (int channel = 0; channel < channels::kChannelCount; ++channel) {
            const auto& crossing = sample.crossings[std::size_t(channel)];
            const auto& hundredths = channel == 0 ? sample.ad0 : sample.ad1;
            if (crossing && hundredths)
                alarms[std::size_t(channel)] = OutgoingMessage{
                    alarmTopics_[std::size_t(channel)],
                    AlarmJson(channel, channels_[std::size_t(channel)], *crossing, *hundredths, sample.time, run_)};
        }
    {
        std::lock_guard lock(mutex_);
        for (auto& alarm : alarms)
            if (alarm)
                alarms_.Push(std::move(*alarm));
        outbox_.Push(std::move(message));
    }
    wake_.notify_one();
    return {};
}

MqttPublisher::Counts MqttPublisher::Snapshot() const {
    std::lock_guard lock(mutex_);
    return Counts{outbox_.Waiting(), outbox_.Delivered(), outbox_.Dropped(), connected_};
}

// The publisher's own thread: connects, then hands queued samples to
// libmosquitto's network thread while connected, and says when the broker has
// been out of reach for a while. Once a first connection attempt has got under
// way, the network thread retries any later one with back-off; one that fails
// at once (refused, no such host) is retried here with the same back-off.
void MqttPublisher::Serve() {
    const QByteArray host = target_.host.toUtf8();
    const auto maxDelay = std::chrono::seconds(std::max(1, options_.reconnectDelayMaxS));
    auto delay = std::chrono::seconds(std::max(1, options_.reconnectDelayS));
    auto nextAttempt = std::chrono::steady_clock::now();
    bool firstAttempt = true;
    bool looping = false;
    // libmosquitto's thread gives up for good after some errors (a failed TLS
    // handshake, a protocol error); one that has had no connection for this long
    // is stopped and started afresh.
    const auto restartAfter = 2 * maxDelay + std::chrono::seconds(5);
    auto loopingSince = nextAttempt;

    std::unique_lock lock(mutex_);
    // A queue that has begun to drop since it was last said: said now, as soon as its oldest entries
    // start to go (not when the broker is back), outside the queue's lock.
    const auto saidDropping = [&](std::uint64_t starts, std::uint64_t& said, PublishNotice::Kind kind) {
        if (starts <= said)
            return false;
        said = starts;
        lock.unlock();
        {
            std::lock_guard saying(noticeMutex_);
            Notify(kind, 0);
        }
        lock.lock();
        return true;
    };
    while (!stopping_) {
        if (saidDropping(alarms_.DroppingStarts(), alarmsDroppingSaid_, PublishNotice::Kind::AlarmsDropping) ||
            saidDropping(outbox_.DroppingStarts(), droppingSaid_, PublishNotice::Kind::Dropping))
            continue;
        const auto now = std::chrono::steady_clock::now();
        if (!looping && now >= nextAttempt) {
            lock.unlock();
            int rc = firstAttempt
                         ? mosquitto_connect_async(client_, host.constData(), target_.port, kKeepAliveS)
                         : mosquitto_reconnect_async(client_);
            firstAttempt = false;
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop_start(client_);
            lock.lock();
            looping = rc == MOSQ_ERR_SUCCESS;
            loopingSince = now;
            if (!looping) {
                lastProblem_ = ErrorText(rc);
                refusal_ = 0;
                nextAttempt = now + delay;
                delay = std::min(delay * 2, maxDelay);
            }
            continue;
        }
        if (connected_) {
            // An alarm before any sample; alarms are retained, so that they stand for the state now.
            auto handout = alarms_.Next();
            Outbox& box = handout ? alarms_ : outbox_;
            if (!handout)
                handout = outbox_.Next();
            if (handout) {
                const bool retained = &box == &alarms_;
                lock.unlock();
                int mid = 0;
                const std::string& topic = *handout->message.topic;
                const std::string& payload = handout->message.payload;
                const int rc = mosquitto_publish(client_, &mid, topic.c_str(), PayloadLength(payload),
                                                 payload.data(), kQos, retained);
                lock.lock();
                if (rc == MOSQ_ERR_SUCCESS) {
                    box.Handed(handout->sequence, mid);
                } else {
                    // The connection went between our look and the call: it waits for the next one.
                    box.NotHanded(handout->sequence);
                    wake_.wait_for(lock, std::chrono::milliseconds(100));
                }
                continue;
            }
            wake_.wait(lock);
            continue;
        }
        const auto restartAt = std::max(disconnectedSince_, loopingSince) + restartAfter;
        if (looping && now >= restartAt) {
            lock.unlock();
            mosquitto_disconnect(client_);
            mosquitto_loop_stop(client_, false);
            lock.lock();
            looping = false;
            nextAttempt = now;
            continue;
        }
        const auto sayAt = disconnectedSince_ + options_.unreachableAfter;
        if (!saidUnreachable_ && now >= sayAt) {
            lock.unlock();
            {
                // Decided and said under noticeMutex_, so that "back" never comes first.
                std::lock_guard saying(noticeMutex_);
                QString problem;
                int refusal = 0;
                bool say = false;
                {
                    std::lock_guard again(mutex_);
                    say = !connected_ && !saidUnreachable_;
                    saidUnreachable_ = saidUnreachable_ || say;
                    problem = lastProblem_;
                    refusal = refusal_;
                    // Under way and unanswered: a broker that takes the connection and says nothing,
                    // or a host that never answers at all.
                    if (problem.isEmpty() && looping)
                        problem = QStringLiteral("no answer to the MQTT connection (no CONNACK) within %1")
                                      .arg(DurationText(options_.unreachableAfter));
                }
                if (say)
                    Notify(PublishNotice::Kind::Unreachable, 0, problem, refusal);
            }
            lock.lock();
            continue;
        }
        auto until = looping ? restartAt : nextAttempt; // each still ahead: passed ones were dealt with above
        if (!saidUnreachable_)
            until = std::min(until, sayAt);
        wake_.wait_until(lock, until);
    }
    networkThread_ = looping;
}

void MqttPublisher::OnConnect(int rc) {
    if (rc != 0) {
        // Refused by the broker (a wrong password, say); libmosquitto tries again.
        std::lock_guard lock(mutex_);
        lastProblem_ = RefusalText(rc);
        refusal_ = rc;
        return;
    }
    int statusMid = -1;
    mosquitto_publish(client_, &statusMid, statusTopic_.c_str(), static_cast<int>(sizeof kOnline - 1),
                      kOnline, kQos, true);
    bool back = false;
    std::lock_guard saying(noticeMutex_);
    {
        std::lock_guard lock(mutex_);
        statusMid_ = statusMid;
        connected_ = true;
        outbox_.Reconnected();
        alarms_.Reconnected();
        back = saidUnreachable_;
        saidUnreachable_ = false;
        lastProblem_.clear();
        refusal_ = 0;
    }
    wake_.notify_all();
    if (back)
        Notify(PublishNotice::Kind::Back, 0);
}

void MqttPublisher::OnDisconnect(int rc) {
    // A refusal ends the connection with MOSQ_ERR_CONN_REFUSED, after OnConnect has had the broker's reason.
    const QString problem = rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_CONN_REFUSED ? QString() : ErrorText(rc);
    {
        std::lock_guard lock(mutex_);
        if (connected_)
            disconnectedSince_ = std::chrono::steady_clock::now();
        connected_ = false;
        if (!problem.isEmpty()) {
            lastProblem_ = problem;
            refusal_ = 0;
        }
    }
    wake_.notify_all();
}

// libmosquitto says why a TLS handshake failed only in its log, and then gives up without a
// disconnect: "OpenSSL Error[0]: error:0A000126:SSL routines::unexpected eof while reading".
void MqttPublisher::OnLog(int level, const char* text) {
    if (!(level & MOSQ_LOG_ERR))
        return;
    QString problem = QString::fromUtf8(text);
    if (problem.startsWith(QLatin1String("OpenSSL Error"))) {
        const qsizetype detail = problem.lastIndexOf(QLatin1String("::"));
        problem = QStringLiteral("TLS handshake failed: %1")
                      .arg(detail >= 0 ? problem.mid(detail + 2) : problem.section(QLatin1String(": "), 1));
    }
    std::lock_guard lock(mutex_);
    if (!connected_) {
        lastProblem_ = problem;
        refusal_ = 0;
    }
}

void MqttPublisher::OnPublish(int mid) {
    {
        std::lock_guard lock(mutex_);
        if (mid == statusMid_) {
            statusMid_ = -1;
            return;
        }
        // A mid belongs to one of the two; the other passes over it.
        outbox_.Acknowledged(mid);
        alarms_.Acknowledged(mid);
    }
    wake_.notify_all();
}

void MqttPublisher::ConnectCallback(mosquitto*, void* self, int rc) {
    static_cast<MqttPublisher*>(self)->OnConnect(rc);
}

void MqttPublisher::DisconnectCallback(mosquitto*, void* self, int rc) {
    static_cast<MqttPublisher*>(self)->OnDisconnect(rc);
}

void MqttPublisher::PublishCallback(mosquitto*, void* self, int mid) {
    static_cast<MqttPublisher*>(self)->OnPublish(mid);
}

void MqttPublisher::LogCallback(mosquitto*, void* self, int level, const char* text) {
    static_cast<MqttPublisher*>(self)->OnLog(level, text);
}

void MqttPublisher::Notify(PublishNotice::Kind kind, std::uint64_t count, const QString& problem,
                           int refusal) {
    if (!options_.notify)
        return;
    const QString broker = BrokerName(target_);
    const QString number = QString::number(count);
    PublishNotice notice{kind, count, QString(), QString()};
    switch (kind) {
    case PublishNotice::Kind::Unreachable: {
        if (refusal != 0) {
            notice.message =
                QStringLiteral("the MQTT broker at %1 refused the connection: %2 (CONNACK return code "
                               "%3); samples wait in memory (up to %4 of them) and are sent once it "
                               "takes the connection")
                    .arg(broker, RefusalText(refusal), QString::number(refusal),
                         QString::number(options_.capacity));
            notice.status =
                StatusText(refusal >= 1 && refusal <= kRefusalReasons ? kStatusRefusedBecause[refusal - 1]
                                                                      : kStatusRefused);
            break;
        }
        notice.message =
            QStringLiteral("cannot reach the MQTT broker at %1%2; samples wait in memory (up to %3 of them) "
                           "and are sent when it is back")
                .arg(broker, problem.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(problem),
                     QString::number(options_.capacity));
        notice.status = StatusText(kStatusUnreachable);
        break;
    }
    case PublishNotice::Kind::Back:
        notice.message =
            QStringLiteral("the MQTT broker at %1 is back; sending the samples that waited").arg(broker);
        notice.status = StatusText(kStatusBack);
        break;
    case PublishNotice::Kind::AlarmsDropping:
        notice.message =
            QStringLiteral("the MQTT queue of alarms is full (%1 crossings): the oldest alarms are dropped "
                           "from now on while the broker at %2 is away; their number is said at the end")
                .arg(QString::number(kAlarmCapacity), broker);
        notice.status = StatusText(kStatusDropping);
        break;
    case PublishNotice::Kind::Dropping:
        notice.message =
            QStringLiteral("the MQTT queue is full (%1 samples): the oldest samples are dropped from "
                           "now on while the broker at %2 is away; their number is said at the end")
                .arg(QString::number(options_.capacity), broker);
        notice.status = StatusText(kStatusDropping);
        break;
    case PublishNotice::Kind::Dropped:
        notice.message =
            QStringLiteral("the MQTT queue was full: the oldest %1 samples were dropped and will not "
                           "reach the broker at %2")
                .arg(number, broker);
        notice.status = StatusText(kStatusDropped).arg(number);
        break;
    case PublishNotice::Kind::Undelivered:
        notice.message = QStringLiteral("%1 samples were not delivered to the MQTT broker at %2 before exit")
                             .arg(number, broker);
        notice.status = StatusText(kStatusUndelivered).arg(number);
        break;
    }
    options_.notify(notice);
}

report::Result<std::unique_ptr<MqttPublisher>> MakePublisher(const QString& url,
                                                              std::function<void(const PublishNotice&)> notify) {
    const auto target = ParsePublishUrl(url);
    if (!target)
        return target.Error();
    PublisherOptions options;
    options.password = qEnvironmentVariable("TAVRIN_MQTT_PASSWORD");
    if (!options.password.isEmpty() && target->user.isEmpty())
        return report::Fail(QStringLiteral("TAVRIN_MQTT_PASSWORD is set but the --publish URL names no user: write "
                                           "mqtt://USER@host/PREFIX"));
    options.notify = std::move(notify);
    return MqttPublisher::Make(*target, std::move(options));
}

} // namespace publish
