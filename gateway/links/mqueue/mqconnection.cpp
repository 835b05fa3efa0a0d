#include "links/mqueue/mqconnection.h"

#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"

#include <utilfunctions.h>

#include <QCoreApplication>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const char kContext[] = "MQConnection";

// The GNU strerror_r returns its text, the POSIX one fills the buffer.
[[maybe_unused]] const char *errorTextOf(const char *result, const char *)
{
    return result;
}
[[maybe_unused]] const char *errorTextOf(int result, const char *buffer)
{
    return result == 0 ? buffer : nullptr;
}

// Reports `text` (placeholders %1 ... filled from `args`) through `fault`:
// the English warning and the translated log line.
template<typename... Args>
void report(RepeatedMessage &fault, const char *text, const Args &...args)
{
    fault.report(QString::fromLatin1(text).arg(args...), QCoreApplication::translate(kContext, text).arg(args...));
}

// Writes `text` once as a warning and once as a translated log line.
template<typename... Args>
void tell(const char *text, const Args &...args)
{
    GATE_WARN_LOGGED("%s", qUtf8Printable(QString::fromLatin1(text).arg(args...)));
    gateLog(QCoreApplication::translate(kContext, text).arg(args...));
}

// Ends the streak of `fault`, with `text` as the recovery line.
void recover(RepeatedMessage &fault, const char *text, const QString &name)
{
    if (fault.active())
        fault.clear(QString::fromLatin1(text).arg(name), QCoreApplication::translate(kContext, text).arg(name));
}

QString now()
{
    return Clock::nowUtc().toString(Qt::ISODateWithMs);
}

} // namespace

QString mqErrorText(int errnum)
{
    char buffer[256] = {0};
    const char *text = errorTextOf(strerror_r(errnum, buffer, sizeof buffer), buffer);
    return text && *text ? QString::fromLocal8Bit(text) : QStringLiteral("Unknown");
}

MQConnection::MQConnection(QObject *parent)
    : QObject(parent)
    , m_mqd(kClosed)
    , m_messageSize(0)
    , m_direction(0)
    , m_queueMaxMessages(0)
    , m_retry(false)
    , m_lastAttemptMs(0)
    , m_tookSinceSendFault(false)
{
}

MQConnection::~MQConnection()
{
    close();
}

bool MQConnection::open()
{
    const QByteArray name = m_name.toLocal8Bit();
    if (isOpen()) {
        GATE_DEBUG(3, "Cannot open mqueue %s: already done", name.constData());
        return false;
    }
    m_retry = false;
    if (m_name.isEmpty()) {
        const char *text = "Cannot open mqueue with empty name";
        m_openReport.report(QString::fromLatin1(text), QCoreApplication::translate(kContext, text));
        return false;
    }
    if (m_messageSize == 0) {
        report(m_openReport, "Cannot open mqueue %1 for zero size messages", m_name);
        return false;
    }
    int access = 0;
    switch (m_direction) {
    case 1: access = O_RDONLY; break;
    case 2: access = O_WRONLY; break;
    case 3: access = O_RDWR; break;
    default:
        report(m_openReport, "Error opening mqueue %1: no direction set", m_name);
        return false;
    }
    const int flags = O_CREAT | O_NONBLOCK | access;
    const mode_t mode = 0666;
    struct mq_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.mq_flags = 0;
    attr.mq_maxmsg = CreatedMaxMessages;
    attr.mq_msgsize = static_cast<long>(m_messageSize);
    attr.mq_curmsgs = 0;
    m_lastAttemptMs = Clock::monotonicMsecs();
    m_mqd = ::mq_open(name.constData(), flags, mode, &attr);
    const int error = errno;
    GATE_DEBUG(4, "mq_open(%s,0%o,0%o,[%li,%li,%li,%li]) was called with result %i", name.constData(),
               static_cast<unsigned>(flags), static_cast<unsigned>(mode), attr.mq_flags, attr.mq_maxmsg,
               attr.mq_msgsize, attr.mq_curmsgs, static_cast<int>(m_mqd));
    if (!isOpen()) {
        m_retry = true;
        report(m_openReport, "Error opening mqueue %1: %2 (%3)", m_name, QString::number(error), mqErrorText(error));
        return false;
    }

    // An existing queue keeps the attributes it was created with: receive
    // into a buffer of its own message size, or no message would fit.
    struct mq_attr real;
    std::memset(&real, 0, sizeof real);
    if (::mq_getattr(m_mqd, &real) != 0 || real.mq_msgsize <= 0)
        real.mq_msgsize = static_cast<long>(m_messageSize);
    m_queueMaxMessages = real.mq_maxmsg;
    m_buffer.resize(static_cast<int>(real.mq_msgsize));
    if (static_cast<quint64>(real.mq_msgsize) < m_messageSize) {
        tell("mqueue %1 takes messages of at most %2 bytes, fewer than its largest area (%3 bytes)", m_name,
             QString::number(real.mq_msgsize), QString::number(m_messageSize));
    }
    recover(m_openReport, "mqueue %1 is open", m_name);
    m_receiveReport.clear();
    m_sendReport.clear();
    return true;
}

void MQConnection::close()
{
    m_retry = false;
    if (!isOpen())
        return;
    ::mq_close(m_mqd);
    m_mqd = kClosed;
}

bool MQConnection::reopenIfDue()
{
    if (isOpen())
        return true;
    if (!m_retry || Clock::monotonicMsecs() - m_lastAttemptMs < RetryIntervalMs)
        return false;
    return open();
}

bool MQConnection::isRemoved() const
{
    // On Linux a queue descriptor is a file descriptor of the queue file system.
    struct stat st;
    return isOpen() && ::fstat(static_cast<int>(m_mqd), &st) == 0 && st.st_nlink == 0;
}

bool MQConnection::reopenIfRemoved()
{
    if (!isRemoved()) {
        m_removedReport.clearWhenQuiet();
        return isOpen();
    }
    report(m_removedReport, "mqueue %1 was removed while open; it is opened again under its name", m_name);
    close();
    return open();
}

qint64 MQConnection::receive()
{
    GATE_DEBUG(6, "MQConnection::receiveMsg() for mqueue %s (with %lu max msg size) was called", qUtf8Printable(m_name),
               static_cast<unsigned long>(m_messageSize));
    if (!reopenIfDue()) {
        report(m_receiveReport, "Cannot receive message from closed mqueue (%1)", m_name);
        return -1;
    }
    const ssize_t received = ::mq_receive(m_mqd, m_buffer.data(), static_cast<size_t>(m_buffer.size()), nullptr);
    if (received >= 0) {
        GATE_DEBUG(4, "%s: MQConnection::receiveMsg() %i bytes was received from mqueue %s", qUtf8Printable(now()),
                   static_cast<int>(received), qUtf8Printable(m_name));
        if (debugEnabled(6))
            qDebugDumpByteArray(QByteArray(m_buffer.constData(), static_cast<int>(received)));
        if (m_receiveReport.active())
            m_receiveReport.clear();
        return received;
    }
    const int error = errno;
    if (error == EAGAIN || error == EINTR) {
        // Only an empty queue is given up: what waited in it was read first.
        if (error == EAGAIN)
            reopenIfRemoved();
        GATE_DEBUG(3, "%s: MQConnection::receiveMsg(): mq_receive result is %i errno: %i", qUtf8Printable(now()),
                   static_cast<int>(received), error);
        return -1;
    }
    report(m_receiveReport, "Error receiving message from mqueue %1: %2 (%3)", m_name, QString::number(error),
           mqErrorText(error));
    return -1;
}

QByteArray MQConnection::receiveMsg()
{
    const qint64 length = receive();
    return length > 0 ? QByteArray(message(), static_cast<int>(length)) : QByteArray();
}

bool MQConnection::putBack(const char *data, qint64 size)
{
    // A queue removed while open is read by nobody: the message goes to the
    // queue now under the name.
    mqd_t mqd = canWrite() && !isRemoved() ? m_mqd : kClosed;
    if (mqd == kClosed)
        mqd = ::mq_open(m_name.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
    const bool ok = mqd != kClosed && size >= 0 && ::mq_send(mqd, data, static_cast<size_t>(size), PutBackPriority) == 0;
    const int error = errno;
    if (mqd != kClosed && mqd != m_mqd)
        ::mq_close(mqd);
    if (!ok)
        tell("A message of %1 bytes taken from mqueue %2 could not be returned to it and is lost: %3 (%4)",
             QString::number(size), m_name, QString::number(error), mqErrorText(error));
    return ok;
}

void MQConnection::endSendFaultIfRecovered()
{
    if (m_tookSinceSendFault && m_sendReport.quietFor(RecoveredAfterMs)) {
        recover(m_sendReport, "mqueue %1 takes messages again", m_name);
        m_tookSinceSendFault = false;
    }
}

bool MQConnection::send(const char *data, qint64 size)
{
    GATE_DEBUG(6, "MQConnection::send() for mqueue %s and %i bytes message was called", qUtf8Printable(m_name),
               static_cast<int>(size));
    endSendFaultIfRecovered();
    if (!reopenIfDue() || !reopenIfRemoved()) {
        m_tookSinceSendFault = false;
        report(m_sendReport, "Cannot send message by closed mqueue (%1)", m_name);
        return false;
    }
    // The queue's own message size is what the system enforces.
    if (size < 0 || static_cast<quint64>(size) > queueMessageSize()) {
        report(m_tooLongReports[size], "Cannot send %1 bytes by mqueue %2: max message is %3", QString::number(size),
               m_name, QString::number(queueMessageSize()));
        return false;
    }
    if (::mq_send(m_mqd, data, static_cast<size_t>(size), 0) != 0) {
        const int error = errno;
        m_tookSinceSendFault = false;
        report(m_sendReport, "Error sending message by mqueue %1: %2 (%3)", m_name, QString::number(error),
               mqErrorText(error));
        return false;
    }
    GATE_DEBUG(4, "%s: MQConnection::sendMsg() %i bytes was sent to mqueue %s", qUtf8Printable(now()),
               static_cast<int>(size), qUtf8Printable(m_name));
    m_tookSinceSendFault = true;
    endSendFaultIfRecovered();
    if (!m_tooLongReports.isEmpty()) {
        const auto fault = m_tooLongReports.find(size);
        if (fault != m_tooLongReports.end()) {
            recover(*fault, "mqueue %1 takes messages again", m_name);
            m_tooLongReports.erase(fault);
        }
    }
    return true;
}
