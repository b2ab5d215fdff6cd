// Real MQTT parts for tests and benchmarks, all on 127.0.0.1: a mosquitto broker
// started on a free port, a TCP relay that can cut a connection, a subscriber.
#pragma once

#include <QList>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <mutex>
#include <string>
#include <vector>

class QProcess;
class QTcpSocket;
struct mosquitto;

namespace testing {

quint16 FreePort();

class MosquittoBroker {
public:
    MosquittoBroker();
    ~MosquittoBroker();
    // Starts it (again) on `port`; false once it has not taken connections for 10 s.
    bool Start(quint16 port);
    void Stop();

private:
    QTemporaryDir folder_;
    QProcess* process_ = nullptr;
};

// Passes bytes between clients on its port and the broker; Stop cuts every
// connection at once and refuses new ones until Start.
class TcpRelay : public QObject {
public:
    TcpRelay(quint16 port, quint16 brokerPort);
    bool Start();
    void Stop();
    quint16 Port() const { return port_; }

private:
    void Accept();
    quint16 port_, brokerPort_;
    QTcpServer server_;
    QList<QTcpSocket*> sockets_;
};

// Subscribes to `filter` with QoS 1 and keeps every message, in arrival order.
class Subscriber {
public:
    Subscriber(quint16 port, std::string filter);
    ~Subscriber();
    bool Subscribed();
    struct Message {
        std::string topic, payload;
    };
    std::vector<Message> Messages();

private:
    std::string filter_;
    mosquitto* client_;
    std::mutex mutex_;
    bool subscribed_ = false;
    std::vector<Message> messages_;
};

} // namespace testing
