#include "app/qgatelogger.h"

#include "core/clock.h"
#include "core/diag.h"
#include "core/regularfile.h"

#include <QTextCodec>

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <datetimefunctions.h>

QGateLogger::QGateLogger(QObject *parent)
    : QObject(parent)
{
}

QGateLogger::~QGateLogger() = default;

QGateLogger *QGateLogger::instance()
{
    static QGateLogger logger;
    static const bool installed = (installGateLogSink(&logger), true);
    Q_UNUSED(installed);
    return &logger;
}

QString QGateLogger::fileName() const
{
    return m_fileName;
}

void QGateLogger::setFileName(const QString &name)
{
    m_fileName = name;
}

void QGateLogger::writeLine(const QDateTime &dt, const QString &msg)
{
    Log(dt, msg);
}

bool QGateLogger::writeHeld(QString &reason)
{
    // Only a regular file, opened without waiting: a FIFO at the log path
    // must not stall the whole gateway in open().
    const int fd = openRegularFile(m_fileName, O_WRONLY | O_APPEND | O_CREAT, &reason);
    if (fd < 0)
        return false;
    // Each line reaches the file whole, or not at all (a full disk cuts back
    // what went out of it), in the locale's encoding.
    QTextCodec *codec = QTextCodec::codecForLocale();
    int written = 0;
    int cause = 0;
    // A warning of the write itself (a cut back that failed) comes back as
    // a line to hold: Log() appends it behind the others while this runs,
    // so the lines are walked by position, each copied.
    m_writing = true;
    for (int i = 0; i < m_held.size(); ++i) {
        const Line line = m_held.at(i);
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            cause = errno;
            break;
        }
        const QByteArray bytes = codec->fromUnicode(getDTstring(line.stamp) + QLatin1Char('\t') + line.text
                                                    + QLatin1Char('\n'));
        if (!appendWhole(fd, static_cast<qint64>(st.st_size), bytes, m_fileName, &cause))
            break;
        ++written;
    }
    m_writing = false;
    ::close(fd);
    m_held.remove(0, written);
    if (m_held.isEmpty())
        return true;
    reason = QString::fromLocal8Bit(std::strerror(cause));
    return false;
}

void QGateLogger::Log(const QDateTime &dt, const QString &msg)
{
    if (m_fileName.isEmpty())
        return;
    if (m_held.size() < MaxHeldLines)
        m_held.append({dt, msg});
    else
        ++m_lost;
    if (m_writing)
        return; // written by the writeHeld() that is running
    QString reason;
    if (writeHeld(reason)) {
        if (m_lost > 0) {
            m_held.append({dt, tr("%n line(s) could not be written to the log file", nullptr,
                                  int(qMin<quint64>(m_lost, INT_MAX)))});
            m_lost = 0;
            if (!writeHeld(reason))
                return;
        }
        m_failing = false;
        return;
    }
    if (m_failing)
        return;
    // Set before the warning: a handler that copies warnings into this log
    // comes back here and must not warn again.
    m_failing = true;
    GATE_WARN("QGateLogger::Log(): cannot write to the log file %s (%s); up to %d lines are held until it can be "
              "written again",
              qUtf8Printable(m_fileName), qUtf8Printable(reason), MaxHeldLines);
}

void QGateLogger::Log(const QString &msg)
{
    Log(Clock::nowUtc(), msg);
}
