#include "app/configreload.h"

#include "app/sectiontable.h"
#include "app/warninglog.h"
#include "config/ferroxxmlconfig.h"
#include "core/basetie.h"
#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Collects the warnings written while it exists; they go on to the handler
// installed before it.
class WarningCollector
{
public:
    WarningCollector()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&WarningCollector::handler);
    }
    ~WarningCollector()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    WarningCollector(const WarningCollector &) = delete;
    WarningCollector &operator=(const WarningCollector &) = delete;

    const QStringList &warnings() const { return m_warnings; }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        WarningCollector *self = s_current;
        if (!self)
            return;
        if (type == QtWarningMsg || type == QtCriticalMsg)
            self->m_warnings.append(msg);
        if (self->m_previous)
            self->m_previous(type, context, msg);
    }

    static WarningCollector *s_current;
    QtMessageHandler m_previous = nullptr;
    QStringList m_warnings;
};

WarningCollector *WarningCollector::s_current = nullptr;

// How the log names a tie: its section tag and id, or the tag and the
// section's position when it has no id.
QString tieLabel(const BaseTie *tie, const SectionRecord &record)
{
    if (!tie->id().isEmpty())
        return QStringLiteral("%1 \"%2\"").arg(record.tag, tie->id());
    return QStringLiteral("%1 (section %2)").arg(record.tag, QString::number(record.position));
}

// `lines` followed by as many of `more` as MaxVerdictLines leaves room for.
QStringList verdict(QStringList lines, const QStringList &more)
{
    for (int i = 0; i < more.size(); ++i) {
        if (lines.size() >= ConfigReload::MaxVerdictLines) {
            lines << QStringLiteral("... (%1 more lines in the log)").arg(more.size() - i);
            break;
        }
        lines << more.at(i);
    }
    return lines;
}

} // namespace

// SIGHUP as a request: the handler writes a byte into a pipe, whose reading
// end the event loop watches. One instance at a time takes the signal.
class ConfigReload::Hangup
{
public:
    explicit Hangup(ConfigReload &reload)
    {
        if (s_pipe[0] >= 0 || ::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier.reset(new QSocketNotifier(s_pipe[0], QSocketNotifier::Read));
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &reload, [&reload] {
            char bytes[16];
            while (::read(s_pipe[0], bytes, sizeof bytes) > 0) {
            }
            gateLog(ConfigReload::tr("SIGHUP received: the configuration is read again"));
            reload.request();
        });
        struct sigaction action = {};
        action.sa_handler = &Hangup::handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGHUP, &action, &m_old);
        m_installed = true;
    }
    Hangup(const Hangup &) = delete;
    Hangup &operator=(const Hangup &) = delete;

    ~Hangup()
    {
        if (!m_installed)
            return;
        ::sigaction(SIGHUP, &m_old, nullptr);
        m_notifier.reset();
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }

private:
    static void handler(int)
    {
        const int saved = errno;
        const char byte = 1;
        (void)!::write(s_pipe[1], &byte, 1);
        errno = saved;
    }

    static int s_pipe[2];
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_old = {};
    bool m_installed = false;
};

int ConfigReload::Hangup::s_pipe[2] = {-1, -1};

ConfigReload::ConfigReload(GateConfig &config, const QString &file, GateConfig::ConverterFactory make,
                           QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_file(file)
    , m_make(make)
    , m_logFromCommandLine(!gateLogFileName().isEmpty())
{
}

ConfigReload::~ConfigReload() = default;

void ConfigReload::listenForHangup()
{
    if (!m_hangup)
        m_hangup.reset(new Hangup(*this));
}

void ConfigReload::request(Done done)
{
    m_waiting.append(std::move(done));
    serveWaiting();
}

void ConfigReload::close()
{
    m_closed = true;
    serveWaiting();
}

void ConfigReload::serveWaiting()
{
    if (m_waiting.isEmpty() || m_reloading || (m_cycleRunning && !m_closed))
        return;
    const QVector<Done> waiting = std::move(m_waiting);
    m_waiting.clear();
    if (m_closed) {
        const QStringList lines{tr("the service is stopping")};
        for (const Done &done : waiting)
            if (done)
                done(false, lines);
        return;
    }
    m_reloading = true;
    emit reloadBegins();
    QStringList lines;
    const bool ok = reloadNow(lines);
    m_reloading = false;
    emit reloadEnded(ok);
    for (const Done &done : waiting)
        if (done)
            done(ok, lines);
    // Asked for while this one ran: the file may have changed since it was read.
    if (!m_waiting.isEmpty())
        QTimer::singleShot(0, this, &ConfigReload::serveWaiting);
}

bool ConfigReload::reloadNow(QStringList &lines)
{
    QElapsedTimer timer;
    timer.start();
    GATE_DEBUG(1, "ConfigReload::reloadNow(): reading %s", qUtf8Printable(m_file));

    SectionRecords fresh;
    GateConfig staged;
    FerroxXmlConfig loader(staged, nullptr, ferroxSectionTable());
    loader.setRecords(&fresh);
    loader.buildBeside(&m_records);
    bool loaded = false;
    QStringList warnings;
    {
        // What goes wrong is in the log as at a start, also in the foreground.
        const WarningLog::Scope toLog;
        const WarningCollector collector;
        loaded = loader.loadConf(m_file);
        warnings = collector.warnings();
    }
    const QSet<BaseTie *> kept(loader.keptTies().cbegin(), loader.keptTies().cend());
    ++m_stats.count;
    m_stats.lastOk = loaded;
    // Stamped when the reload ends: the leaving ties' drains may take seconds.
    const auto ended = [this, &timer] {
        m_stats.lastMsecs = timer.elapsed();
        m_stats.lastTime = Clock::nowUtc();
    };

    if (!loaded) {
        // The kept ties still belong to the running configuration.
        for (BaseTie *tie : kept)
            staged.ties().removeAll(tie);
        ++m_stats.failed;
        ended();
        const QString line = tr("Configuration not reloaded (%1 ms): the running configuration goes on unchanged")
                                 .arg(m_stats.lastMsecs);
        gateLog(line);
        lines = verdict({line}, warnings);
        return false;
    }

    // Named before the ties that go are gone. A new tie of the same tag and
    // id as one that goes is that section changed.
    QStringList keptNames, changedNames, addedNames, removedNames;
    QList<BaseTie *> leaving;
    for (BaseTie *tie : qAsConst(m_config.ties()))
        if (tie && !kept.contains(tie))
            leaving.append(tie);
    QVector<bool> paired(leaving.size(), false);
    for (BaseTie *tie : qAsConst(staged.ties())) {
        if (!tie)
            continue;
        const SectionRecord record = fresh.value(tie);
        if (kept.contains(tie)) {
            keptNames << tieLabel(tie, record);
            continue;
        }
        int match = -1;
        for (int i = 0; i < leaving.size() && match < 0; ++i)
            if (!paired.at(i) && m_records.value(leaving.at(i)).tag == record.tag && leaving.at(i)->id() == tie->id())
                match = i;
        if (match >= 0) {
            paired[match] = true;
            changedNames << tieLabel(tie, record);
        } else {
            addedNames << tieLabel(tie, record);
        }
    }
    for (int i = 0; i < leaving.size(); ++i)
        if (!paired.at(i))
            removedNames << tieLabel(leaving.at(i), m_records.value(leaving.at(i)));

    loader.repointKeptTies();
    m_config.replaceWith(staged, m_make);
    loader.startNewTies();
    m_records = fresh;
    m_tieSections = loader.tieSections();
    m_metricsFile = loader.metricsFile();
    m_metricsIntervalMs = int(loader.metricsIntervalMs());

    const QString language = loader.configuredLanguage();
    if (!language.isEmpty() && language != FerroxXmlConfig::language())
        FerroxXmlConfig::switchLanguage(language);
    if (!m_logFromCommandLine) {
        const QString named =
            loader.configuredLogFile().isEmpty() ? FerroxXmlConfig::defaultLogFile() : loader.configuredLogFile();
        const QString current = gateLogFileName();
        if (named != current) {
            gateLog(tr("The log goes on in %1").arg(named));
            setGateLogFileName(named);
            gateLog(tr("The log goes on from %1").arg(current));
        }
    }
    const bool checked = m_config.checkConfig();

    ended();
    QStringList summary;
    summary << tr("Configuration reloaded in %1 ms: %2 ties kept, %3 changed, %4 added, %5 removed")
                   .arg(m_stats.lastMsecs)
                   .arg(keptNames.size())
                   .arg(changedNames.size())
                   .arg(addedNames.size())
                   .arg(removedNames.size());
    const struct {
        const QStringList &names;
        const char *text;
    } groups[] = {{keptNames, QT_TR_NOOP("  kept: %1")},
                  {changedNames, QT_TR_NOOP("  changed: %1")},
                  {addedNames, QT_TR_NOOP("  added: %1")},
                  {removedNames, QT_TR_NOOP("  removed: %1")}};
    for (const auto &group : groups)
        if (!group.names.isEmpty())
            summary << tr(group.text).arg(group.names.join(QStringLiteral(", ")));
    if (!checked)
        summary << tr("  the configuration check found identifiers claimed by several providers (see the lines "
                      "above)");
    for (const QString &line : qAsConst(summary))
        gateLog(line);
    lines = verdict(summary, warnings);
    return true;
}

ConfigReload::CycleScope::CycleScope(ConfigReload *reload)
    : m_reload(reload)
{
    if (m_reload)
        m_reload->m_cycleRunning = true;
}

ConfigReload::CycleScope::~CycleScope()
{
    if (!m_reload)
        return;
    m_reload->m_cycleRunning = false;
    if (!m_reload->m_waiting.isEmpty())
        QTimer::singleShot(0, m_reload, &ConfigReload::serveWaiting);
}
