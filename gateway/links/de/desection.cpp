#include "links/de/desection.h"

#include "config/configreport.h"
#include "config/csvtieunit.h"
#include "config/gatexmlconfigloadertemplate.h"
#include "core/gateconfig.h"
#include "links/de/deprotocolclienttie.h"
#include "links/de/deptparampackprocessor.h"
#include "links/de/qdepackprocessor.h"
#include "links/de/qdesocket.h"

#include <QDomElement>
#include <QVector>

#include <limits>
#include <memory>

namespace {

const char kContext[] = "FerroxXmlConfig";
const char kListsFirst[] =
    "Error loading config: one or more \"csvlist\" tag should be at start of section \"deprotocolclient\"";
const char kConnectionsAfterLists[] =
    "Error loading config: one or more \"connection\" tags should be just after \"csvlist\" in section "
    "\"deprotocolclient\"";
const char kNoConnection[] =
    "Error loading config: a \"connection\" tag should be just after \"csvlist\" in section \"deprotocolclient\"";
const char kNoHost[] = "Error loading config: \"host\" was not set for \"connection\" tag in section \"deprotocolclient\"";
const char kBadPort[] = "Error loading config: \"port\" too big for \"connection\" tag in section \"deprotocolclient\"";
const char kListWarning[] = "Error loading config: Error loading csvlist for section \"deprotocolclient\"";
const char kListLog[] = "Error loading config: Error parsing csvlist for section \"deprotocolclient\"";

constexpr quint32 kMaxMsecs = static_cast<quint32>(std::numeric_limits<int>::max());
// Bytes that may wait for one peer: 64 KiB to 1 GiB.
constexpr quint64 kMinPendingBytes = 64 * 1024;
constexpr quint64 kMaxPendingBytes = quint64(1) << 30;

// The tie's identifier, its three times and its bound of what may wait for a peer.
bool readAttributes(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, DEProtocolClientTie *tie)
{
    if (!loader.parseTieID(section, tie)) {
        reportConfigError(kContext, "Internal error: error while setting DEProtocolClientTie id");
        return false;
    }
    quint32 timeout = 0;
    quint64 protocolTimeout = 0;
    quint32 keepAlive = 0;
    quint64 pendingLimit = 0;
    if (!GateXmlConfigLoaderTemplate::readUInt32Attr(section, "timeout", 3000, timeout)
        || !GateXmlConfigLoaderTemplate::readUnsignedAttr(section, "protocol_timeout",
                                                           BaseDEProtocolTie::DefaultProtocolTimeout, 1, kMaxMsecs,
                                                           protocolTimeout)
        || !GateXmlConfigLoaderTemplate::readUInt32Attr(section, "protocol_keepalive_timeout",
                                                         BaseDEProtocolTie::DefaultKeepAlivePeriod, keepAlive,
                                                         kMaxMsecs)
        || !GateXmlConfigLoaderTemplate::readUnsignedAttr(section, "pending_write_limit",
                                                           QDESocket::DefaultMaxPendingWriteBytes, kMinPendingBytes,
                                                           kMaxPendingBytes, pendingLimit))
        return false;
    tie->setTimeout(timeout);
    tie->setProtocolTimeout(static_cast<int>(protocolTimeout));
    tie->setKeepAlivePeriod(static_cast<int>(keepAlive));
    tie->setMaxPendingWriteBytes(static_cast<qint64>(pendingLimit));
    return true;
}

// One `csvlist` into a new unit of the tie; false (reported) when it fails.
bool readList(GateXmlConfigLoaderTemplate &loader, const QDomElement &list, DEProtocolClientTie *tie)
{
    auto *unit = new CsvTieUnit(tie);
    if (!loader.parseCsvlist(list, unit)) {
        delete unit;
        reportConfigError(kContext, kListWarning, kListLog);
        return false;
    }
    tie->addUnit(unit);
    loader.mergeProviders(unit);
    return true;
}

// One peer of the section.
struct Connection {
    QString host;
    quint16 port;
};

// One `connection`: a host that is not empty and a port from 1 to 65535.
bool readConnection(const QDomElement &connection, QVector<Connection> &connections)
{
    const QString host = QXmlBasedObject::getXMLAttrValue(connection, QStringLiteral("host")).trimmed();
    if (host.isEmpty()) {
        reportConfigError(kContext, kNoHost);
        return false;
    }
    quint64 port = 0;
    if (!GateXmlConfigLoaderTemplate::readUnsignedAttr(connection, "port", 0, 0,
                                                        std::numeric_limits<quint64>::max(), port))
        return false;
    // A missing port, or 0, is no port at all.
    if (port == 0 || port > 65535) {
        reportConfigError(kContext, kBadPort);
        return false;
    }
    connections.append({host, static_cast<quint16>(port)});
    return true;
}

// The lists first, then the connections; other elements are skipped. The
// connections are collected, not made: a failed section connects nowhere.
bool readChildren(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, DEProtocolClientTie *tie,
                  QVector<Connection> &connections)
{
    enum Phase { phNothing, phLists, phConnections } phase = phNothing;
    for (QDomElement child = section.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("csvlist")) {
            if (phase == phConnections) {
                reportConfigError(kContext, kListsFirst);
                return false;
            }
            if (!readList(loader, child, tie))
                return false;
            phase = phLists;
        } else if (tag == QLatin1String("connection")) {
            if (phase == phNothing) {
                reportConfigError(kContext, kConnectionsAfterLists);
                return false;
            }
            if (!readConnection(child, connections))
                return false;
            phase = phConnections;
        }
    }
    if (phase != phConnections) {
        reportConfigError(kContext, phase == phNothing ? kListsFirst : kNoConnection);
        return false;
    }
    return true;
}

} // namespace

bool readDEProtocolClientSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    std::unique_ptr<DEProtocolClientTie> tie(new DEProtocolClientTie);
    QVector<Connection> connections;
    if (!readAttributes(loader, section, tie.get()) || !readChildren(loader, section, tie.get(), connections))
        return loader.finishSection(tie.release(), false);
    DEProtocolClientTie *built = tie.release();
    loader.startWhenApplied([built, connections] {
        for (const Connection &connection : connections)
            built->addConnection(connection.host, connection.port);
    });
    built->registerProcessor(new QDEStubPackProcessor(built));
    built->registerProcessor(new DEPTParamPackProcessor(built, built));
    QObject::connect(built, &BaseDEProtocolTie::signalMsgForProtocol, built, &BaseDEProtocolTie::logProtocolMessage);
    return loader.finishSection(built, true);
}
