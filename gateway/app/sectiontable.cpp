#include "app/sectiontable.h"

#include "links/calc/luacalcsection.h"
#include "links/calc/servicesection.h"
#include "links/de/desection.h"
#include "links/files/filesections.h"
#include "links/mqtt/mqttsection.h"
#include "links/mqueue/mqsection.h"

const FerroxXmlConfig::SectionTable &ferroxSectionTable()
{
    // Tested in this order; one row per tie family.
    static const FerroxXmlConfig::SectionTable table = {
        {"deprotocolclient", &readDEProtocolClientSection},
        {"luacalc", &readLuaCalcSection},
        {"mqtt", &readMqttSection},
        {"mqueue", &readMQueueSection},
        {"plottextfileout", &readPlotTextFileOutSection},
        {"service", &readServiceSection},
        {"textfilein", &readTextFileInSection},
        {"textfileout", &readTextFileOutSection},
    };
    return table;
}
