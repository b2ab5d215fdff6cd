// Where the samples are published: the --publish URL taken apart, and the
// topics built from it.
#pragma once

#include "report/failure.h"

#include <QString>
#include <optional>

namespace publish {

constexpr int kMqttPort = 1883;
constexpr int kMqttsPort = 8883;
// An MQTT topic is at most 65,535 bytes of UTF-8.
constexpr int kMaxTopicBytes = 65535;
// A unit's topic level is cut to this many bytes (a port's name, the longest a unit can have, is
// at most a file name's 255).
constexpr int kMaxUnitLevelBytes = 255;
// The prefix leaves room for "/", the longest unit level and the longest of "/status", "/sample" and
// "/alarm/ad0".
constexpr int kMaxPrefixBytes = kMaxTopicBytes - 1 - kMaxUnitLevelBytes - 10;

struct PublishTarget {
    QString host;
    int port = kMqttPort;
    QString user;   // empty: connect without a user name
    QString prefix; // the first topic levels, without a trailing '/'
    bool tls = false;
};

// mqtt://[user@]host[:port]/PREFIX or mqtts://…; nullopt and a message in
// *error, naming the rule broken, for anything else. A password in the URL is
// refused: it would show in the process list and the shell's history. A '%'
// not followed by two hex digits, or escapes that are not UTF-8, are refused. The
// prefix is percent-decoded (%2F is a '/', %20 a blank) and then must make
// topics a broker takes: no NUL, no other control character (C0, DEL, C1), no
// wildcard '+' or '#', no leading '$' (the broker's own $SYS/…), at most
// kMaxPrefixBytes of UTF-8. The port is 1–65535.
report::Result<PublishTarget> ParsePublishUrl(const QString& url);

// A unit's name as one topic level: '/', '+', '#' and NUL would split the level,
// act as wildcards or cut the topic, so they become '_'; an empty name becomes
// "unknown"; a name longer than kMaxUnitLevelBytes of UTF-8 is cut there.
QString TopicLevel(const QString& unit);

QString SampleTopic(const PublishTarget& target, const QString& unit); // PREFIX/<unit>/sample
QString StatusTopic(const PublishTarget& target, const QString& unit); // PREFIX/<unit>/status
// PREFIX/<unit>/alarm/ad0, PREFIX/<unit>/alarm/ad1
QString AlarmTopic(const PublishTarget& target, const QString& unit, int channel);

// "host:port", for messages.
QString BrokerName(const PublishTarget& target);

} // namespace publish
