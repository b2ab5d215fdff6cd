// Real MQTT parts for tests and benchmarks, all on 127.0.0.1: a mosquitto broker
// on a free port, a TCP relay that can cut a connection, a subscriber.
#pragma once

#include <QTcpServer>
#include <QTemporaryDir>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

struct mosquitto;

namespace testing {

quint16 FreePort();

// Started with posix_spawn rather than QProcess, whose way of forking ThreadSanitizer cannot follow.
class MosquittoBroker {
public:
    ~MosquittoBroker();
    // False when it takes no connection within 10 s. With a user, only that user with that password
    // may connect.
    bool Start(quint16 port, const QString& user = QString(), const QString& password = QString());

private:
    QTemporaryDir folder_;
    pid_t pid_ = -1;
};

// Passes bytes between its clients and the broker; Stop cuts every connection
// and refuses new ones until Start.
class TcpRelay : public QObject {
public:
    TcpRelay(quint16 port, quint16 brokerPort);
    bool Start() { return server_.listen(QHostAddress::LocalHost, port_); }
    void Stop();
    quint16 Port() const { return port_; }

private:
    quint16 port_, brokerPort_;
    QTcpServer server_;
};

// Subscribes to `filter` with QoS 1 and keeps every message as "topic payload", in arrival order.
class Subscriber {
public:
    Subscriber(quint16 port, std::string filter);
    ~Subscriber();
    bool Subscribed();
    std::vector<std::string> Messages();

private:
    std::string filter_;
    mosquitto* client_;
    std::mutex mutex_;
    bool subscribed_ = false;
    std::vector<std::string> messages_;
};

} // namespace testing
