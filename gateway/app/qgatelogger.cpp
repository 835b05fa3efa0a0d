#include "app/qgatelogger.h"

#include "core/clock.h"

#include <QFile>
#include <QTextStream>

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

void QGateLogger::Log(const QDateTime &dt, const QString &msg)
{
    if (m_fileName.isEmpty())
        return;
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    QTextStream out(&file);
    out << getDTstring(dt) << '\t' << msg << '\n';
    out.flush();
    file.close();
}

void QGateLogger::Log(const QString &msg)
{
    Log(Clock::nowUtc(), msg);
}
