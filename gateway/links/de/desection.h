#ifndef DESECTION_H
#define DESECTION_H

class GateXmlConfigLoaderTemplate;
class QDomElement;

// Reads a `deprotocolclient` section: one DE client tie with its timeouts,
// its parameter lists (`csvlist`, first) and its connections (`connection`
// with `host` and `port`, one or more after the lists), which start
// connecting at once. False (reported) when the section is malformed.
bool readDEProtocolClientSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

#endif // DESECTION_H
