#ifndef BASEPACKETTIE_H
#define BASEPACKETTIE_H

#include "core/basetie.h"

class BasePacketTieUnit;

// A tie that receives its units' data asynchronously, packet by packet, and
// converts a unit in a tick only when newer data arrived than were last
// converted. Protocol ties fill the hooks.
class BasePacketTie : public BaseTie
{
    Q_OBJECT
public:
    explicit BasePacketTie(QObject *parent = nullptr);
    ~BasePacketTie() override;

    // True when `unit` (from-this) received data after its last conversion.
    bool pollUnitData(BaseTieUnit *unit) override;

    // Protocol timeout in milliseconds; base: 0.
    virtual int protocolTimeout() const;
    // Keepalive period in milliseconds; base: 0.
    virtual int keepAlivePeriod() const;
    // Sets the protocol timeout; base: nothing.
    virtual void setProtocolTimeout(int msecs);
    // Sets the keepalive period; base: nothing.
    virtual void setKeepAlivePeriod(int msecs);
    // Adds a connection to `host`:`port`; base: nothing, returns 0.
    virtual int addConnection(const QString &host, quint16 port);
    // Appends `unit` (ownership passes to the tie), without a message.
    virtual void addUnit(BaseTieUnit *unit);
    // State of connection `index`; base: 0.
    virtual int connectionState(int index) const;
};

#endif // BASEPACKETTIE_H
