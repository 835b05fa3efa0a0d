#include "links/mqtt/mqttsection.h"

#include "config/configreport.h"
#include "config/gatexmlconfigloadertemplate.h"
#include "core/basetieparam.h"
#include "core/gateconfig.h"
#include "core/regularfile.h"
#include "links/mqtt/mqttpayload.h"
#include "links/mqtt/mqtttie.h"

#include <dpdatatype.h>

#include <QDomElement>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QSysInfo>

#include <memory>

namespace {

const char kContext[] = "FerroxXmlConfig";

QString attr(const QDomElement &element, const char *name)
{
    return QXmlBasedObject::getXMLAttrValue(element, QLatin1String(name)).trimmed();
}

// Opens `file`, named by the section's attribute `name`, for reading; false
// (reported) when it cannot be.
bool openSectionFile(QFile &file, const char *name)
{
    QString reason;
    if (openRegularFileForReading(file, &reason))
        return true;
    reportConfigError(kContext, "Error loading config: cannot read \"%1\" file %2 in section \"mqtt\" (%3)",
                      {QString::fromLatin1(name), file.fileName(), reason});
    return false;
}

// The file named by attribute `name`, resolved against the configuration's
// directory, into `path`; false (reported) when it is given but cannot be read.
bool readableFile(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, const char *name, QString &path)
{
    const QString text = attr(section, name);
    path = text.isEmpty() ? QString() : loader.confPath(text);
    if (path.isEmpty())
        return true;
    // Read here (the password) or when connecting (keys and certificates):
    // a reload builds the tie anew when one changed.
    loader.noteFile(path);
    QFile file(path);
    return openSectionFile(file, name);
}

// The numeric attributes, each within its range.
bool readNumbers(const QDomElement &section, MqttSettings &s)
{
    using Loader = GateXmlConfigLoaderTemplate;
    quint64 port = 0, keepalive = 0, qos = 0, messages = 0, bytes = 0;
    if (!Loader::readUnsignedAttr(section, "port", 1883, 1, 65535, port)
        || !Loader::readUnsignedAttr(section, "keepalive", 30, 0, 65535, keepalive)
        || !Loader::readUnsignedAttr(section, "qos", 1, 0, 1, qos)
        || !Loader::readUnsignedAttr(section, "buffermessages", s.bufferMessages, 1, 0xFFFFFFFFu, messages)
        || !Loader::readUnsignedAttr(section, "bufferbytes", s.bufferBytes, 1024, 1ull << 40, bytes))
        return false;
    if (keepalive > 0 && keepalive < 5) {
        reportConfigError(kContext,
                          "Error loading config: \"keepalive\" %1 is neither 0 nor from 5 to 65535 seconds in section "
                          "\"mqtt\"",
                          {QString::number(keepalive)});
        return false;
    }
    s.port = quint16(port);
    s.keepalive = quint16(keepalive);
    s.qos = int(qos);
    s.bufferMessages = messages;
    s.bufferBytes = bytes;
    return true;
}

// The login and TLS attributes.
bool readSecurity(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, MqttSettings &s)
{
    s.username = attr(section, "username");
    QString passwordFile;
    if (!readableFile(loader, section, "passwordfile", passwordFile) || !readableFile(loader, section, "cafile", s.caFile)
        || !readableFile(loader, section, "certfile", s.certFile) || !readableFile(loader, section, "keyfile", s.keyFile))
        return false;
    if (!passwordFile.isEmpty()) {
        if (s.username.isEmpty()) {
            reportConfigError(kContext, "Error loading config: \"passwordfile\" needs \"username\" in section \"mqtt\"");
            return false;
        }
        // The password is the file's first line.
        QFile file(passwordFile);
        // Checked above, but it may have been replaced since: an empty
        // password would only show as a refused login.
        if (!openSectionFile(file, "passwordfile"))
            return false;
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        s.password = QString::fromUtf8(line);
        s.hasPassword = true;
    }
    if (s.certFile.isEmpty() != s.keyFile.isEmpty()) {
        reportConfigError(kContext, "Error loading config: \"certfile\" and \"keyfile\" go together in section \"mqtt\"");
        return false;
    }
    if (!s.certFile.isEmpty() && s.caFile.isEmpty()) {
        reportConfigError(kContext, "Error loading config: \"certfile\" needs \"cafile\" in section \"mqtt\"");
        return false;
    }
    return true;
}

bool readSettings(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, const QString &id, MqttSettings &s)
{
    s.host = attr(section, "host");
    if (s.host.isEmpty()) {
        reportConfigError(kContext, "Error loading config: \"host\" was not set in section \"mqtt\"");
        return false;
    }
    s.topicPrefix = attr(section, "topicprefix");
    while (s.topicPrefix.endsWith(QLatin1Char('/')))
        s.topicPrefix.chop(1);
    if (s.topicPrefix.isEmpty()) {
        reportConfigError(kContext, "Error loading config: \"topicprefix\" was not set in section \"mqtt\"");
        return false;
    }
    if (!MqttTie::validTopic(s.topicPrefix.toUtf8())) {
        reportConfigError(kContext, "Error loading config: \"topicprefix\" %1 is not a topic in section \"mqtt\"",
                          {s.topicPrefix});
        return false;
    }
    s.clientId = attr(section, "clientid");
    if (s.clientId.isEmpty())
        s.clientId = QSysInfo::machineHostName() + QLatin1Char('-') + (id.isEmpty() ? QStringLiteral("ferrox") : id);
    s.cleanSession = QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("cleansession"), true);
    s.retain = QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("retain"), false);
    return readNumbers(section, s) && readSecurity(loader, section, s);
}

// Every parameter of `unit` can travel and names a valid topic; false (reported) otherwise.
bool checkParams(const MqttTieUnit &unit, const QString &prefix)
{
    for (const BaseTieParam *param : unit.params()) {
        if (!param)
            continue;
        const QString level = MqttTie::topicLevel(*param);
        if (level.isEmpty()) {
            reportConfigError(kContext,
                              "Error loading config: parameter %1 has no KKS, IID or index for its topic in section "
                              "\"mqtt\"",
                              {param->description()});
            return false;
        }
        const QByteArray topic = (prefix + QLatin1Char('/') + level + QStringLiteral("/set")).toUtf8();
        if (!MqttTie::validTopic(topic)) {
            reportConfigError(kContext, "Error loading config: topic %1 of parameter %2 is not valid in section \"mqtt\"",
                              {prefix + QLatin1Char('/') + level, param->description()});
            return false;
        }
        if (!MqttPayload::canCarry(param->metatype())) {
            reportConfigError(kContext,
                              "Error loading config: parameter %1 of type %2 cannot travel by section \"mqtt\"",
                              {param->description(), DPDataTypeToString(static_cast<int>(param->metatype()))});
            return false;
        }
    }
    return true;
}

// No value the tie publishes lands on its status topic or on a topic it
// takes set messages from (the broker would hand the gateway's own values
// back to it as commands); false (reported) otherwise.
bool checkOwnTopics(const MqttTie &tie)
{
    const QString prefix = tie.settings().topicPrefix + QLatin1Char('/');
    QSet<QString> setTopics;
    for (const BaseTieUnit *unit : tie.units()) {
        if (unit && unit->direction() == BaseTieUnit::dirFromThis) {
            for (const BaseTieParam *param : unit->params())
                setTopics.insert(prefix + MqttTie::topicLevel(*param) + QStringLiteral("/set"));
        }
    }
    for (const BaseTieUnit *unit : tie.units()) {
        if (!unit || unit->direction() != BaseTieUnit::dirToThis)
            continue;
        for (const BaseTieParam *param : unit->params()) {
            const QString topic = prefix + MqttTie::topicLevel(*param);
            const char *clash = topic == prefix + QStringLiteral("status")
                ? "Error loading config: topic %1 of parameter %2 is the status topic of section \"mqtt\""
                : setTopics.contains(topic)
                    ? "Error loading config: topic %1 of parameter %2 is also a \"set\" topic of section \"mqtt\""
                    : nullptr;
            if (clash) {
                reportConfigError(kContext, clash, {topic, param->description()});
                return false;
            }
        }
    }
    return true;
}

// Two parameters of one direction on one topic share its values (out) or
// its set messages (in). That is meant when both name the same KKS or IID;
// a topic they reach by their numbers, or by identifiers of different
// kinds, is warned about once: each set message would write both, each
// subscriber would get two signals on one topic.
void warnSharedTopics(const MqttTie &tie)
{
    const auto kindOf = [](const BaseTieParam &param) {
        return !param.KKS().isEmpty() ? 0 : !param.IID().isEmpty() ? 1 : 2;
    };
    for (const quint32 direction : {quint32(BaseTieUnit::dirToThis), quint32(BaseTieUnit::dirFromThis)}) {
        QHash<QString, const BaseTieParam *> first;
        QSet<QString> warned;
        for (const BaseTieUnit *unit : tie.units()) {
            if (!unit || unit->direction() != direction)
                continue;
            for (const BaseTieParam *param : unit->params()) {
                if (!param)
                    continue;
                const QString topic = MqttTie::topicLevel(*param);
                const BaseTieParam *other = first.value(topic);
                if (!other) {
                    first.insert(topic, param);
                } else if ((kindOf(*param) != kindOf(*other) || kindOf(*param) == 2) && !warned.contains(topic)) {
                    warned.insert(topic);
                    reportConfigError(kContext,
                                      "Warning loading config file: topic %1 is reached by parameters %2 and %3 of "
                                      "section \"mqtt\", which name different values",
                                      {tie.settings().topicPrefix + QLatin1Char('/') + topic, other->description(),
                                       param->description()});
                }
            }
        }
    }
}

// One `csvlist` element into `tie`; false (reported) when it fails.
bool readList(GateXmlConfigLoaderTemplate &loader, const QDomElement &list, MqttTie *tie)
{
    auto *unit = new MqttTieUnit(tie);
    if (!loader.parseCsvlist(list, unit)) {
        delete unit;
        reportConfigError(kContext, "Error loading config: Error loading csvlist for section \"mqtt\"",
                          "Error loading config: Error parsing csvlist for section \"mqtt\"");
        return false;
    }
    const quint32 direction = unit->direction();
    if (direction != BaseTieUnit::dirFromThis && direction != BaseTieUnit::dirToThis) {
        delete unit;
        reportConfigError(kContext,
                          "Error loading config: a \"csvlist\" of section \"mqtt\" must have the direction in or out");
        return false;
    }
    if (!checkParams(*unit, tie->settings().topicPrefix)) {
        delete unit;
        return false;
    }
    tie->addUnit(unit);
    loader.mergeProviders(unit);
    return true;
}

} // namespace

bool readMqttSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    MqttSettings settings;
    if (!readSettings(loader, section, attr(section, "id"), settings))
        return false;
    std::unique_ptr<MqttTie> tie(new MqttTie(settings));
    if (!loader.parseTieID(section, tie.get())) {
        reportConfigError(kContext, "Internal error: error while setting MqttTie id");
        return false;
    }
    bool ok = true;
    int lists = 0;
    for (QDomElement child = section.firstChildElement(); ok && !child.isNull(); child = child.nextSiblingElement()) {
        if (child.tagName() != QLatin1String("csvlist"))
            continue;
        ok = readList(loader, child, tie.get());
        ++lists;
    }
    if (ok && lists == 0) {
        reportConfigError(kContext, "Error loading config: one or more \"csvlist\" tag should be at start of section "
                                    "\"mqtt\"");
        ok = false;
    }
    ok = ok && checkOwnTopics(*tie);
    if (ok)
        warnSharedTopics(*tie);
    return loader.finishSection(tie.release(), ok);
}
