#include "support/logcapture.h"

LogCapture::LogCapture()
    : m_previous(gateLogSink())
{
    installGateLogSink(this);
}

LogCapture::~LogCapture()
{
    installGateLogSink(m_previous);
}

void LogCapture::writeLine(const QDateTime &dt, const QString &msg)
{
    m_lines << msg;
    m_stamps << dt;
}
