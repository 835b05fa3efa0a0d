#include "mqttbroker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <mosquitto.h>

#include <atomic>

#include <pwd.h>
#include <unistd.h>

quint16 freeLoopbackPort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

bool waitUntil(const std::function<bool()> &done, int msecs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() >= msecs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

QString MqttBroker::program()
{
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                           QStringLiteral("/usr/bin")});
}

MqttBroker::MqttBroker(const QString &listenerLines, const QString &globalLines)
    : m_listenerLines(listenerLines)
    , m_globalLines(globalLines)
    , m_port(0)
    , m_plainPort(0)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

MqttBroker::~MqttBroker()
{
    stop();
}

bool MqttBroker::start(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (m_port == 0) {
        m_port = freeLoopbackPort();
        m_plainPort = freeLoopbackPort();
    }
    // Run as the test's own user: a broker started by root would switch to
    // its service user, which cannot read the test's directory.
    const passwd *user = getpwuid(getuid());
    const QString config = QStringLiteral("listener %1 127.0.0.1\n%2\nlistener %3 127.0.0.1\n"
                                          "persistence false\nmax_queued_messages 0\nmax_inflight_messages 1000\nset_tcp_nodelay true\n"
                                          "user %4\nlog_dest file %5\nlog_type error\nlog_type warning\n"
                                          "log_type notice\nallow_anonymous true\n%6\n")
                               .arg(m_port)
                               .arg(m_listenerLines)
                               .arg(m_plainPort)
                               .arg(QString::fromLocal8Bit(user ? user->pw_name : "root"),
                                    path(QStringLiteral("broker.log")), m_globalLines);
    QFile file(path(QStringLiteral("broker.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write the broker configuration");
        return false;
    }
    file.close();
    m_process.start(program(), {QStringLiteral("-c"), file.fileName()});
    if (!m_process.waitForStarted(5000)) {
        *error = QStringLiteral("the broker does not start: ") + m_process.errorString();
        return false;
    }
    // Ready when both listeners accept connections (a port in use ends the broker).
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && m_process.state() == QProcess::Running) {
        int ready = 0;
        for (quint16 port : {m_port, m_plainPort}) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            ready += probe.waitForConnected(200) ? 1 : 0;
        }
        if (ready == 2)
            return true;
        QThread::msleep(20);
    }
    *error = QStringLiteral("the broker does not listen: ") + QString::fromUtf8(m_process.readAll() + log());
    return false;
}

void MqttBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QByteArray MqttBroker::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("broker.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

namespace {

std::atomic<int> g_subscriberCount{0};

} // namespace

MqttSubscriber::MqttSubscriber(const QByteArray &clientId)
    : m_subscribed(false)
    , m_publishedMid(0)
{
    mosquitto_lib_init();
    const QByteArray id = !clientId.isEmpty() ? clientId
                                              : "ferrox-test-subscriber-" + QByteArray::number(QCoreApplication::applicationPid())
            + "-" + QByteArray::number(++g_subscriberCount);
    m_mosq = mosquitto_new(id.constData(), true, this);
    mosquitto_message_callback_set(m_mosq, &MqttSubscriber::onMessage);
    // Subscribed again on every connection: the broker may be restarted.
    mosquitto_connect_callback_set(m_mosq, [](mosquitto *mosq, void *self, int rc) {
        auto *s = static_cast<MqttSubscriber *>(self);
        if (rc == 0)
            mosquitto_subscribe(mosq, nullptr, s->m_topic.constData(), s->m_qos);
    });
    mosquitto_disconnect_callback_set(m_mosq, [](mosquitto *, void *self, int) {
        auto *s = static_cast<MqttSubscriber *>(self);
        std::lock_guard<std::mutex> lock(s->m_mutex);
        s->m_subscribed = false;
    });
    mosquitto_subscribe_callback_set(m_mosq, [](mosquitto *, void *self, int, int, const int *) {
        auto *s = static_cast<MqttSubscriber *>(self);
        std::lock_guard<std::mutex> lock(s->m_mutex);
        s->m_subscribed = true;
    });
    mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
    mosquitto_publish_callback_set(m_mosq, [](mosquitto *, void *self, int mid) {
        auto *s = static_cast<MqttSubscriber *>(self);
        std::lock_guard<std::mutex> lock(s->m_mutex);
        s->m_publishedMid = mid;
    });
}

MqttSubscriber::~MqttSubscriber()
{
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, true);
    mosquitto_destroy(m_mosq);
}

bool MqttSubscriber::connect(quint16 port, const QByteArray &topic, int qos)
{
    m_topic = topic;
    m_qos = qos;
    if (mosquitto_connect(m_mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
        return false;
    return waitSubscribed();
}

bool MqttSubscriber::waitSubscribed(int msecs)
{
    return waitUntil(
        [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_subscribed;
        },
        msecs);
}

bool MqttSubscriber::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    int mid = 0;
    if (mosquitto_publish(m_mosq, &mid, topic.constData(), payload.size(), payload.constData(), qos, retain)
        != MOSQ_ERR_SUCCESS)
        return false;
    return waitUntil([this, mid] {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_publishedMid == mid;
    });
}

void MqttSubscriber::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *s = static_cast<MqttSubscriber *>(self);
    std::lock_guard<std::mutex> lock(s->m_mutex);
    s->m_messages.append({QByteArray(message->topic),
                          QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                          message->retain});
}

QList<MqttSubscriber::Message> MqttSubscriber::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

QList<QByteArray> MqttSubscriber::payloads(const QByteArray &topic) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<QByteArray> out;
    for (const Message &m : m_messages) {
        if (m.topic == topic)
            out.append(m.payload);
    }
    return out;
}

int MqttSubscriber::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.size();
}

void MqttSubscriber::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}
