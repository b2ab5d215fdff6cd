// The MQTT publisher: a sample sink that sends every sample of a run, as JSON
// with QoS 1, to PREFIX/<unit>/sample, and keeps PREFIX/<unit>/status at a
// retained "online" (the connection's will: "offline"). Each crossing of a
// channel's limits goes, retained, to PREFIX/<unit>/alarm/ad0 (or ad1), so that
// whoever subscribes learns where each channel stands now.
//
// Take() only formats the sample and queues it in memory; the network is served
// by libmosquitto's own thread, and the messages are handed to it by a thread of
// the publisher's, so the sample loop never waits for the broker. A broker that
// is down at START or goes away mid-run is retried with back-off; the samples
// wait in the Outbox and go out, oldest first, when it is back. When the Outbox
// is full and its oldest samples start to go, that is said at once; their total
// is said at the end. The alarms wait in an Outbox of their own and go out
// before the samples: a full queue of samples never pushes one out; when theirs
// is full and its oldest start to go, that too is said at once.
#pragma once

#include "acquisition/decoded_sample.h"
#include "publish/outbox.h"
#include "publish/publish_target.h"

#include <QString>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct mosquitto;

namespace publish {

// Alarms held while the broker is away: crossings of two channels' limits, far more than a run makes.
constexpr std::size_t kAlarmCapacity = 1000;

// What the publisher has to tell the user, once each time it happens.
struct PublishNotice {
    // Unreachable: no connection for a while (the broker away, silent, or refusing the connection,
    // its reason named); Dropping: the queue is full and its oldest samples go from now on; Dropped:
    // at the end, how many went in all; AlarmsDropping: the alarms' queue is full, and its oldest go
    // from now on (their total is the Shortfall()).
    enum class Kind { Unreachable, Back, Dropped, Undelivered, Dropping, AlarmsDropping };
    Kind kind;
    std::uint64_t count = 0; // samples dropped or left undelivered
    QString message;         // plain English, for standard error
    QString status;          // the status line's text
};

struct PublisherOptions {
    QString password; // empty: none
    std::size_t capacity = kOutboxCapacity;
    int reconnectDelayS = 1;                          // first wait before reconnecting, doubling…
    int reconnectDelayMaxS = 30;                      // …up to this
    std::chrono::milliseconds unreachableAfter{2000}; // no connection this long: say so
    std::chrono::milliseconds flushOnExit{10000};     // at exit, wait this long for the queue to empty
    // Called on a background thread; must not block for long.
    std::function<void(const PublishNotice&)> notify;
};

class MqttPublisher final : public acquisition::SampleSink {
public:
    // Nothing is connected until the first RunStarted, which names the unit.
    static report::Result<std::unique_ptr<MqttPublisher>> Make(const PublishTarget& target,
                                                               PublisherOptions options);
    ~MqttPublisher() override;

    const char* Module() const override;
    QString StoppedStatus() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;
    // The samples (and alarms) dropped for room, and after Finish those the broker never took.
    QString Shortfall() const override;

    // At exit: waits up to flushOnExit for the queues to empty, says "offline", disconnects, and
    // gives the notices of the end (samples dropped in all, samples not delivered). Later samples
    // are counted as not delivered. The destructor finishes a publisher not finished yet.
    void Finish();
    // The same on a thread of its own, so that the program's other ends go on meanwhile; `done` is
    // called on that thread once finished. Nothing else is called on the publisher until then.
    void FinishThen(std::function<void()> done);
    struct Counts {
        std::size_t waiting = 0;     // queued, not yet acknowledged by the broker
        std::uint64_t delivered = 0; // acknowledged
        std::uint64_t dropped = 0;   // dropped for room
        bool connected = false;
    };
    Counts Snapshot() const;

private:
    MqttPublisher(const PublishTarget& target, PublisherOptions options, mosquitto* client);
    void Start(const QString& unit);
    void Serve();
    // `refusal`: with Unreachable, the broker's CONNACK return code when it refused the connection.
    void Notify(PublishNotice::Kind kind, std::uint64_t count, const QString& problem = QString(),
                int refusal = 0);
    void OnConnect(int rc);
    void OnDisconnect(int rc);
    void OnPublish(int mid);
    void OnLog(int level, const char* text);
    static void ConnectCallback(mosquitto*, void* self, int rc);
    static void DisconnectCallback(mosquitto*, void* self, int rc);
    static void PublishCallback(mosquitto*, void* self, int mid);
    static void LogCallback(mosquitto*, void* self, int level, const char* text);

    const PublishTarget target_;
    const PublisherOptions options_;
    mosquitto* client_;
    std::string statusTopic_; // fixed by the first run: the will cannot change while connected
    std::shared_ptr<const std::string> sampleTopic_;
    std::array<std::shared_ptr<const std::string>, channels::kChannelCount> alarmTopics_;
    std::string run_; // the time of the current run's START, as samples say it
    channels::Channels channels_ = channels::DefaultChannels(); // the current run's

    std::mutex noticeMutex_;   // held while deciding on and giving a notice; taken before mutex_
    mutable std::mutex mutex_; // guards everything below
    std::condition_variable wake_;
    Outbox outbox_;
    Outbox alarms_{kAlarmCapacity};
    bool started_ = false;
    bool finished_ = false;
    bool stopping_ = false;
    bool connected_ = false;
    bool saidUnreachable_ = false;
    QString lastProblem_; // why the last connection failed or ended, when known
    int refusal_ = 0;     // the CONNACK return code of the broker's refusal of the last connection; 0: none
    std::chrono::steady_clock::time_point disconnectedSince_;
    int statusMid_ = -1;
    std::uint64_t droppingSaid_ = 0; // Outbox::DroppingStarts() already said
    std::uint64_t alarmsDroppingSaid_ = 0; // the same for the alarms
    std::uint64_t undelivered_ = 0;  // known once finished
    std::uint64_t undeliveredAlarms_ = 0;
    std::thread server_;
    std::thread finisher_;       // FinishThen's
    bool networkThread_ = false; // libmosquitto's thread runs; set by server_ as it ends
};

// For the command line: parses the URL, takes the password from the environment
// variable TAVRIN_MQTT_PASSWORD, and makes the publisher; fails with a message
// when the URL is wrong or the client cannot be set up.
report::Result<std::unique_ptr<MqttPublisher>> MakePublisher(const QString& url,
                                                              std::function<void(const PublishNotice&)> notify);

} // namespace publish
