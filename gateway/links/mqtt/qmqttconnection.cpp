#include "links/mqtt/qmqttconnection.h"

#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

const char kOnline[] = "online";
const char kOffline[] = "offline";
// Topics per SUBSCRIBE message.
constexpr int kTopicsPerSubscribe = 100;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// libmosquitto (2.0) registers the slot in which a TLS session finds its
// client only when it builds a TLS context itself, not when it is handed
// one; its certificate check then fails every handshake. One throwaway
// session of its own, opened to a local listening socket and closed at
// once, makes it register the slot before the first context of ours is
// used. Nothing here waits.
void primeLibraryTls(const QByteArray &caFile)
{
    // Done once the throwaway session got as far as its context; a failure
    // before (the CA file unreadable for a moment, no descriptor left) is
    // tried again with the next TLS connection.
    static bool primed = false;
    if (primed)
        return;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::listen(listener, 1) == 0 && ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        mosquitto *session = mosquitto_new(nullptr, true, nullptr);
        if (session && mosquitto_tls_set(session, caFile.constData(), nullptr, nullptr, nullptr, nullptr) == MOSQ_ERR_SUCCESS) {
            mosquitto_connect_async(session, "127.0.0.1", ntohs(address.sin_port), 60);
            primed = true;
        }
        if (session)
            mosquitto_destroy(session);
    }
    if (listener >= 0)
        ::close(listener);
}

// A client key must not be protected by a pass phrase: the gateway cannot
// ask for one (and must never wait at a terminal for it).
int noKeyPassword(char *, int, int, void *)
{
    return 0;
}

// The English text and its translation, filled with the same arguments.
struct Texts {
    QString warning;
    QString log;
};

template<typename... Args>
Texts texts(const char *text, const Args &...args)
{
    return {QString::fromUtf8(text).arg(args...), QCoreApplication::translate("QMqttConnection", text).arg(args...)};
}

const char kConnected[] = "MQTT tie \"%1\": connected to broker %2";
const char kCannotConnect[] = "MQTT tie \"%1\": cannot connect to broker %2: %3";
const char kRefused[] = "MQTT tie \"%1\": broker %2 refused the connection: %3";
const char kLost[] = "MQTT tie \"%1\": connection to broker %2 lost: %3";
const char kCannotResolve[] = "MQTT tie \"%1\": cannot resolve broker host %2: %3";
const char kNoAnswer[] = "MQTT tie \"%1\": broker %2 did not answer within %3 s";
const char kSubscriptionRefused[] = "MQTT tie \"%1\": broker %2 refused the subscription to %3 (%4 topics refused)";

} // namespace

QMqttConnection::Listener::~Listener() = default;

QMqttConnection::QMqttConnection(const MqttSettings &settings, const QString &name, Listener *listener,
                                 QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_name(name)
    , m_listener(listener)
    , m_statusTopic((settings.topicPrefix + QStringLiteral("/status")).toUtf8())
    , m_mosq(nullptr)
    , m_sslCtx(nullptr)
    , m_readNotifier(nullptr)
    , m_writeNotifier(nullptr)
    , m_readPause(new QTimer(this))
    , m_lookupId(-1)
    , m_nextAddress(0)
    , m_phase(phIdle)
    , m_attempts(0)
    , m_attemptStartMs(0)
    , m_connectedAtMs(0)
    , m_retryDelayMs(FirstRetryDelayMs)
    , m_nextAttemptMs(0)
    , m_connackRc(-1)
    , m_disconnectRc(-1)
    , m_verifyResult(0)
    , m_subscriptionsRefused(false)
{
    initLibrary();
    m_readPause->setSingleShot(true);
    m_readPause->setTimerType(Qt::PreciseTimer);
    m_readPause->setInterval(ReadGatherMs);
    connect(m_readPause, &QTimer::timeout, this, &QMqttConnection::onReadPauseEnd);
}

QMqttConnection::~QMqttConnection()
{
    if (m_phase == phConnected) {
        mosquitto_publish(m_mosq, nullptr, m_statusTopic.constData(), int(sizeof kOffline - 1), kOffline, 1, true);
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_write(m_mosq, 1);
    }
    teardown();
}

void QMqttConnection::setSubscriptions(const QList<QByteArray> &topics)
{
    m_subscriptions = topics;
}

QString QMqttConnection::broker() const
{
    return QStringLiteral("%1:%2").arg(m_settings.host, QString::number(m_settings.port));
}

void QMqttConnection::start()
{
    if (m_phase == phIdle)
        attempt();
}

void QMqttConnection::service()
{
    const qint64 now = Clock::monotonicMsecs();
    switch (m_phase) {
    case phWaiting:
        if (now >= m_nextAttemptMs)
            attempt();
        break;
    case phResolving:
    case phConnecting:
        if (now - m_attemptStartMs >= ConnectTimeoutMs) {
            const Texts t = texts(kNoAnswer, m_name, broker(), QString::number(ConnectTimeoutMs / 1000));
            fail(t.warning, t.log);
        }
        break;
    case phConnected: {
        if (m_fault.active() && now - m_connectedAtMs >= StableConnectionMs) {
            const Texts t = texts(kConnected, m_name, broker());
            m_fault.clear(t.warning, t.log);
        }
        const int rc = mosquitto_loop_misc(m_mosq);
        afterLoop(rc, errno);
        break;
    }
    case phIdle:
        break;
    }
}

void QMqttConnection::attempt()
{
    ++m_attempts;
    m_attemptStartMs = Clock::monotonicMsecs();
    m_addresses.clear();
    m_nextAddress = 0;
    GATE_DEBUG(2, "QMqttConnection::attempt(): attempt %llu to reach %s", static_cast<unsigned long long>(m_attempts),
               qUtf8Printable(broker()));
    QHostAddress literal;
    if (literal.setAddress(m_settings.host)) {
        m_addresses.append(literal.toString());
        connectNext();
        return;
    }
    m_phase = phResolving;
    m_lookupId = QHostInfo::lookupHost(m_settings.host, this, [this](const QHostInfo &info) { onResolved(info); });
}

void QMqttConnection::onResolved(const QHostInfo &info)
{
    m_lookupId = -1;
    if (m_phase != phResolving)
        return;
    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        const QString why = info.error() != QHostInfo::NoError ? info.errorString() : QStringLiteral("no address");
        const Texts t = texts(kCannotResolve, m_name, m_settings.host, why);
        fail(t.warning, t.log);
        return;
    }
    for (const QHostAddress &a : addresses)
        m_addresses.append(a.toString());
    connectNext();
}

void QMqttConnection::connectNext()
{
    connectTo(m_addresses.at(m_nextAddress++));
}

void QMqttConnection::connectTo(const QString &address)
{
    GATE_DEBUG(3, "QMqttConnection::connectTo(%s) for %s", qUtf8Printable(address), qUtf8Printable(broker()));
    m_phase = phConnecting;
    m_connackRc = -1;
    m_disconnectRc = -1;
    m_verifyResult = X509_V_OK;
    m_tcpUp = false;
    m_libraryError.clear();
    m_mosq = mosquitto_new(m_settings.clientId.toUtf8().constData(), m_settings.cleanSession, this);
    if (!m_mosq) {
        const Texts t = texts(kCannotConnect, m_name, broker(), QString::fromLocal8Bit(std::strerror(errno)));
        fail(t.warning, t.log);
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Two slots beyond the tie's window for the status (birth and last
    // word): held back behind a full window, "offline" never went out
    // before the goodbye, and the broker, told goodbye, dropped the will.
    mosquitto_int_option(m_mosq, MOSQ_OPT_SEND_MAXIMUM, InFlightWindow + 2);
    // Small packets go at once (bursts are gathered by beginBurst()).
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m_mosq, &QMqttConnection::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &QMqttConnection::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &QMqttConnection::onPublish);
    mosquitto_message_callback_set(m_mosq, &QMqttConnection::onMessage);
    mosquitto_subscribe_callback_set(m_mosq, &QMqttConnection::onSubscribe);
    mosquitto_log_callback_set(m_mosq, &QMqttConnection::onLog);
    mosquitto_will_set(m_mosq, m_statusTopic.constData(), int(sizeof kOffline - 1), kOffline, 1, true);
    if (!m_settings.username.isEmpty()) {
        mosquitto_username_pw_set(m_mosq, m_settings.username.toUtf8().constData(),
                                  m_settings.hasPassword ? m_settings.password.toUtf8().constData() : nullptr);
    }
    QString reason;
    if (m_settings.tls() && !setupTls(&reason)) {
        const Texts t = texts(kCannotConnect, m_name, broker(), reason);
        fail(t.warning, t.log);
        return;
    }
    const int rc = mosquitto_connect_async(m_mosq, address.toUtf8().constData(), m_settings.port, m_settings.keepalive);
    const int err = errno;
    const int fd = mosquitto_socket(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS || fd < 0) {
        failConnection(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_NO_CONN : rc, err);
        return;
    }
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, SIGNAL(activated(QSocketDescriptor)), this, SLOT(onReadable()));
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_writeNotifier, SIGNAL(activated(QSocketDescriptor)), this, SLOT(onWritable()));
    updateWriteNotifier();
}

bool QMqttConnection::setupTls(QString *reason)
{
    primeLibraryTls(m_settings.caFile.toLocal8Bit());
    m_sslCtx = SSL_CTX_new(TLS_client_method());
    if (!m_sslCtx) {
        *reason = QStringLiteral("cannot set up TLS");
        return false;
    }
    SSL_CTX_set_min_proto_version(m_sslCtx, TLS1_2_VERSION);
    // The certificate must name the host as configured: the library would
    // compare it with the address connected to, so its own check is off
    // and the context's parameters check the name during the handshake.
    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(m_sslCtx);
    const QByteArray host = m_settings.host.toUtf8();
    QHostAddress literal;
    if (literal.setAddress(m_settings.host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.constData());
        m_serverName.clear();
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.constData(), size_t(host.size()));
        m_serverName = host;
    }
    SSL_CTX_set_app_data(m_sslCtx, this);
    SSL_CTX_set_info_callback(m_sslCtx, &QMqttConnection::onTlsInfo);
    mosquitto_void_option(m_mosq, MOSQ_OPT_SSL_CTX, m_sslCtx);
    mosquitto_int_option(m_mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 1);
    const QByteArray ca = m_settings.caFile.toLocal8Bit();
    const QByteArray cert = m_settings.certFile.toLocal8Bit();
    const QByteArray key = m_settings.keyFile.toLocal8Bit();
    int rc = mosquitto_tls_set(m_mosq, ca.constData(), nullptr, cert.isEmpty() ? nullptr : cert.constData(),
                               key.isEmpty() ? nullptr : key.constData(), &noKeyPassword);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_tls_opts_set(m_mosq, SSL_VERIFY_PEER, nullptr, nullptr);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_tls_insecure_set(m_mosq, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        *reason = QStringLiteral("TLS files not usable (%1)").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    return true;
}

void QMqttConnection::onTlsInfo(const ssl_st *ssl, int where, int)
{
    auto *self = static_cast<QMqttConnection *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!self)
        return;
    // The alert that ends a refused handshake: keep why the certificate was refused.
    if ((where & SSL_CB_WRITE_ALERT) == SSL_CB_WRITE_ALERT)
        self->m_verifyResult = SSL_get_verify_result(ssl);
    if (!(where & SSL_CB_HANDSHAKE_START))
        return;
    // The server name goes out as configured, never as the address
    // connected to (which the library would send).
    SSL *s = const_cast<SSL *>(ssl);
    if (self->m_serverName.isEmpty())
        SSL_set_tlsext_host_name(s, nullptr);
    else
        SSL_set_tlsext_host_name(s, self->m_serverName.constData());
}

void QMqttConnection::onReadable()
{
    if (!m_mosq)
        return;
    readAvailable();
    // What arrives next is read after the pause, together.
    if (m_phase == phConnected && m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_readPause->start();
    }
}

bool QMqttConnection::serveFor(int msecs)
{
    if (m_phase != phConnected || !m_mosq)
        return false;
    pollfd p{mosquitto_socket(m_mosq), short(POLLIN | (writeBacklog() ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, std::max(0, msecs)) <= 0)
        return m_phase == phConnected;
    if (p.revents & POLLOUT) {
        const int rc = mosquitto_loop_write(m_mosq, 1);
        afterLoop(rc, errno);
    }
    if (m_phase == phConnected && m_mosq && (p.revents & (POLLIN | POLLHUP | POLLERR)))
        readAvailable();
    return m_phase == phConnected;
}

void QMqttConnection::readAvailable()
{
    // Everything that is there (the library may stop after a few packets).
    int rc = MOSQ_ERR_SUCCESS;
    int err = 0;
    for (int round = 0; round < 64; ++round) {
        errno = 0;
        rc = mosquitto_loop_read(m_mosq, 1);
        err = errno;
        int available = 0;
        if (rc != MOSQ_ERR_SUCCESS || m_disconnectRc >= 0 || (m_connackRc >= 0 && m_phase == phConnecting)
            || ioctl(mosquitto_socket(m_mosq), FIONREAD, &available) != 0 || available <= 0)
            break;
    }
    afterLoop(rc, err);
}

void QMqttConnection::onReadPauseEnd()
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(true);
}

void QMqttConnection::onWritable()
{
    if (!m_mosq)
        return;
    m_tcpUp = true;
    int rc = mosquitto_loop_write(m_mosq, 1);
    int err = errno;
    // A TLS handshake moves on only in the library's reading.
    if (rc == MOSQ_ERR_SUCCESS && m_phase == phConnecting && m_settings.tls()) {
        rc = mosquitto_loop_read(m_mosq, 1);
        err = errno;
    }
    afterLoop(rc, err);
}

void QMqttConnection::afterLoop(int rc, int err)
{
    if (m_phase != phConnecting && m_phase != phConnected)
        return;
    if (m_connackRc > 0) {
        const Texts t = texts(kRefused, m_name, broker(), QString::fromUtf8(mosquitto_connack_string(m_connackRc)));
        fail(t.warning, t.log);
        return;
    }
    if (rc == MOSQ_ERR_SUCCESS && m_disconnectRc >= 0)
        rc = m_disconnectRc > 0 ? m_disconnectRc : MOSQ_ERR_CONN_LOST;
    if (rc != MOSQ_ERR_SUCCESS) {
        failConnection(rc, err);
        return;
    }
    if (m_connackRc == 0 && m_phase == phConnecting) {
        accepted();
        if (m_phase != phConnected)
            return;
    }
    if (!m_refused.isEmpty()) {
        const Texts t = texts(kSubscriptionRefused, m_name, broker(), QString::fromUtf8(m_refused.first()),
                              QString::number(m_refused.size()));
        m_subscribeFault.report(t.warning, t.log);
        m_refused.clear();
        m_subscriptionsRefused = true;
    } else if (m_phase == phConnected && m_subscribeChunks.isEmpty() && !m_subscriptionsRefused) {
        m_subscribeFault.clear();
    }
    if (m_phase == phConnected)
        m_listener->mqttReady();
    updateWriteNotifier();
}

void QMqttConnection::accepted()
{
    m_phase = phConnected;
    m_connectedAtMs = Clock::monotonicMsecs();
    // The library formats a log line for every packet while a log callback
    // is set: kept only for diagnostics, its error texts served the attempt.
    if (!debugEnabled(5))
        mosquitto_log_callback_set(m_mosq, nullptr);
    m_subscriptionsRefused = false;
    const Texts t = texts(kConnected, m_name, broker());
    GATE_DEBUG(1, "%s", qUtf8Printable(t.warning));
    // After a fault the streak ends once the connection has stayed up
    // (service()): a broker that takes the session and drops it again (a
    // second client of the same id) would otherwise write two lines a flap.
    if (!m_fault.active())
        gateLog(t.log);
    mosquitto_publish(m_mosq, nullptr, m_statusTopic.constData(), int(sizeof kOnline - 1), kOnline, 1, true);
    subscribeAll();
    m_listener->mqttConnected();
}

void QMqttConnection::subscribeAll()
{
    m_subscribeChunks.clear();
    std::vector<char *> topics;
    topics.reserve(size_t(m_subscriptions.size()));
    for (const QByteArray &topic : qAsConst(m_subscriptions))
        topics.push_back(const_cast<char *>(topic.constData()));
    for (int first = 0; first < m_subscriptions.size(); first += kTopicsPerSubscribe) {
        const int count = std::min(kTopicsPerSubscribe, m_subscriptions.size() - first);
        int mid = 0;
        if (mosquitto_subscribe_multiple(m_mosq, &mid, count, topics.data() + first, m_settings.qos, 0, nullptr)
            != MOSQ_ERR_SUCCESS)
            return; // the connection broke: the next loop call reports it
        m_subscribeChunks.insert(mid, first);
    }
}

QMqttConnection::PublishResult QMqttConnection::publish(const QByteArray &topic, const QByteArray &payload, int qos,
                                                        bool retain, int *mid, QString *reason)
{
    if (m_phase != phConnected)
        return prNotConnected;
    const int rc = mosquitto_publish(m_mosq, mid, topic.constData(), payload.size(), payload.constData(), qos, retain);
    if (rc == MOSQ_ERR_SUCCESS)
        return prSent;
    const int err = errno;
    switch (rc) {
    case MOSQ_ERR_INVAL:
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_MALFORMED_UTF8:
    case MOSQ_ERR_OVERSIZE_PACKET:
    case MOSQ_ERR_QOS_NOT_SUPPORTED:
    case MOSQ_ERR_RETAIN_NOT_SUPPORTED:
        *reason = QString::fromUtf8(mosquitto_strerror(rc));
        return prRefused;
    case MOSQ_ERR_NOMEM:
        return prNotConnected; // tried again with the next message
    default:
        failConnection(rc, err);
        return prNotConnected;
    }
}

bool QMqttConnection::writeBacklog() const
{
    return m_mosq && mosquitto_want_write(m_mosq);
}

void QMqttConnection::beginBurst()
{
    const int fd = m_mosq ? mosquitto_socket(m_mosq) : -1;
    const int on = 1;
    if (fd >= 0)
        setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

void QMqttConnection::endBurst()
{
    const int fd = m_mosq ? mosquitto_socket(m_mosq) : -1;
    const int off = 0;
    if (fd >= 0)
        setsockopt(fd, IPPROTO_TCP, TCP_CORK, &off, sizeof off);
    updateWriteNotifier();
}

void QMqttConnection::fail(const QString &warning, const QString &log)
{
    const bool wasConnected = m_phase == phConnected;
    m_fault.report(warning, log);
    teardown();
    const qint64 now = Clock::monotonicMsecs();
    if (wasConnected && now - m_connectedAtMs >= StableConnectionMs)
        m_retryDelayMs = FirstRetryDelayMs;
    m_phase = phWaiting;
    m_nextAttemptMs = now + m_retryDelayMs;
    m_retryDelayMs = std::min(m_retryDelayMs * 2, MaxRetryDelayMs);
    GATE_DEBUG(2, "QMqttConnection::fail(): next attempt for %s in %lld ms", qUtf8Printable(broker()),
               static_cast<long long>(m_nextAttemptMs - now));
    if (wasConnected)
        m_listener->mqttDisconnected();
}

void QMqttConnection::failConnection(int rc, int err)
{
    // A name with several addresses (both address families, a broker
    // cluster): the next one is tried at once.
    if (m_phase == phConnecting && m_nextAddress < m_addresses.size()) {
        GATE_DEBUG(2, "QMqttConnection: %s unreachable at one address (%s), trying the next",
                   qUtf8Printable(broker()), qUtf8Printable(reasonFor(rc, err)));
        teardown();
        connectNext();
        return;
    }
    const QString why = reasonFor(rc, err);
    const Texts t = m_phase == phConnected ? texts(kLost, m_name, broker(), why)
                                           : texts(kCannotConnect, m_name, broker(), why);
    fail(t.warning, t.log);
}

void QMqttConnection::teardown()
{
    for (QSocketNotifier **n : {&m_readNotifier, &m_writeNotifier}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    m_readPause->stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    if (m_sslCtx) {
        SSL_CTX_free(m_sslCtx);
        m_sslCtx = nullptr;
    }
    m_subscribeChunks.clear();
    m_refused.clear();
}

void QMqttConnection::updateWriteNotifier()
{
    if (!m_writeNotifier)
        return;
    // Once the connection is made, a TLS handshake waits for the broker's
    // reply, and the library asks to write until it is done: the notifier
    // would fire without end. The reading moves the handshake on.
    const auto *ssl = m_mosq && m_tcpUp && m_phase == phConnecting && m_settings.tls()
        ? static_cast<const SSL *>(mosquitto_ssl_get(m_mosq))
        : nullptr;
    const bool handshaking = ssl && !SSL_is_init_finished(ssl);
    m_writeNotifier->setEnabled(m_mosq && !handshaking && mosquitto_want_write(m_mosq));
}

QString QMqttConnection::reasonFor(int rc, int err) const
{
    if (m_verifyResult != X509_V_OK) {
        return QStringLiteral("certificate not accepted: %1")
            .arg(QString::fromUtf8(X509_verify_cert_error_string(m_verifyResult)));
    }
    QString why = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(err))
                                       : QString::fromUtf8(mosquitto_strerror(rc));
    if (!m_libraryError.isEmpty())
        why += QStringLiteral(" (%1)").arg(m_libraryError);
    return why;
}

void QMqttConnection::onConnect(mosquitto *, void *self, int rc)
{
    static_cast<QMqttConnection *>(self)->m_connackRc = rc;
}

void QMqttConnection::onDisconnect(mosquitto *, void *self, int rc)
{
    static_cast<QMqttConnection *>(self)->m_disconnectRc = rc;
}

void QMqttConnection::onPublish(mosquitto *, void *self, int mid)
{
    static_cast<QMqttConnection *>(self)->m_listener->mqttDelivered(mid);
}

void QMqttConnection::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    if (!message || !message->topic)
        return;
    const QByteArray topic = QByteArray::fromRawData(message->topic, int(std::strlen(message->topic)));
    const QByteArray payload = QByteArray::fromRawData(static_cast<const char *>(message->payload),
                                                       message->payload ? message->payloadlen : 0);
    static_cast<QMqttConnection *>(self)->m_listener->mqttMessage(topic, payload);
}

void QMqttConnection::onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted)
{
    auto *c = static_cast<QMqttConnection *>(self);
    const auto it = c->m_subscribeChunks.constFind(mid);
    if (it == c->m_subscribeChunks.constEnd())
        return;
    const int first = it.value();
    c->m_subscribeChunks.erase(it);
    for (int i = 0; i < count && first + i < c->m_subscriptions.size(); ++i) {
        if (granted[i] < 0 || granted[i] > 2)
            c->m_refused.append(c->m_subscriptions.at(first + i));
    }
}

void QMqttConnection::onLog(mosquitto *, void *self, int level, const char *text)
{
    GATE_DEBUG(5, "QMqttConnection: %s", text);
    if (!(level & MOSQ_LOG_ERR) || !text)
        return;
    // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify
    // failed" says its reason after the last colon.
    QString t = QString::fromUtf8(text);
    if (t.startsWith(QLatin1String("OpenSSL Error")))
        t = t.mid(t.lastIndexOf(QLatin1Char(':')) + 1).trimmed();
    static_cast<QMqttConnection *>(self)->m_libraryError = t;
}
