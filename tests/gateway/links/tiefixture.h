#ifndef TIEFIXTURE_H
#define TIEFIXTURE_H

#include "app/maincycle.h"
#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "gateway/config/loaderfixture.h"
#include "support/fixedclock.h"

// Ties built from a configuration in a temporary directory through the real
// loader with the program's section table, a fixed clock, a log file in the
// directory, and the main cycle's three passes.
struct TieFixture : LoaderFixture {
    FerroxXmlConfig loader{config, &makeConverter, ferroxSectionTable()};
    FixedClock clock{utc(2024, 5, 1, 12, 0, 0)};

    TieFixture()
    {
        FerroxXmlConfig::setLanguage(QString());
        log.setFileName(dir.filePath("gate.log"));
    }

    // Loads a configuration whose root holds `body` after a plain `misc`
    // section, then initialises every tie as the application does at start.
    bool load(const QByteArray &body)
    {
        const QByteArray text = "<config><misc><locale lang='en'/><times/></misc>" + body + "</config>";
        if (!loader.loadConf(write("ferrox.cfg", text)))
            return false;
        for (BaseTie *tie : config.ties())
            tie->init();
        return true;
    }

    // One main-cycle tick over every tie.
    void tick() { runMainCycle(config.ties()); }
};

#endif // TIEFIXTURE_H
