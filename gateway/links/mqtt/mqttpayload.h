#ifndef MQTTPAYLOAD_H
#define MQTTPAYLOAD_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class BaseTieParam;

// The messages that carry one parameter value over MQTT.
//
// A value goes out as one JSON object:
//   {"value":12.5,"valid":true,"time":"2026-12-08T04:13:25.123Z"}
// with "state" (state and status words) or "code" (error codes) after
// "valid" where the type carries one, as the number stands in the element.
// Floats are written in the shortest form that reads back to the same
// number of their own width (a FLOAT 0.1 is "0.1"); a value that is not a
// finite number is null and never valid. Time types carry their value as an
// ISO 8601 UTC text like "time".
//
// A value comes in as such an object ("value" required; "valid", "state"
// and "code" optional; other keys ignored) or bare: a number, true or
// false, or a time text.
namespace MqttPayload {

// True when parameters of data type `type` can be published and set.
bool canCarry(quint32 type);

// Bytes of element 0 of `type` that make up its value and sign (0 for a
// type that cannot travel); a change in them is a change worth publishing.
int elementBytes(quint32 type);

// Appends the message for element 0 of `param`, stamped `timeMsecs` (UTC
// milliseconds since 1970), to `out`. Validity is that of the parameter
// (its sign and its unit's state).
void append(QByteArray &out, const BaseTieParam &param, qint64 timeMsecs);

// Writes `payload` into element 0 of `param`. False, with the reason in
// `reason`, when the payload does not parse or its value does not fit the
// type; the parameter is then unchanged. A value given as invalid ("valid":
// false, or null) is written with the type's invalid sign, or as the
// type's invalid pattern when the type has no sign.
bool write(const QByteArray &payload, BaseTieParam &param, QString *reason);

// Appends `msecs` (UTC milliseconds since 1970) as "yyyy-MM-ddThh:mm:ss.zzzZ".
void appendIsoTime(QByteArray &out, qint64 msecs);

} // namespace MqttPayload

#endif // MQTTPAYLOAD_H
