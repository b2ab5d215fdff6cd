// Where the samples are published: the --publish URL taken apart, and the
// topics built from it.
#pragma once

#include <QString>
#include <optional>

namespace publish {

constexpr int kMqttPort = 1883;
constexpr int kMqttsPort = 8883;

struct PublishTarget {
    QString host;
    int port = kMqttPort;
    QString user;   // empty: connect without a user name
    QString prefix; // the first topic levels, without a trailing '/'
    bool tls = false;
};

// mqtt://[user@]host[:port]/PREFIX or mqtts://…; nullopt and a message in
// *error for anything else. A password in the URL is refused: it would show
// in the process list and the shell's history.
std::optional<PublishTarget> ParsePublishUrl(const QString& url, QString* error);

// A unit's name as one topic level: '/', '+' and '#' would split the level or
// act as wildcards, so they become '_'; an empty name becomes "unknown".
QString TopicLevel(const QString& unit);

QString SampleTopic(const PublishTarget& target, const QString& unit); // PREFIX/<unit>/sample
QString StatusTopic(const PublishTarget& target, const QString& unit); // PREFIX/<unit>/status

// "host:port", for messages.
QString BrokerName(const PublishTarget& target);

} // namespace publish
