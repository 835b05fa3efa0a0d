#ifndef QMQTTCONNECTION_H
#define QMQTTCONNECTION_H

#include "core/repeatedmessage.h"
#include "links/mqtt/mqttsettings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QHostInfo;
class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mosquitto_message;
struct ssl_ctx_st;
struct ssl_st;

// One client connection to an MQTT broker, on libmosquitto, driven from
// the main event loop: the library's socket is watched by socket notifiers
// that run its reading and writing, and the main cycle's tick runs its
// keepalive (service()). Nothing blocks: a host name is resolved in the
// background and the connection is opened without waiting.
//
// After the broker accepted a connection, the connection publishes
// "online" (retained) on the status topic, whose last will is "offline",
// and subscribes the topics it was given. A failed attempt or a lost
// connection is reported once through a repeated-message streak and tried
// again with a doubling back-off, timed by the gateway clock; every attempt
// uses a fresh library session, so nothing of an old one is sent twice.
// With TLS the broker's certificate is verified against the CA file and
// against the configured host name (or address), whatever address the
// name resolved to. Once connected, reading is gathered: after a read the
// connection waits ReadGatherMs before it reads again, so that a stream of
// acknowledgements is taken in bulk rather than one wake-up each.
class QMqttConnection : public QObject
{
    Q_OBJECT
public:
    // What the connection tells its owner. connected(), disconnected() and
    // ready() are called outside the library and may publish; delivered()
    // and message() are called from inside the library's reading and may
    // not call back into the connection (their byte arrays are valid only
    // during the call).
    class Listener
    {
    public:
        virtual ~Listener();
        // The broker accepted the connection.
        virtual void mqttConnected() = 0;
        // An accepted connection is gone.
        virtual void mqttDisconnected() = 0;
        // The broker acknowledged the message published as `mid`.
        virtual void mqttDelivered(int mid) = 0;
        // A message arrived on a subscribed topic.
        virtual void mqttMessage(const QByteArray &topic, const QByteArray &payload) = 0;
        // The connection processed traffic and can take messages.
        virtual void mqttReady() = 0;
    };

    enum Phase {
        phIdle,       // not started
        phResolving,  // looking the host name up
        phConnecting, // waiting for the broker's answer
        phConnected,  // accepted by the broker
        phWaiting     // waiting for the next attempt
    };
    enum PublishResult {
        prSent,        // handed to the library
        prRefused,     // the library can never send it (size, topic)
        prNotConnected // not connected (now)
    };

    // Back-off between attempts: the first delay, doubled after every
    // failure up to the last one.
    static constexpr qint64 FirstRetryDelayMs = 1000;
    static constexpr qint64 MaxRetryDelayMs = 30000;
    // A connection that stayed up this long starts the back-off anew when
    // lost, and ends the fault streak of the attempts before it.
    static constexpr qint64 StableConnectionMs = 10000;
    // An attempt not answered within this (lookup included) is given up.
    static constexpr qint64 ConnectTimeoutMs = 15000;
    // The most quality-1 messages the library holds unacknowledged at once.
    static constexpr int InFlightWindow = 200;
    // Least time between two reads of a connected socket.
    static constexpr int ReadGatherMs = 1;

    // `name` names the connection in messages; `listener` (not owned) must
    // outlive the connection.
    QMqttConnection(const MqttSettings &settings, const QString &name, Listener *listener, QObject *parent = nullptr);
    // An accepted connection is ended in order: "offline" on the status
    // topic, then a disconnect.
    ~QMqttConnection() override;

    // Topics subscribed on every accepted connection.
    void setSubscriptions(const QList<QByteArray> &topics);
    // Makes the first attempt (only while idle).
    void start();
    // From the main cycle: the next attempt when it is due, the end of an
    // unanswered attempt, the keepalive of an accepted connection.
    void service();

    // Publishes one message. On prSent `*mid` is its message id. On
    // prRefused `*reason` says why; a connection that broke on the way is
    // reported and ended (prNotConnected).
    PublishResult publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain, int *mid,
                          QString *reason);
    // True while the library holds data the socket did not take yet.
    bool writeBacklog() const;
    // Outside the event loop, for a last hand-over before the connection
    // ends: waits at most `msecs` for the socket, then writes and reads what
    // it can (acknowledgements reach the listener). False when not connected,
    // or no longer once done.
    bool serveFor(int msecs);
    // Between these, what is published is held back and sent in as few
    // network packets as possible.
    void beginBurst();
    void endBurst();

    Phase phase() const { return m_phase; }
    bool isConnected() const { return m_phase == phConnected; }
    // Connected, and the broker answered every subscription.
    bool subscribed() const { return m_phase == phConnected && m_subscribeChunks.isEmpty(); }
    // Attempts made so far.
    quint64 attempts() const { return m_attempts; }
    // While waiting: the gateway's monotonic time of the next attempt.
    qint64 nextAttemptMs() const { return m_nextAttemptMs; }
    // "<prefix>/status".
    QByteArray statusTopic() const { return m_statusTopic; }
    // "host:port".
    QString broker() const;

private slots:
    // The library's socket can be read / written.
    void onReadable();
    void onWritable();
    // The pause after a read is over.
    void onReadPauseEnd();

private:
    // Reads everything that is there and handles it.
    void readAvailable();

private:
    void attempt();
    void onResolved(const QHostInfo &info);
    // Connects to the next address of the current attempt.
    void connectNext();
    void connectTo(const QString &address);
    bool setupTls(QString *reason);
    // Handles what the library reported during a call that returned `rc`
    // (`err`: errno right after it).
    void afterLoop(int rc, int err);
    void accepted();
    void subscribeAll();
    // Reports `warning`/`log`, ends the session and waits for the next attempt.
    void fail(const QString &warning, const QString &log);
    void failConnection(int rc, int err);
    void teardown();
    void updateWriteNotifier();
    QString reasonFor(int rc, int err) const;

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    static void onTlsInfo(const ssl_st *ssl, int where, int ret);

    MqttSettings m_settings;
    QString m_name;
    Listener *m_listener;
    QByteArray m_statusTopic;
    QByteArray m_serverName; // sent in the TLS handshake; empty for an address
    QList<QByteArray> m_subscriptions;

    mosquitto *m_mosq;
    ssl_ctx_st *m_sslCtx;
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
    QTimer *m_readPause; // runs while reading waits after a read
    int m_lookupId;
    QStringList m_addresses; // of the current attempt
    int m_nextAddress;

    Phase m_phase;
    quint64 m_attempts;
    qint64 m_attemptStartMs;
    qint64 m_connectedAtMs;
    qint64 m_retryDelayMs;
    qint64 m_nextAttemptMs;

    // What the library's callbacks reported during the current call.
    int m_connackRc;     // -1: no answer yet
    int m_disconnectRc;  // -1: still connected
    long m_verifyResult; // why the handshake refused the certificate (0: it did not)
    bool m_tcpUp = false; // the attempt's connection is made (its socket was writable)
    QString m_libraryError;
    QHash<int, int> m_subscribeChunks; // SUBSCRIBE message id -> first topic
    QList<QByteArray> m_refused;
    bool m_subscriptionsRefused;

    RepeatedMessage m_fault;
    RepeatedMessage m_subscribeFault;
};

#endif // QMQTTCONNECTION_H
