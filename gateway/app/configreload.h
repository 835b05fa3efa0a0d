#ifndef CONFIGRELOAD_H
#define CONFIGRELOAD_H

#include "config/sectionrecord.h"
#include "core/gateconfig.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

// What the reloads of a running gateway did, for the operator's status and
// metrics.
struct ReloadStats {
    quint64 count = 0;  // reloads carried out
    quint64 failed = 0; // of them, the ones not applied
    QDateTime lastTime; // when the last one ended (UTC); invalid before the first
    bool lastOk = false;
    qint64 lastMsecs = 0; // how long it took
};

// Reads the configuration file again while the gateway runs and puts what
// changed in place between two main cycles, as one transaction: the new
// configuration is loaded completely beside the running one, with the
// messages a start gives; when that fails, nothing of the running one has
// changed. Otherwise every tie whose section is unchanged (its element and
// every file its reader read) is kept as it is, with its connections,
// queues, interpreter and values; changed and new sections get new ties;
// the ties of changed and removed sections send what they owe and close;
// then every consumer is bound again (GateConfig::replaceWith). The log says
// what was kept, changed, added and removed, and how long it took.
//
// The verdict goes to whoever asked: the control socket's "reload", SIGHUP
// (listenForHangup()), or a direct request().
class ConfigReload : public QObject
{
    Q_OBJECT
public:
    // The verdict of one reload: whether it was applied, and lines saying
    // what it did, or why it did nothing.
    using Done = std::function<void(bool ok, const QStringList &lines)>;

    // The most lines a verdict carries (the log has them all).
    static constexpr int MaxVerdictLines = 40;

    // Reloads `file` into `config` (not owned), which was loaded from it,
    // binding consumers with `make`. Notes whether the log file was given
    // before the configuration was read (on the command line): only one
    // the configuration named follows a reload.
    ConfigReload(GateConfig &config, const QString &file, GateConfig::ConverterFactory make,
                 QObject *parent = nullptr);
    ~ConfigReload() override;

    // The records of the running configuration's ties: the loader of the
    // start fills them (FerroxXmlConfig::setRecords), each reload renews them.
    SectionRecords &records() { return m_records; }

    // Reloads at once, or, while a main cycle or another reload runs, as
    // soon as it has ended. `done` gets the verdict, possibly before
    // request() returns; requests that wait together are served by one
    // reload. A pending request is dropped, unanswered, when the object goes.
    void request(Done done = Done());
    // The service stops: the requests still waiting and every later one are
    // answered false at once, so that nothing starts after the last send
    // pass and no reload is reported applied that never runs.
    void close();
    // From now on, until destroyed, every SIGHUP asks for a reload (the
    // signal handler only writes to a pipe; the event loop does the rest).
    void listenForHangup();

    const ReloadStats &stats() const { return m_stats; }
    // Of the configuration in place since the last applied reload: the
    // section tag of each tie by its index, and the metrics file it names
    // (empty for none) with its interval.
    const QStringList &tieSections() const { return m_tieSections; }
    QString metricsFile() const { return m_metricsFile; }
    int metricsIntervalMs() const { return m_metricsIntervalMs; }

    // Marks a main cycle while it exists: a reload asked for meanwhile
    // waits for its end. A null reload marks nothing.
    class CycleScope
    {
    public:
        explicit CycleScope(ConfigReload *reload);
        ~CycleScope();
        CycleScope(const CycleScope &) = delete;
        CycleScope &operator=(const CycleScope &) = delete;

    private:
        ConfigReload *m_reload;
    };

signals:
    // A reload begins reading the file / has ended, applied or not.
    void reloadBegins();
    void reloadEnded(bool applied);

private:
    class Hangup;

    // Serves the waiting requests with one reload, unless a cycle or a
    // reload runs.
    void serveWaiting();
    // One reload; the lines of the verdict go into `lines`.
    bool reloadNow(QStringList &lines);

    GateConfig &m_config;
    QString m_file;
    GateConfig::ConverterFactory m_make;
    SectionRecords m_records;
    bool m_logFromCommandLine;
    bool m_cycleRunning = false;
    bool m_reloading = false;
    bool m_closed = false;
    QVector<Done> m_waiting;
    ReloadStats m_stats;
    QStringList m_tieSections;
    QString m_metricsFile;
    int m_metricsIntervalMs = 0;
    std::unique_ptr<Hangup> m_hangup;
};

#endif // CONFIGRELOAD_H
