#ifndef AREATEXT_H
#define AREATEXT_H

#include "links/mqueue/mqtie.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class DefTieUnit;

// A byte area laid out by a definition file, as text: builds a message from
// "name=value" assignments and decodes a message record by record, with the
// gateway's own reading of definition files and its invalid patterns.
//
// Values of a record are given as "name=v1,v2,..." (one per element, in
// order). A value may carry its sign word after a "/" ("12.5/0"): the
// validity, state or error code; without it the value is valid (validity
// 1, state and error code 0). Time records take seconds since 1970 (UTC)
// with an optional fraction, or "now".
class AreaText
{
public:
    AreaText();
    ~AreaText();
    AreaText(const AreaText &) = delete;
    AreaText &operator=(const AreaText &) = delete;

    // Loads the definition file at `path`; false (errorText()) when it
    // cannot be read or breaks the format.
    bool load(const QString &path);
    // Bytes of the area.
    quint64 size() const;

    // The area with every record invalid, then `assignments` applied; false
    // (errorText()) when an assignment names no record, gives too many
    // values or a value its record's type cannot hold.
    bool build(const QStringList &assignments, QByteArray &message);
    // One line per record of `message` ("name = value [sign], ..."); a
    // message of another length than the area gives one line saying so.
    QStringList decode(const QByteArray &message);

    QString errorText() const { return m_error; }

private:
    bool assign(const QString &assignment);

    MQTie m_tie;
    DefTieUnit *m_unit;
    QString m_path;
    QString m_error;
};

#endif // AREATEXT_H
