#ifndef MQSECTION_H
#define MQSECTION_H

class GateXmlConfigLoaderTemplate;
class QDomElement;

// Reads an `mqueue` section: one message queue tie with its switch, its
// areas (`defarea`, one or more, first) and its queues (`connection`, one
// or more, after the areas), then opens the queues. A queue that does not
// open is reported and retried later; it does not fail the section. False
// (reported) when the section is malformed, an area cannot be loaded or is
// too large, or two "in" areas have the same size.
bool readMQueueSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

#endif // MQSECTION_H
