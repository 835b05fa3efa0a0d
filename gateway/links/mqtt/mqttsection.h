#ifndef MQTTSECTION_H
#define MQTTSECTION_H

class GateXmlConfigLoaderTemplate;
class QDomElement;

// Reads an `mqtt` section: one MQTT tie with its broker, topics, login,
// TLS files and buffer bounds, and its parameter lists (`csvlist`, one or
// more, each "in" or "out"). The tie connects from the first tick on.
// False (reported) when the section is malformed.
bool readMqttSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

#endif // MQTTSECTION_H
