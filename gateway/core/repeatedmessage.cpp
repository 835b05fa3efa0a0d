#include "core/repeatedmessage.h"

#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"

namespace {

QString summaryText(const QString &text, quint64 repeats)
{
    return QStringLiteral("%1 (repeated %2 times)").arg(text, QString::number(repeats));
}

} // namespace

RepeatedMessage::RepeatedMessage(int channels, qint64 summaryIntervalMs)
    : m_channels(channels)
    , m_intervalMs(summaryIntervalMs)
    , m_active(false)
    , m_pending(0)
    , m_streak(0)
    , m_lastWrittenMs(0)
    , m_lastReportMs(0)
{
}

bool RepeatedMessage::report(const QString &text)
{
    return report(text, text);
}

bool RepeatedMessage::report(const QString &warningText, const QString &logText)
{
    return report(warningText, logText, warningText);
}

bool RepeatedMessage::report(const QString &warningText, const QString &logText, const QString &key)
{
    if (m_active && key == m_key) {
        repeat();
        return false;
    }
    m_lastReportMs = Clock::monotonicMsecs();
    ++m_streak;
    if (m_active)
        writeSummary();
    else
        m_streak = 1;
    m_active = true;
    m_key = key;
    m_warningText = warningText;
    m_logText = logText;
    write(warningText, logText);
    m_lastWrittenMs = m_lastReportMs;
    return true;
}

bool RepeatedMessage::repeat()
{
    if (!m_active)
        return false;
    const qint64 now = Clock::monotonicMsecs();
    m_lastReportMs = now;
    ++m_streak;
    ++m_pending;
    if (now - m_lastWrittenMs >= m_intervalMs) {
        writeSummary();
        m_lastWrittenMs = now;
    }
    return true;
}

bool RepeatedMessage::clear(const QString &recovery)
{
    return clear(recovery, recovery);
}

bool RepeatedMessage::clear(const QString &warningRecovery, const QString &logRecovery)
{
    if (!m_active)
        return false;
    writeSummary();
    if (!warningRecovery.isEmpty() || !logRecovery.isEmpty())
        write(warningRecovery, logRecovery);
    m_active = false;
    m_key.clear();
    m_warningText.clear();
    m_logText.clear();
    m_streak = 0;
    return true;
}

bool RepeatedMessage::quietFor(qint64 quietMs) const
{
    return m_active && Clock::monotonicMsecs() - m_lastReportMs >= quietMs;
}

bool RepeatedMessage::clearWhenQuiet(qint64 quietMs)
{
    return quietFor(quietMs) && clear();
}

void RepeatedMessage::write(const QString &warningText, const QString &logText) const
{
    const bool logged = (m_channels & Log) && !logText.isEmpty();
    if ((m_channels & Warning) && !warningText.isEmpty()) {
        if (logged)
            GATE_WARN_LOGGED("%s", qUtf8Printable(warningText));
        else
            GATE_WARN("%s", qUtf8Printable(warningText));
    }
    if (logged)
        gateLog(logText);
}

void RepeatedMessage::writeSummary()
{
    if (m_pending == 0)
        return;
    write(summaryText(m_warningText, m_pending), summaryText(m_logText, m_pending));
    m_pending = 0;
}
