#include "app/ferroxservice.h"

#include "app/gatewaymonitor.h"
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
    if (application())
        application()->monitor()->started();
}

void FerroxService::stop()
{
    GATE_DEBUG_ALWAYS("stop() called");
    if (application())
        application()->monitor()->stopping();
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

QByteArray FerroxService::statusReport()
{
    return application() ? ::statusReport(*application()->monitor()) : QByteArray();
}
