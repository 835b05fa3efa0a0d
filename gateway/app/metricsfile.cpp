#include "app/metricsfile.h"

#include "app/configreload.h"
#include "app/gatewaymonitor.h"
#include "core/basetie.h"
#include "core/diag.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Appends the lines of one metric family: its help, its type, then its samples.
class MetricsWriter
{
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_text += "# HELP ";
        m_text += name;
        m_text += ' ';
        m_text += help;
        m_text += "\n# TYPE ";
        m_text += name;
        m_text += ' ';
        m_text += type;
        m_text += '\n';
    }

    // `labels` is the inside of the braces, empty for none.
    void sample(const QByteArray &name, const QByteArray &labels, const QByteArray &value)
    {
        m_text += name;
        if (!labels.isEmpty()) {
            m_text += '{';
            m_text += labels;
            m_text += '}';
        }
        m_text += ' ';
        m_text += value;
        m_text += '\n';
    }
    void sample(const QByteArray &name, const QByteArray &labels, quint64 value)
    {
        sample(name, labels, QByteArray::number(value));
    }
    void sample(const QByteArray &name, const QByteArray &labels, double value)
    {
        sample(name, labels, QByteArray::number(value, 'g', 12));
    }

    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

QByteArray tieLabels(int index, const BaseTie &tie, const QString &section)
{
    return QStringLiteral("index=\"%1\",id=\"%2\",section=\"%3\"")
        .arg(index)
        .arg(metricsLabelValue(tie.id()), metricsLabelValue(section))
        .toUtf8();
}

double seconds(qint64 us)
{
    return double(us) / 1e6;
}

} // namespace

QString metricsLabelValue(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('"'))
            escaped += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else
            escaped += c;
    }
    return escaped;
}

QByteArray metricsText(const GatewayMonitor &monitor)
{
    MetricsWriter out;
    out.family("ferrox_info", "gauge", "The running gateway's version (always 1).");
    out.sample("ferrox_info", "version=\"" + metricsLabelValue(ferroxVersion()).toUtf8() + '"', quint64(1));
    out.family("ferrox_start_time_seconds", "gauge", "When the gateway started, in seconds since 1970 (UTC).");
    out.sample("ferrox_start_time_seconds", QByteArray(), double(monitor.startedUtc().toMSecsSinceEpoch()) / 1000.0);
    out.family("ferrox_uptime_seconds", "gauge", "Seconds since the gateway started.");
    out.sample("ferrox_uptime_seconds", QByteArray(), double(monitor.uptimeMs()) / 1000.0);

    const CycleStats &cycle = monitor.cycle();
    out.family("ferrox_cycle_period_seconds", "gauge", "The period of the main cycle.");
    out.sample("ferrox_cycle_period_seconds", QByteArray(), double(cycle.periodMs()) / 1000.0);
    out.family("ferrox_cycle_duration_seconds", "histogram", "How long the main cycle's ticks took.");
    for (int i = 0; i < CycleStats::BucketCount; ++i) {
        const QByteArray bound = i < int(CycleStats::BucketBoundsUs.size())
                                     ? QByteArray::number(seconds(CycleStats::BucketBoundsUs[size_t(i)]), 'g', 12)
                                     : QByteArrayLiteral("+Inf");
        out.sample("ferrox_cycle_duration_seconds_bucket", "le=\"" + bound + '"', cycle.cumulativeBucket(i));
    }
    out.sample("ferrox_cycle_duration_seconds_sum", QByteArray(), seconds(qint64(cycle.totalUs())));
    out.sample("ferrox_cycle_duration_seconds_count", QByteArray(), cycle.ticks());
    out.family("ferrox_cycle_ticks_total", "counter", "Ticks of the main cycle.");
    out.sample("ferrox_cycle_ticks_total", QByteArray(), cycle.ticks());
    out.family("ferrox_cycle_overruns_total", "counter", "Ticks that took longer than the cycle period.");
    out.sample("ferrox_cycle_overruns_total", QByteArray(), cycle.overruns());
    out.family("ferrox_cycle_longest_seconds", "gauge", "The longest tick since the start.");
    out.sample("ferrox_cycle_longest_seconds", QByteArray(), seconds(cycle.maxUs()));
    out.family("ferrox_cycle_last_seconds", "gauge", "How long the last tick took.");
    out.sample("ferrox_cycle_last_seconds", QByteArray(), seconds(cycle.lastUs()));

    if (const ReloadStats *reloads = monitor.reloadStats()) {
        out.family("ferrox_reloads_total", "counter", "Reloads of the configuration carried out.");
        out.sample("ferrox_reloads_total", QByteArray(), reloads->count);
        out.family("ferrox_reload_failures_total", "counter",
                   "Reloads not applied (the configuration in force stayed as it was).");
        out.sample("ferrox_reload_failures_total", QByteArray(), reloads->failed);
        const bool any = reloads->lastTime.isValid();
        out.family("ferrox_reload_last_ok", "gauge",
                   "1 when the last reload was applied or none was tried, 0 when it was refused.");
        out.sample("ferrox_reload_last_ok", QByteArray(), quint64(!any || reloads->lastOk ? 1 : 0));
        out.family("ferrox_reload_last_time_seconds", "gauge",
                   "When the last reload ended, in seconds since 1970 (UTC); 0 before the first.");
        out.sample("ferrox_reload_last_time_seconds", QByteArray(),
                   any ? double(reloads->lastTime.toMSecsSinceEpoch()) / 1000.0 : 0.0);
        out.family("ferrox_reload_last_duration_seconds", "gauge", "How long the last reload took.");
        out.sample("ferrox_reload_last_duration_seconds", QByteArray(), double(reloads->lastMsecs) / 1000.0);
    }

    // Per tie: the labels once, then one family after the other.
    const QList<BaseTie *> &ties = monitor.ties();
    QVector<QByteArray> labels(ties.size());
    for (int i = 0; i < ties.size(); ++i)
        if (ties.at(i))
            labels[i] = tieLabels(i, *ties.at(i), monitor.tieSection(i));

    out.family("ferrox_tie_state", "gauge",
               "The tie's state: 0 OK, 3 disabled, other values as the tie family defines.");
    for (int i = 0; i < ties.size(); ++i)
        if (ties.at(i))
            out.sample("ferrox_tie_state", labels[i], double(ties.at(i)->state()));
    out.family("ferrox_tie_delivery_failing", "gauge",
               "1 while what the tie delivers is refused (a file it cannot write, a queue that takes nothing).");
    for (int i = 0; i < ties.size(); ++i)
        if (ties.at(i))
            out.sample("ferrox_tie_delivery_failing", labels[i], ties.at(i)->deliveryFailing() ? 1.0 : 0.0);
    out.family("ferrox_tie_units", "gauge", "The tie's units in each state (ok, no_data, disabled, stale, other).");
    for (int i = 0; i < ties.size(); ++i) {
        if (!ties.at(i))
            continue;
        const UnitStateCounts units = countUnitStates(*ties.at(i));
        const std::pair<const char *, int> states[] = {
            {"ok", units.ok}, {"no_data", units.noData}, {"disabled", units.disabled},
            {"stale", units.stale}, {"other", units.other}};
        for (const auto &state : states)
            out.sample("ferrox_tie_units", labels[i] + ",state=\"" + state.first + '"', quint64(state.second));
    }
    for (const TieCounterField &field : tieCounterFields()) {
        const QByteArray name = QByteArray("ferrox_tie_") + field.name + (field.gauge ? "" : "_total");
        out.family(name.constData(), field.gauge ? "gauge" : "counter", field.help);
        for (int i = 0; i < ties.size(); ++i)
            if (ties.at(i))
                out.sample(name, labels[i], ties.at(i)->counters().*field.value);
    }
    return out.text();
}

MetricsFile::MetricsFile() = default;

void MetricsFile::setPath(const QString &path)
{
    if (path == m_path)
        return;
    if (m_writtenInode != 0) {
        const QByteArray old = QFile::encodeName(m_path);
        struct stat st;
        struct stat target;
        const bool ours = ::lstat(old.constData(), &st) == 0 && quint64(st.st_dev) == m_writtenDevice
                          && quint64(st.st_ino) == m_writtenInode;
        const bool kept = !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &target) == 0
                          && target.st_dev == st.st_dev && target.st_ino == st.st_ino;
        // Left behind, its figures would stand still for ever.
        if (ours && !kept && ::unlink(old.constData()) != 0)
            GATE_WARN("Cannot remove the metrics file %s: %s", qUtf8Printable(m_path), std::strerror(errno));
    }
    m_writtenDevice = 0;
    m_writtenInode = 0;
    m_path = path;
}

bool MetricsFile::write(const QByteArray &text)
{
    if (m_path.isEmpty())
        return false;
    // A temporary file beside the target (a name the collector's "*.prom"
    // does not match), renamed over it. Not synced to the disk: the file is
    // replaced every few seconds, and a sync could hold up the main cycle.
    QTemporaryFile file(m_path + QStringLiteral(".XXXXXX"));
    bool ok = file.open() && file.write(text) == text.size() && file.flush()
              && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                     | QFileDevice::ReadOther);
    QString error = file.errorString();
    struct stat st;
    if (ok && ::fstat(file.handle(), &st) != 0) {
        ok = false;
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (ok && ::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(m_path).constData()) != 0) {
        ok = false;
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (ok) {
        m_writtenDevice = quint64(st.st_dev);
        m_writtenInode = quint64(st.st_ino);
        file.setAutoRemove(false);
        m_error.clear();
        m_fault.clear(QCoreApplication::translate("MetricsFile", "Metrics file %1 is written again").arg(m_path));
        return true;
    }
    m_error = error;
    m_fault.report(QCoreApplication::translate("MetricsFile", "Cannot write the metrics file %1: %2")
                       .arg(m_path, m_error));
    return false;
}
