#ifndef DEPROTOCOLCLIENTTIE_H
#define DEPROTOCOLCLIENTTIE_H

#include "links/de/basedeprotocoltie.h"

class QDEPackProcessorBase;
class QDEProtocol;
class QDESocket;

// The DE tie that connects to its peers as a client. It owns its protocol
// object with the connections; every new connection first gets a snapshot
// of the current value of every consumer parameter, since values go out
// only when they are converted.
class DEProtocolClientTie : public BaseDEProtocolTie
{
    Q_OBJECT
public:
    explicit DEProtocolClientTie(QObject *parent = nullptr);
    ~DEProtocolClientTie() override;

    // Also given to the connections made afterwards.
    void setProtocolTimeout(int msecs) override;
    void setKeepAlivePeriod(int msecs) override;
    // Most bytes that may wait for one peer (for connections made afterwards).
    void setMaxPendingWriteBytes(qint64 bytes);
    // A connection to `host`:`port`, connecting at once; its position.
    int addConnection(const QString &host, quint16 port) override;
    int connectionState(int index) const override;
    int connectedCount() const override;
    // True while a peer does not take what is sent (its connection was cut
    // for what waited and the stall has not ended).
    bool deliveryFailing() const override;
    // Hands on what was sent (at most DrainMsecs) and closes the connections gracefully.
    void drain() override;
    static constexpr int DrainMsecs = 1000;
    // Registers `processor` with the protocol under its own module number
    // (or `module`) and counts its drops in the tie's counters. Not owned.
    void registerProcessor(QDEPackProcessorBase *processor);
    void registerProcessor(QDEPackProcessorBase *processor, quint32 module);

    QDEProtocol *protocol() const { return m_protocol; }

protected:
    // Writes `frame` on every connected socket; the number it was written on.
    int sendFrame(const QByteArray &frame) override;
    void beginSend() override;

private slots:
    void slotConnectionMade(QDESocket *socket);

private:
    QDEProtocol *m_protocol;
};

#endif // DEPROTOCOLCLIENTTIE_H
