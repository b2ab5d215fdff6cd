#include "tests/publish/mqtt_fixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <mosquitto.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

MosquittoBroker::~MosquittoBroker() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool MosquittoBroker::Start(quint16 port, const QString& user, const QString& password) {
    QFile config(folder_.filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    QString access = QStringLiteral("allow_anonymous true\n");
    if (!user.isEmpty()) {
        // Started by root, the broker reads the file as the user mosquitto.
        const QString file = folder_.filePath(QStringLiteral("passwords"));
        const QString make = QStringLiteral("mosquitto_passwd -c -b '%1' '%2' '%3' && chmod 644 '%1' && chmod 755 '%4'")
                                 .arg(file, user, password, folder_.path());
        if (std::system(QFile::encodeName(make).constData()) != 0)
            return false;
        access = QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(file);
    }
    config.write(QStringLiteral("listener %1 127.0.0.1\n%2persistence false\nlog_type none\n")
                     .arg(QString::number(port), access)
                     .toUtf8());
    config.close();
    const QByteArray configName = QFile::encodeName(config.fileName());
    char* argv[] = {const_cast<char*>("mosquitto"), const_cast<char*>("-c"),
                    const_cast<char*>(configName.constData()), nullptr};
    if (::posix_spawnp(&pid_, "mosquitto", nullptr, nullptr, argv, environ) != 0) {
        pid_ = -1;
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (::waitpid(pid_, nullptr, WNOHANG) != 0) { // it has ended: nothing to stop later
            pid_ = -1;
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

TcpRelay::TcpRelay(quint16 port, quint16 brokerPort) : port_(port), brokerPort_(brokerPort) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* client = server_.nextPendingConnection()) {
            auto* broker = new QTcpSocket(client);
            broker->connectToHost(QHostAddress::LocalHost, brokerPort_);
            connect(client, &QTcpSocket::readyRead, broker,
                    [client, broker] { broker->write(client->readAll()); });
            connect(broker, &QTcpSocket::readyRead, client,
                    [client, broker] { client->write(broker->readAll()); });
            connect(broker, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        }
    });
}

void TcpRelay::Stop() {
    server_.close();
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) { // clients and their broker sides
        socket->abort();
        socket->deleteLater();
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
        subscriber->messages_.push_back(std::string(message->topic) + ' ' +
                                        std::string(static_cast<const char*>(message->payload),
                                                    static_cast<std::size_t>(message->payloadlen)));
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

std::vector<std::string> Subscriber::Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

} // namespace testing
