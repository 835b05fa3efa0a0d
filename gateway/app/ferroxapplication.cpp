#include "app/ferroxapplication.h"

#include "app/commandline.h"
#include "app/ferroxconfig.h"
#include "app/hangupsignal.h"
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
#include <QTimer>

namespace {
const int kMainCyclePeriod = 500;
}

FerroxApplication::FerroxApplication(int &argc, char **argv)
    : QCoreApplication(argc, argv)
    , m_timer(nullptr)
    , m_exitCode(0)
    , m_exitRequested(false)
    , m_started(false)
{
    // What goes wrong during start-up is in the log too, also in the
    // foreground; a service copies its warnings there all the time.
    const WarningLog::Scope startupWarnings;
    GATE_DEBUG_ALWAYS("FerroxApplication::FerroxApplication() was called");
    QGateLogger::instance();
    new HangupSignal(this); // from the start: a slow start-up is not ended by SIGHUP either
    const QString programDir = applicationDirPath();

    if (!applyCommandLine(arguments(), programDir))
        requestExit(-1);

    ConversionRegistry::fillGlobal();

    FerroxConfig &config = FerroxConfig::instance();
    bool checked = false;
    {
        FerroxXmlConfig loader(config, &makeConverter, ferroxSectionTable());
        const QString file = QDir::cleanPath(QDir(programDir).absoluteFilePath(QStringLiteral("../config/ferrox.cfg")));
        if (!loader.loadConf(file)) {
            // A file that could not be read names no log file: the failure
            // goes to the default one.
            if (gateLogFileName().isEmpty())
                setGateLogFileName(FerroxXmlConfig::defaultLogFile());
            GATE_WARN("Error loading config");
            requestExit(-1);
        }
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
    if (m_exitRequested)
        return;
    m_started = true;
    if (checked)
        gateLog(tr("Application was started"));
    else
        gateLog(tr("Application was started, but the configuration check found identifiers claimed by several "
                   "providers (see the lines above)"));
}

FerroxApplication::~FerroxApplication()
{
    if (m_started)
        gateLog(tr("Application was stopped"));
}

void FerroxApplication::slotTimerTick()
{
    runMainCycle(FerroxConfig::instance().ties());
}

void FerroxApplication::requestExit(int code)
{
    if (m_exitRequested)
        return;
    m_exitRequested = true;
    m_exitCode = code;
    ServiceBase::requestQuit(code);
}
