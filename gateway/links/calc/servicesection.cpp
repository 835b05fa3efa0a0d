#include "links/calc/servicesection.h"

#include "config/gatexmlconfigloadertemplate.h"
#include "links/calc/functieunit.h"
#include "links/calc/servicetie.h"

bool readServiceSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &)
{
    auto *tie = new ServiceTie;
    FuncTieUnit *unit = ServiceTie::createClockUnit(tie);
    loader.mergeProviders(unit, true);
    loader.addTie(tie);
    return true;
}
