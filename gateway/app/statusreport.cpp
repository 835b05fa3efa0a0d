#include "app/statusreport.h"

#include "app/configreload.h"
#include "app/gatewaymonitor.h"
#include "core/basetie.h"
#include "core/gatelog.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

double msecs(qint64 us)
{
    return double(us) / 1000.0;
}

QJsonObject cycleObject(const CycleStats &cycle)
{
    QJsonArray buckets;
    for (int i = 0; i < CycleStats::BucketCount; ++i) {
        // The last bucket has no upper bound.
        const QJsonValue bound = i < int(CycleStats::BucketBoundsUs.size())
                                     ? QJsonValue(msecs(CycleStats::BucketBoundsUs[size_t(i)]))
                                     : QJsonValue(QJsonValue::Null);
        buckets.append(QJsonObject{{QStringLiteral("up_to_ms"), bound},
                                   {QStringLiteral("ticks"), double(cycle.bucket(i))}});
    }
    const double mean = cycle.ticks() ? msecs(qint64(cycle.totalUs() / cycle.ticks())) : 0.0;
    return QJsonObject{
        {QStringLiteral("period_ms"), double(cycle.periodMs())},
        {QStringLiteral("ticks"), double(cycle.ticks())},
        {QStringLiteral("overruns"), double(cycle.overruns())},
        {QStringLiteral("last_ms"), msecs(cycle.lastUs())},
        {QStringLiteral("longest_ms"), msecs(cycle.maxUs())},
        {QStringLiteral("mean_ms"), mean},
        {QStringLiteral("buckets"), buckets},
    };
}

QJsonObject tieObject(int index, const BaseTie &tie, const QString &section)
{
    QJsonObject counters;
    for (const TieCounterField &field : tieCounterFields())
        counters.insert(QLatin1String(field.name), double(tie.counters().*field.value));
    const UnitStateCounts units = countUnitStates(tie);
    return QJsonObject{
        {QStringLiteral("index"), index},
        {QStringLiteral("id"), tie.id()},
        {QStringLiteral("section"), section},
        {QStringLiteral("class"), QString::fromLatin1(tie.metaObject()->className())},
        {QStringLiteral("state"), tie.state()},
        {QStringLiteral("delivery_failing"), tie.deliveryFailing()},
        {QStringLiteral("units"), QJsonObject{{QStringLiteral("total"), units.total},
                                             {QStringLiteral("ok"), units.ok},
                                             {QStringLiteral("no_data"), units.noData},
                                             {QStringLiteral("disabled"), units.disabled},
                                             {QStringLiteral("stale"), units.stale},
                                             {QStringLiteral("other"), units.other}}},
        {QStringLiteral("counters"), counters},
    };
}

// The reloads so far; the last one's time and verdict null before the first.
QJsonObject reloadObject(const ReloadStats &stats)
{
    const bool any = stats.lastTime.isValid();
    return QJsonObject{
        {QStringLiteral("count"), double(stats.count)},
        {QStringLiteral("failed"), double(stats.failed)},
        {QStringLiteral("last"), any ? QJsonValue(stats.lastTime.toString(Qt::ISODateWithMs)) : QJsonValue()},
        {QStringLiteral("last_ok"), any ? QJsonValue(stats.lastOk) : QJsonValue()},
        {QStringLiteral("last_ms"), any ? QJsonValue(double(stats.lastMsecs)) : QJsonValue()},
    };
}

} // namespace

QByteArray statusReport(const GatewayMonitor &monitor)
{
    QJsonArray ties;
    for (int i = 0; i < monitor.ties().size(); ++i)
        if (const BaseTie *tie = monitor.ties().at(i))
            ties.append(tieObject(i, *tie, monitor.tieSection(i)));
    QJsonObject document{
        {QStringLiteral("version"), ferroxVersion()},
        {QStringLiteral("pid"), double(QCoreApplication::applicationPid())},
        {QStringLiteral("started"), monitor.startedUtc().toString(Qt::ISODateWithMs)},
        {QStringLiteral("uptime_seconds"), double(monitor.uptimeMs()) / 1000.0},
        {QStringLiteral("config_file"), monitor.configFile()},
        {QStringLiteral("log_file"), gateLogFileName()},
        {QStringLiteral("metrics_file"), monitor.metricsFile().path()},
        {QStringLiteral("cycle"), cycleObject(monitor.cycle())},
        {QStringLiteral("ties"), ties},
    };
    if (const ReloadStats *reloads = monitor.reloadStats())
        document.insert(QStringLiteral("reload"), reloadObject(*reloads));
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}
