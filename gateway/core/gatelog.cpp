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
