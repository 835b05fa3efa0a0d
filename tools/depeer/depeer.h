#ifndef DEPEER_H
#define DEPEER_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QTcpServer;
class QTcpSocket;
class QTextStream;
class QTimer;

// What one run of the peer program does.
struct DEPeerOptions {
    enum Mode {
        Normal,        // keepalives and values
        Silent,        // sends nothing at all
        KeepAliveOnly, // sends keepalives only
        NoRead         // sends as normal but never reads what arrives
    };
    // The values of one data type, in the order given.
    struct Values {
        quint32 type = 0;
        QVector<quint32> indices;
        QVector<QByteArray> values;
    };

    bool listen = false;
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;
    QString host;
    QVector<Values> sends;
    double rate = 0;    // rounds per second; 0: one round per new connection
    quint64 count = 0;  // rounds at most; 0: no limit
    double ramp = 0;    // added to every value after each round
    quint32 packing = 1;
    int packSize = 1000;
    bool paramTimes = false; // every parameter with its own time
    int keepAliveMsecs = 1000;
    Mode mode = Normal;
    bool quiet = false;
    bool printKeepAlives = true;
    int durationSecs = 0;
    quint64 exitAfterValues = 0;
    bool stats = false;
    // For a program that embeds the peer: rounds go out only when it calls
    // DEPeer::sendRoundNow(), none on a new connection nor at a rate.
    bool driven = false;
    // For a program that embeds the peer: the last value received for every
    // (type, index) is kept for DEPeer::lastValueReceived(). Off for the
    // command-line peer, whose senders may address any number of indices.
    bool keepLastValues = false;

    // Fills the options from the program's arguments (without the program
    // name); false with `error` set when they do not make a run.
    bool parse(const QStringList &arguments, QString &error);
    // The text of --help.
    static QString usage();
};

// A DE peer for operators and tests: it listens for connections (or makes
// one), sends parameter packs of the given values once per connection or
// at a rate, sends keepalives, and prints every frame it receives decoded,
// with the verdicts of both checksums. A frame that fails a checksum ends
// its connection, as it would at any DE end.
class DEPeer : public QObject
{
    Q_OBJECT
public:
    struct Totals {
        quint64 rounds = 0;
        quint64 skippedRounds = 0; // rounds due while every peer was still busy taking the last ones
        quint64 valuesSent = 0;
        quint64 packsSent = 0;
        quint64 bytesSent = 0;
        quint64 framesReceived = 0;
        quint64 valuesReceived = 0;
        quint64 bytesReceived = 0;
        quint64 checksumFailures = 0;
    };

    // `out` receives every line the peer prints (not owned).
    DEPeer(const DEPeerOptions &options, QTextStream &out, QObject *parent = nullptr);
    ~DEPeer() override;

    // Starts listening or connecting; false with `error` set when it cannot.
    bool start(QString &error);
    // Ends the run: stops sending, lets every connection take what was
    // written and close, prints the totals when asked to and emits finished().
    void finish();
    const Totals &totals() const { return m_totals; }
    // The port listened on (0 before start() or when connecting).
    quint16 serverPort() const;
    // Connections open now.
    int linkCount() const { return m_links.size(); }
    // Sends one round to every connection now and counts it, then adds the
    // ramp; false when no connection took it (none open, or all busy).
    bool sendRoundNow();
    // The bytes of the last value received for (`type`, `index`); empty
    // when none was or the options do not keep them (keepLastValues).
    QByteArray lastValueReceived(quint32 type, quint32 index) const;

signals:
    void finished();

private:
    struct Link {
        QTcpSocket *socket = nullptr;
        QByteArray buffer;
        qint64 lastWrite = -1;
    };

    void connectToPeer();
    void closeDown();
    void addLink(QTcpSocket *socket);
    void dropLink(QTcpSocket *socket);
    Link *linkOf(QTcpSocket *socket);
    void readFrom(Link &link);
    void printFrame(const QByteArray &frame);
    void pump();
    bool sendRound(Link &link);
    // Counts a round that went out, then adds the ramp to the values.
    void countRound();
    void buildRound();
    void write(Link &link, const QByteArray &bytes);
    void print(const QString &line);

    DEPeerOptions m_options;
    QTextStream &m_out;
    QTcpServer *m_server;
    QList<Link> m_links;
    QTimer *m_pump;
    QElapsedTimer m_clock;
    qint64 m_rateStart;
    QVector<DEPeerOptions::Values> m_current;
    QVector<QByteArray> m_round;
    QVector<quint32> m_roundCounts;
    bool m_finished;
    Totals m_totals;
    QHash<quint64, QByteArray> m_lastValues;
};

#endif // DEPEER_H
