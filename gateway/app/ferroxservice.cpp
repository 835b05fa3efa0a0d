#include "app/ferroxservice.h"

#include "app/configreload.h"
#include "app/ferroxconfig.h"
#include "app/gatewaymonitor.h"
#include "app/maincycle.h"
#include "app/statusreport.h"
#include "core/diag.h"

FerroxService::FerroxService(int argc, char **argv, const QString &name)
    : ServiceHost<FerroxApplication>(argc, argv, name)
{
    setServiceDescription(QStringLiteral("Ferrox data gateway for industrial process data"));
}

FerroxService::~FerroxService() = default;

void FerroxService::start()
{
    if (!application())
        return;
    application()->announceStarted();
    application()->monitor()->started();
}

void FerroxService::stop()
{
    GATE_DEBUG_ALWAYS("stop() called");
    if (!application())
        return;
    application()->stopCycle();
    if (application()->configReload())
        application()->configReload()->close();
    // systemd hears of the stop first: the drain may take a while.
    application()->monitor()->stopping();
    finishTies(FerroxConfig::instance().ties());
    application()->monitor()->stopped();
}

void FerroxService::pause()
{
    GATE_DEBUG_ALWAYS("pause() called");
}

void FerroxService::resume()
{
    GATE_DEBUG_ALWAYS("resume() called");
}

void FerroxService::processCommand(int)
{
}

void FerroxService::reload(ReloadDone done)
{
    FerroxApplication *app = application();
    if (!app || !app->configReload()) {
        done(false, {QStringLiteral("the application is not running")});
        return;
    }
    app->configReload()->request(done);
}

QByteArray FerroxService::statusReport()
{
    return application() ? ::statusReport(*application()->monitor()) : QByteArray();
}
