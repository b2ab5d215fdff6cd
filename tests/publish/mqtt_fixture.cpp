#include "tests/publish/mqtt_fixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <mosquitto.h>
#include <utility>

namespace testing {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

MosquittoBroker::MosquittoBroker() = default;

MosquittoBroker::~MosquittoBroker() {
    Stop();
}

bool MosquittoBroker::Start(quint16 port) {
    Stop();
    const QString config = folder_.filePath(QStringLiteral("mosquitto.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(
        QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nlog_type none\n")
            .arg(port)
            .toUtf8());
    file.close();
    process_ = new QProcess;
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config});
    if (!process_->waitForStarted())
        return false;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process_->state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void MosquittoBroker::Stop() {
    if (!process_)
        return;
    process_->kill();
    process_->waitForFinished();
    delete process_;
    process_ = nullptr;
}

TcpRelay::TcpRelay(quint16 port, quint16 brokerPort) : port_(port), brokerPort_(brokerPort) {
    connect(&server_, &QTcpServer::newConnection, this, &TcpRelay::Accept);
}

bool TcpRelay::Start() {
    return server_.listen(QHostAddress::LocalHost, port_);
}

void TcpRelay::Stop() {
    server_.close();
    for (QTcpSocket* socket : std::exchange(sockets_, {})) {
        socket->abort();
        socket->deleteLater();
    }
}

void TcpRelay::Accept() {
    while (QTcpSocket* client = server_.nextPendingConnection()) {
        auto* broker = new QTcpSocket(this);
        broker->connectToHost(QHostAddress::LocalHost, brokerPort_);
        sockets_ << client << broker;
        connect(client, &QTcpSocket::readyRead, broker,
                [client, broker] { broker->write(client->readAll()); });
        connect(broker, &QTcpSocket::readyRead, client,
                [client, broker] { client->write(broker->readAll()); });
        connect(client, &QTcpSocket::disconnected, broker, &QTcpSocket::disconnectFromHost);
        connect(broker, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
    }
}

Subscriber::Subscriber(quint16 port, std::string filter) : filter_(std::move(filter)) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(client_, [](mosquitto* client, void* self, int) {
        mosquitto_subscribe(client, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
        auto* subscriber = static_cast<Subscriber*>(self);
        std::lock_guard lock(subscriber->mutex_);
        subscriber->subscribed_ = true;
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
        auto* subscriber = static_cast<Subscriber*>(self);
        std::lock_guard lock(subscriber->mutex_);
        subscriber->messages_.push_back(
            {message->topic, std::string(static_cast<const char*>(message->payload),
                                         static_cast<std::size_t>(message->payloadlen))});
    });
    mosquitto_connect_async(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

bool Subscriber::Subscribed() {
    std::lock_guard lock(mutex_);
    return subscribed_;
}

std::vector<Subscriber::Message> Subscriber::Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

} // namespace testing
