#include "links/mqueue/mqsection.h"

#include "config/configreport.h"
#include "config/deftieunit.h"
#include "config/gatexmlconfigloadertemplate.h"
#include "core/gateconfig.h"
#include "links/mqueue/mqconnection.h"
#include "links/mqueue/mqtie.h"

#include <QDomElement>
#include <QHash>

#include <memory>

namespace {

const char kContext[] = "FerroxXmlConfig";

// Phases of the section: nothing read yet, areas read, queues read.
enum Phase { phNothing = 0, phAreas = 1, phConnections = 2 };

const char kAreasFirst[] =
    "Error loading config: one or more \"defarea\" tag should be at start of section \"mqueue\"";
const char kConnectionAfterAreas[] =
    "Error loading config: a \"connection\" tag should be just after \"defarea\" in section \"mqueue\"";
const char kConnectionMissing[] =
    "Error loading config: one or more \"connection\" tags should be just after \"defarea\" in section \"mqueue\"";

QString attr(const QDomElement &element, const char *name)
{
    return QXmlBasedObject::getXMLAttrValue(element, QLatin1String(name));
}

// Builds one unit from a `defarea` element into `tie` and offers it to the
// provider index. `inAreas` holds the file of every "in" area by its size,
// since the size is what routes a message to its unit. False (reported)
// when the area fails to load, is too large, or repeats the size of an
// earlier "in" area.
bool readArea(GateXmlConfigLoaderTemplate &loader, const QDomElement &element, MQTie *tie,
              QHash<quint64, QString> &inAreas)
{
    std::unique_ptr<DefTieUnit> unit(new DefTieUnit(tie));
    if (!loader.parseDefarea(element, unit.get())) {
        reportConfigError(kContext, "Error loading config: Error loading defarea for section ",
                          "Error loading config: Error parsing defarea for section ");
        return false;
    }
    const QString file = attr(element, "file");
    const quint64 size = unit->unitSize();
    if (size > MQTie::MaxMessageBytes) {
        reportConfigError(kContext,
                          "Error loading config: \"defarea\" %1 of section \"mqueue\" takes %2 bytes, more than a "
                          "queue message carries (%3 bytes)",
                          {file, QString::number(size), QString::number(MQTie::MaxMessageBytes)});
        return false;
    }
    if (unit->direction() & BaseTieUnit::dirFromThis) {
        const auto earlier = inAreas.constFind(size);
        if (earlier != inAreas.constEnd()) {
            reportConfigError(kContext,
                              "Error loading config: \"defarea\" %1 and %2 of section \"mqueue\" are both read and "
                              "both take %3 bytes: their messages could not be told apart",
                              {earlier.value(), file, QString::number(size)});
            return false;
        }
        inAreas.insert(size, file);
    }
    DefTieUnit *added = unit.release();
    tie->addUnit(added);
    if (!tie->memoryFits()) {
        reportConfigError(kContext,
                          "Error loading config: the areas of section \"mqueue\" take %1 bytes, more than the %2 "
                          "bytes one tie holds",
                          {QString::number(tie->areaSize()), QString::number(MQTie::MaxMemoryBytes)});
        return false;
    }
    loader.mergeProviders(added);
    return true;
}

// Builds one queue from a `connection` element into `tie`; false (reported)
// without a name.
bool readConnection(GateXmlConfigLoaderTemplate &loader, const QDomElement &element, MQTie *tie)
{
    const QString file = attr(element, "filename");
    if (file.isEmpty()) {
        reportConfigError(kContext,
                          "Error loading config: a \"filename\" attribute should be defined for tag \"connection\"");
        return false;
    }
    const QString name = loader.confPath(file);
    if (!file.startsWith(QLatin1Char('/'))) {
        reportConfigError(kContext,
                          "Warning loading config: POSIX queue names start with \"/\": mqueue \"%1\" is taken as %2, "
                          "which cannot be opened",
                          {file, name});
    }
    auto *queue = new MQConnection;
    queue->setName(name);
    queue->setDirection(static_cast<quint32>(loader.parseDirection(element, QStringLiteral("direction"))));
    queue->setMessageSize(tie->largestUnitSize());
    if (queue->canRead() && !tie->connections().isEmpty())
        reportConfigError(kContext,
                          "Warning loading config: mqueue \"%1\" is not the section's first queue, the only one that "
                          "is read: what is sent to it is not taken",
                          {file});
    tie->addConnection(queue);
    return true;
}

// Walks the section's children: `defarea` elements first, then
// `connection` elements; other elements are skipped.
bool readChildren(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, MQTie *tie)
{
    QHash<quint64, QString> inAreas;
    int phase = phNothing;
    for (QDomElement child = section.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("defarea")) {
            if (phase == phConnections) {
                reportConfigError(kContext, kAreasFirst);
                return false;
            }
            if (!readArea(loader, child, tie, inAreas))
                return false;
            phase = phAreas;
        } else if (tag == QLatin1String("connection")) {
            if (phase == phNothing) {
                reportConfigError(kContext, kConnectionAfterAreas);
                return false;
            }
            if (!readConnection(loader, child, tie))
                return false;
            phase = phConnections;
        }
    }
    if (phase != phConnections) {
        reportConfigError(kContext, phase == phNothing ? kAreasFirst : kConnectionMissing);
        return false;
    }
    return true;
}

} // namespace

bool readMQueueSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    std::unique_ptr<MQTie> owner(new MQTie);
    MQTie *tie = owner.get();
    bool ok = loader.parseSwitch(section, tie);
    if (!ok) {
        reportConfigError(kContext, "Error loading config: error parsing \"switchparam\" tag of section \"%1\"",
                          {section.tagName()});
    }
    quint32 timeout = tie->timeout();
    ok = ok && GateXmlConfigLoaderTemplate::readUInt32Attr(section, "timeout", timeout, timeout)
        && readChildren(loader, section, tie);
    if (!loader.finishSection(owner.release(), ok))
        return false;
    tie->setTimeout(timeout);
    loader.startWhenApplied([tie] { tie->openAll(); });
    return true;
}
