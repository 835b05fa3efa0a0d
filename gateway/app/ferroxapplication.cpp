#include "app/ferroxapplication.h"

#include "app/commandline.h"
#include "app/configreload.h"
#include "app/ferroxconfig.h"
#include "app/gatewaymonitor.h"
#include "app/maincycle.h"
#include "app/qgatelogger.h"
#include "app/sectiontable.h"
#include "app/servicebase.h"
#include "app/warninglog.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/diag.h"
#include "core/gatelog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

namespace {
const int kMainCyclePeriod = 500;
}

FerroxApplication::FerroxApplication(int &argc, char **argv)
    : QCoreApplication(argc, argv)
    , m_timer(nullptr)
    , m_reload(nullptr)
    , m_monitor(nullptr)
    , m_exitCode(0)
    , m_exitRequested(false)
    , m_cycleStopped(false)
    , m_started(false)
    , m_configChecked(false)
{
    // What goes wrong during start-up is in the log too, also in the
    // foreground; a service copies its warnings there all the time.
    const WarningLog::Scope startupWarnings;
    GATE_DEBUG_ALWAYS("FerroxApplication::FerroxApplication() was called");
    QGateLogger::instance();
    const QString programDir = applicationDirPath();

    if (!applyCommandLine(arguments(), programDir))
        requestExit(-1);

    ConversionRegistry::fillGlobal();

    FerroxConfig &config = FerroxConfig::instance();
    bool checked = false;
    {
        FerroxXmlConfig loader(config, &makeConverter, ferroxSectionTable());
        const QString file = QDir::cleanPath(QDir(programDir).absoluteFilePath(QStringLiteral("../config/ferrox.cfg")));
        m_reload = new ConfigReload(config, file, &makeConverter, this);
        m_reload->listenForHangup();
        loader.setRecords(&m_reload->records());
        if (!loader.loadConf(file)) {
            // A file that could not be read names no log file: the failure
            // goes to the default one.
            if (gateLogFileName().isEmpty())
                setGateLogFileName(FerroxXmlConfig::defaultLogFile());
            GATE_WARN("Error loading config");
            requestExit(-1);
        }
        m_monitor = new GatewayMonitor(config.ties(), kMainCyclePeriod, this);
        m_monitor->setConfigFile(file);
        m_monitor->setTieSections(loader.tieSections());
        m_monitor->setMetricsFile(loader.metricsFile(), int(loader.metricsIntervalMs()));
        m_monitor->setReloadStats(&m_reload->stats());
        connect(m_reload, &ConfigReload::reloadBegins, m_monitor, &GatewayMonitor::reloadBegins);
        connect(m_reload, &ConfigReload::reloadEnded, m_monitor, [this](bool applied) {
            if (applied) {
                m_monitor->setTieSections(m_reload->tieSections());
                m_monitor->setMetricsFile(m_reload->metricsFile(), m_reload->metricsIntervalMs());
            }
            m_monitor->reloadEnded();
        });
        checked = config.checkConfig();
        GATE_DEBUG(2, "FerroxApplication::FerroxApplication(): config loaded");
        for (BaseTie *tie : qAsConst(config.ties()))
            if (tie)
                tie->init();
        GATE_DEBUG(2, "FerroxApplication::FerroxApplication(): ties initialized");

        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &FerroxApplication::slotTimerTick);
        m_timer->start(kMainCyclePeriod);
    }
    m_configChecked = checked;
}

void FerroxApplication::announceStarted()
{
    if (m_exitRequested || m_started)
        return;
    m_started = true;
    if (m_configChecked)
        gateLog(tr("Application was started"));
    else
        gateLog(tr("Application was started, but the configuration check found identifiers claimed by several "
                   "providers (see the lines above)"));
}

FerroxApplication::~FerroxApplication()
{
    // The ties go while this process still holds the service lock: an
    // instance started as soon as it is free must not meet their last words
    // (an MQTT tie's "offline" after the new one's "online", queues closed
    // late).
    FerroxConfig::instance().clear();
    if (m_started)
        gateLog(tr("Application was stopped"));
}

void FerroxApplication::stopCycle()
{
    m_cycleStopped = true;
    if (m_timer)
        m_timer->stop();
}

void FerroxApplication::slotTimerTick()
{
    if (m_cycleStopped)
        return;
    QElapsedTimer duration;
    duration.start();
    // A reload asked for meanwhile waits for the end of the cycle.
    const ConfigReload::CycleScope cycle(m_reload);
    runMainCycle(FerroxConfig::instance().ties());
    WarningLog::endQuietStreaks();
    m_monitor->tickDone(duration.nsecsElapsed() / 1000);
}

void FerroxApplication::requestExit(int code)
{
    if (m_exitRequested)
        return;
    m_exitRequested = true;
    m_exitCode = code;
    ServiceBase::requestQuit(code);
}
