#include "app/servicestarter.h"

#include "app/servicebase.h"

ServiceStarter::ServiceStarter(QObject *parent)
    : QObject(parent)
{
}

ServiceStarter::~ServiceStarter() = default;

void ServiceStarter::slotStart()
{
    if (ServiceBase *service = ServiceBase::instance())
        service->start();
}
