#ifndef MQTTBROKER_H
#define MQTTBROKER_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <mutex>

struct mosquitto;

// A broker of the test's own: the system's mosquitto on a free loopback
// port, with a configuration written into a temporary directory. Used by
// the tests and the benchmark; every wait is bounded.
class MqttBroker
{
public:
    // The broker program, or empty when it is not installed.
    static QString program();

    // `listenerLines` follow the listener line (TLS files of the
    // listener); `globalLines` follow the listeners (login, limits).
    explicit MqttBroker(const QString &listenerLines = QString(), const QString &globalLines = QString());
    ~MqttBroker();

    // Starts the broker (on the same port after a stop); false, with the
    // reason in `error`, when it does not accept connections within 10 s.
    bool start(QString *error = nullptr);
    // Stops it (and waits until it has ended).
    void stop();

    quint16 port() const { return m_port; }
    // A second plain listener, always there: for subscribers when the first
    // listener speaks TLS.
    quint16 plainPort() const { return m_plainPort; }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // What the broker logged so far.
    QByteArray log() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_listenerLines;
    QString m_globalLines;
    quint16 m_port;
    quint16 m_plainPort;
};

// A free loopback port (bound once and released).
quint16 freeLoopbackPort();

// Processes the gateway's events until `done` holds or `msecs` have passed;
// true when it holds.
bool waitUntil(const std::function<bool()> &done, int msecs = 10000);

// A subscriber of the test: a libmosquitto client on a thread of its own
// that records what arrives.
class MqttSubscriber
{
public:
    struct Message {
        QByteArray topic;
        QByteArray payload;
        bool retain;
    };

    // `clientId`: empty for one of its own.
    explicit MqttSubscriber(const QByteArray &clientId = QByteArray());
    ~MqttSubscriber();

    // Connects to 127.0.0.1:`port` and subscribes `topic`; true once the
    // subscription is granted (within 10 s).
    bool connect(quint16 port, const QByteArray &topic = "#", int qos = 1);
    // After a restart of the broker: true once subscribed again.
    bool waitSubscribed(int msecs = 10000);
    // Publishes and waits until it was written (quality 0) or acknowledged.
    bool publish(const QByteArray &topic, const QByteArray &payload, int qos = 1, bool retain = false);

    QList<Message> messages() const;
    // Payloads that arrived on `topic`, in order.
    QList<QByteArray> payloads(const QByteArray &topic) const;
    int count() const;
    void clear();

private:
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);

    mosquitto *m_mosq;
    mutable std::mutex m_mutex;
    QList<Message> m_messages;
    QByteArray m_topic;
    int m_qos = 1;
    bool m_subscribed;
    int m_publishedMid;
};

#endif // MQTTBROKER_H
