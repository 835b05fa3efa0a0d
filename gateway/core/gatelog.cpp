#include "core/gatelog.h"

#include "core/clock.h"

namespace {
GateLogSink *g_sink = nullptr;
}

GateLogSink::~GateLogSink()
{
    if (g_sink == this)
        g_sink = nullptr;
}

void installGateLogSink(GateLogSink *sink)
{
    g_sink = sink;
}

GateLogSink *gateLogSink()
{
    return g_sink;
}

void gateLog(const QString &msg)
{
    gateLog(Clock::nowUtc(), msg);
}

void gateLog(const QDateTime &dt, const QString &msg)
{
    if (g_sink)
        g_sink->writeLine(dt, msg);
}

QString gateLogFileName()
{
    return g_sink ? g_sink->fileName() : QString();
}

void setGateLogFileName(const QString &name)
{
    if (g_sink)
        g_sink->setFileName(name);
}

QString quotedForLog(const QString &text, int maxChars)
{
    const QString kept = text.size() > maxChars ? text.left(maxChars) : text;
    QString quoted;
    quoted.reserve(kept.size() + 3);
    for (const QChar c : kept) {
        const ushort u = c.unicode();
        if (u == '\n')
            quoted += QLatin1String("\\n");
        else if (u == '\r')
            quoted += QLatin1String("\\r");
        else if (u == '\t')
            quoted += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            quoted += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            quoted += c;
    }
    if (kept.size() < text.size())
        quoted += QLatin1String("...");
    return quoted;
}
