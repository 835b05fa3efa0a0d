#include "app/gatewaymonitor.h"

#include "core/basetie.h"
#include "core/basetieunit.h"
#include "core/clock.h"

#ifndef FERROX_VERSION
#define FERROX_VERSION "unknown"
#endif

const QVector<TieCounterField> &tieCounterFields()
{
    static const QVector<TieCounterField> fields = {
        {"units_received", "Units that reported new data when polled.", &TieCounters::unitsReceived, false},
        {"units_sent", "Units sent.", &TieCounters::unitsSent, false},
        {"values_received", "Parameter values taken from the outside system.", &TieCounters::valuesReceived, false},
        {"values_sent", "Parameter values handed to the outside system.", &TieCounters::valuesSent, false},
        {"frames_in", "Frames or messages received.", &TieCounters::framesIn, false},
        {"frames_out", "Frames or messages sent.", &TieCounters::framesOut, false},
        {"bytes_in", "Bytes received.", &TieCounters::bytesIn, false},
        {"bytes_out", "Bytes sent.", &TieCounters::bytesOut, false},
        {"bytes_unsent", "Bytes dropped unsent when a peer that took too little was cut off.", &TieCounters::bytesUnsent,
         false},
        {"reconnects", "Connections made again after a loss.", &TieCounters::reconnects, false},
        {"checksum_failures", "Frames whose checksums failed.", &TieCounters::checksumFailures, false},
        {"frames_dropped", "Frames or packs dropped as malformed.", &TieCounters::framesDropped, false},
        {"messages_dropped", "Messages received but not taken.", &TieCounters::messagesDropped, false},
        {"messages_refused", "Messages that no queue or peer accepted.", &TieCounters::messagesRefused, false},
        {"script_errors", "Calculation calls that raised an error.", &TieCounters::scriptErrors, false},
        {"script_aborts", "Calculation calls aborted by a bound.", &TieCounters::scriptAborts, false},
        {"records_written", "Records written to output files.", &TieCounters::recordsWritten, false},
        {"published", "Messages published to a broker.", &TieCounters::published, false},
        {"delivered", "Messages acknowledged by a broker.", &TieCounters::delivered, false},
        {"buffered", "Messages waiting in the tie's buffer now.", &TieCounters::buffered, true},
        {"dropped", "Messages dropped from a full buffer.", &TieCounters::dropped, false},
    };
    return fields;
}

UnitStateCounts countUnitStates(const BaseTie &tie)
{
    UnitStateCounts counts;
    for (const BaseTieUnit *unit : tie.units()) {
        if (!unit)
            continue;
        ++counts.total;
        switch (unit->state()) {
        case BaseTieUnit::stOK:
            ++counts.ok;
            break;
        case BaseTieUnit::stNoData:
            ++counts.noData;
            break;
        case BaseTieUnit::stDisabled:
            ++counts.disabled;
            break;
        case BaseTieUnit::stStale:
            ++counts.stale;
            break;
        default:
            ++counts.other;
            break;
        }
    }
    return counts;
}

QString ferroxVersion()
{
    return QStringLiteral(FERROX_VERSION);
}

GatewayMonitor::GatewayMonitor(const QList<BaseTie *> &ties, qint64 cyclePeriodMs, QObject *parent)
    : QObject(parent)
    , m_ties(ties)
    , m_cycle(cyclePeriodMs)
    , m_startedUtc(Clock::nowUtc())
    , m_startedMs(Clock::monotonicMsecs())
{
    m_reports.setInterval(DefaultReportIntervalMs);
    connect(&m_reports, &QTimer::timeout, this, &GatewayMonitor::slotReport);
}

GatewayMonitor::~GatewayMonitor() = default;

void GatewayMonitor::setMetricsFile(const QString &path, int intervalMs)
{
    m_metrics.setPath(path);
    m_reports.setInterval(path.isEmpty() ? DefaultReportIntervalMs : qMax(1, intervalMs));
}

qint64 GatewayMonitor::uptimeMs() const
{
    return Clock::monotonicMsecs() - m_startedMs;
}

void GatewayMonitor::started()
{
    m_started = true;
    m_notifier.ready(summary());
    if (!m_metrics.path().isEmpty())
        m_metrics.write(metricsText(*this));
    if (m_notifier.enabled() || !m_metrics.path().isEmpty())
        m_reports.start();
}

void GatewayMonitor::reloadBegins()
{
    m_notifier.reloading();
}

void GatewayMonitor::reloadEnded()
{
    if (!m_started)
        return;
    m_notifier.ready(summary());
    if (!m_metrics.path().isEmpty())
        m_metrics.write(metricsText(*this));
    if (!m_reports.isActive() && (m_notifier.enabled() || !m_metrics.path().isEmpty()))
        m_reports.start();
}

void GatewayMonitor::stopping()
{
    m_started = false;
    m_reports.stop();
    m_notifier.stopping();
}

void GatewayMonitor::stopped()
{
    if (!m_metrics.path().isEmpty())
        m_metrics.write(metricsText(*this));
}

void GatewayMonitor::slotReport()
{
    if (!m_metrics.path().isEmpty())
        m_metrics.write(metricsText(*this));
    if (m_notifier.enabled())
        m_notifier.status(summary());
}

QString GatewayMonitor::summary() const
{
    int ties = 0;
    int notOk = 0;
    int withoutData = 0;
    for (const BaseTie *tie : m_ties) {
        if (!tie)
            continue;
        ++ties;
        const UnitStateCounts units = countUnitStates(*tie);
        // A unit disabled by its configuration is as it should be; a tie or
        // unit that has not received anything yet (at the start, or from a
        // source that never delivered) is told apart from a fault.
        const bool tieWithoutData = tie->state() == BaseTieUnit::stNoData;
        if ((tie->state() != 0 && !tieWithoutData) || units.stale + units.other > 0 || tie->deliveryFailing())
            ++notOk;
        else if (units.noData > 0 || tieWithoutData)
            ++withoutData;
    }
    QStringList state;
    if (notOk > 0)
        state << QStringLiteral("%1 not OK").arg(notOk);
    if (withoutData > 0)
        state << QStringLiteral("%1 without data").arg(withoutData);
    if (state.isEmpty())
        state << QStringLiteral("all OK");
    return QStringLiteral("Running: %1 ties, %2; %3 ticks, %4 overruns, longest tick %5 ms")
        .arg(ties)
        .arg(state.join(QStringLiteral(", ")))
        .arg(m_cycle.ticks())
        .arg(m_cycle.overruns())
        .arg(double(m_cycle.maxUs()) / 1000.0, 0, 'f', 1);
}
