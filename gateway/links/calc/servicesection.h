#ifndef SERVICESECTION_H
#define SERVICESECTION_H

class GateXmlConfigLoaderTemplate;
class QDomElement;

// Reads a `service` section (no attributes): one service tie with its clock
// unit, whose parameters become providers. Always succeeds.
bool readServiceSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

#endif // SERVICESECTION_H
