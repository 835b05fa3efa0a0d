#ifndef GATEWAYMONITOR_H
#define GATEWAYMONITOR_H

#include "app/cyclestats.h"
#include "app/metricsfile.h"
#include "app/systemdnotify.h"
#include "core/tiecounters.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

class BaseTie;
struct ReloadStats;

// One field of TieCounters as the status and the metrics show it.
struct TieCounterField {
    // The JSON key and the middle of the metric's name ("units_received").
    const char *name;
    // The metric's help text.
    const char *help;
    quint64 TieCounters::*value;
    // A level that may go down (messages waiting now), not a count since start.
    bool gauge;
};

// Every field of TieCounters, in declaration order.
const QVector<TieCounterField> &tieCounterFields();

// How many units of a tie are in each state.
struct UnitStateCounts {
    int total = 0;
    int ok = 0;
    int noData = 0;
    int disabled = 0;
    int stale = 0;
    // Any other state (a tie family's own).
    int other = 0;
};
UnitStateCounts countUnitStates(const BaseTie &tie);

// The program's version ("0.1.0").
QString ferroxVersion();

// What an operator sees of the running gateway, and the reports that show
// it: the cycle statistics fed by every tick, the facts of the start-up, the
// ties with their counters, the metrics file written every few seconds and
// the notifications to systemd (READY, STATUS, the watchdog, STOPPING).
// The status document and the metrics text are rendered from it
// (statusreport.h, metricsfile.h).
class GatewayMonitor : public QObject
{
    Q_OBJECT
public:
    // How often the metrics file and systemd's STATUS line are refreshed
    // unless setMetricsFile() says otherwise.
    static constexpr int DefaultReportIntervalMs = 5000;

    // Watches `ties` (the configuration's list: not owned, it must outlive
    // the monitor). The uptime counts from here.
    explicit GatewayMonitor(const QList<BaseTie *> &ties, qint64 cyclePeriodMs, QObject *parent = nullptr);
    ~GatewayMonitor() override;

    void setConfigFile(const QString &path) { m_configFile = path; }
    QString configFile() const { return m_configFile; }
    // The section tag that built each tie, by its index in the list.
    void setTieSections(const QStringList &sections) { m_sections = sections; }
    QString tieSection(int index) const { return m_sections.value(index); }
    // Writes the metrics to `path` every `intervalMs` once started; an
    // empty path writes none.
    void setMetricsFile(const QString &path, int intervalMs);
    const MetricsFile &metricsFile() const { return m_metrics; }

    // The gateway runs: READY=1 with the summary, the first metrics, and
    // the reports start.
    void started();
    // What the reloads did (not owned; null: no reloads to show).
    void setReloadStats(const ReloadStats *stats) { m_reloads = stats; }
    const ReloadStats *reloadStats() const { return m_reloads; }
    // A reload begins: RELOADING=1.
    void reloadBegins();
    // A reload has ended: READY=1 with the summary and new metrics at once;
    // the reports start when a reload has named the first metrics file.
    void reloadEnded();
    // The service begins to stop: STOPPING=1; the reports end.
    void stopping();
    // The ties' last pass and drain are done: the last metrics file, which
    // stays in place, with what they counted.
    void stopped();
    // One tick took `durationUs`: the cycle statistics and the watchdog's
    // pet. Neither allocates nor formats.
    void tickDone(qint64 durationUs)
    {
        m_cycle.record(durationUs);
        m_notifier.petWatchdog();
    }

    const QList<BaseTie *> &ties() const { return m_ties; }
    const CycleStats &cycle() const { return m_cycle; }
    QDateTime startedUtc() const { return m_startedUtc; }
    qint64 uptimeMs() const;
    const SystemdNotifier &notifier() const { return m_notifier; }
    // One line for systemd's STATUS: ties and their state, ticks, overruns,
    // the longest tick.
    QString summary() const;

private slots:
    void slotReport();

private:
    const QList<BaseTie *> &m_ties;
    CycleStats m_cycle;
    QString m_configFile;
    QStringList m_sections;
    QDateTime m_startedUtc;
    qint64 m_startedMs;
    SystemdNotifier m_notifier;
    MetricsFile m_metrics;
    QTimer m_reports;
    const ReloadStats *m_reloads = nullptr;
    bool m_started = false;
};

#endif // GATEWAYMONITOR_H
