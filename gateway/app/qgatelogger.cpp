#include "app/qgatelogger.h"

#include "core/clock.h"
#include "core/diag.h"

#include <QFile>
#include <QTextStream>

#include <climits>

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

bool QGateLogger::append(const QDateTime &dt, const QString &msg, QString &reason) const
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        reason = file.errorString();
        return false;
    }
    QTextStream out(&file);
    out << getDTstring(dt) << '\t' << msg << '\n';
    out.flush();
    file.close();
    if (file.error() != QFileDevice::NoError) {
        reason = file.errorString();
        return false;
    }
    return true;
}

void QGateLogger::Log(const QDateTime &dt, const QString &msg)
{
    if (m_fileName.isEmpty())
        return;
    QString reason;
    if (m_lost > 0) {
        const QString lost = tr("%n line(s) could not be written to the log file before this one", nullptr, int(qMin<quint64>(m_lost, INT_MAX)));
        if (!append(dt, lost, reason)) {
            ++m_lost;
            return;
        }
        m_lost = 0;
    }
    if (append(dt, msg, reason))
        return;
    // The count goes up before the warning: a handler that copies warnings
    // into this log comes back here and must not warn again.
    if (m_lost++ == 0)
        GATE_WARN("QGateLogger::Log(): cannot write to the log file %s (%s); log lines are lost until it can be "
                  "written again",
                  qUtf8Printable(m_fileName), qUtf8Printable(reason));
}

void QGateLogger::Log(const QString &msg)
{
    Log(Clock::nowUtc(), msg);
}
