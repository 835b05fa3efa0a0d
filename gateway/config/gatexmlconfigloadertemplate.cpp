#include "config/gatexmlconfigloadertemplate.h"

#include "config/configreport.h"
#include "config/csvlistloader.h"
#include "config/csvtieunit.h"
#include "config/deftieunit.h"
#include "config/qdeffilestruct.h"
#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/diag.h"
#include "core/regularfile.h"
#include "core/gateconfig.h"
#include "core/paramswitch.h"
#include "core/timepoint.h"

#include <dpdatatype.h>

#include <QTextCodec>

#include <limits>

namespace {

const char kContext[] = "GateXmlConfigLoaderTemplate";

// Reports an integer attribute whose text is not a number within its range.
void reportBadNumber(const QDomElement &element, const char *name, const QString &text, const QString &minText,
                     const QString &maxText)
{
    reportConfigError(kContext,
                      "Error loading config: attribute \"%1\" of \"%2\" is \"%3\", not a whole number from %4 to %5",
                      {QString::fromLatin1(name), element.tagName(), text, minText, maxText});
}

struct Keyword {
    const char *text;
    int value;
};

// The value of `keyword` (already lower-cased) in `table`, or `fallback`.
template<size_t N>
int lookup(const Keyword (&table)[N], const QString &keyword, int fallback)
{
    for (const Keyword &k : table) {
        if (keyword == QLatin1String(k.text))
            return k.value;
    }
    return fallback;
}

constexpr Keyword kDirections[] = {
    {"in", 1}, {"input", 1}, {"out", 2}, {"output", 2}, {"both", 3}, {"io", 3}, {"inout", 3},
};

constexpr Keyword kElementSizes[] = {
    {"mixed", 0}, {"mix", 0}, {"0", 0}, {"byte", 1}, {"char", 1}, {"1", 1}, {"word", 2}, {"short", 2}, {"2", 2},
    {"dword", 4}, {"int", 4}, {"float", 4}, {"4", 4}, {"", 4}, {"qword", 8}, {"int64", 8}, {"double", 8}, {"8", 8},
};

constexpr Keyword kTimePointTypes[] = {
    {"none", 0}, {"", 0}, {"raw", 1},
    {"unixtime", 2}, {"unixtimeutc", 2}, {"utcunixtime", 2},
    {"unixtimelocal", 3}, {"localunixtime", 3},
    {"ki", 4}, {"kilocal", 4}, {"localki", 4},
    {"kiutc", 5}, {"utcki", 5}, {"timeval", 5},
    {"utmsecutc", 6}, {"utcutmsec", 6},
    {"utmseclocal", 7}, {"localutmsec", 7},
    {"utdoubleutc", 8}, {"utcdoubleut", 8},
    {"utdoublelocal", 9}, {"localdoubleut", 9},
    {"timespecutc", 10}, {"utctimespec", 10}, {"timespec", 10}, {"timespec32utc", 10}, {"utctimespec32", 10},
    {"timespec32", 10},
    {"timespec64utc", 11}, {"utctimespec64", 11}, {"timespec64", 11},
};

constexpr Keyword kTimePointUpdates[] = {
    {"none", 0}, {"", 0}, {"send", 1}, {"conversion", 2}, {"source", 3},
};

constexpr Keyword kSwitchTypes[] = {
    {"lock", 0}, {"never", 0},
    {"true", 1}, {"yes", 1}, {"byyes", 1}, {"bytrue", 1}, {"onyes", 1}, {"ontrue", 1},
    {"false", 2}, {"no", 2}, {"byfalse", 2}, {"byno", 2}, {"onfalse", 2}, {"onno", 2},
    {"always", 3}, {"alwaysopen", 3}, {"openalways", 3},
};

struct ConditionKeyword {
    const char *text;
    quint64 bits;
};

constexpr ConditionKeyword kConditions[] = {
    {"invalid", 0x1}, {"inv", 0x1}, {"infinite", 0x10}, {"inf", 0x10}, {"zero", 0x40}, {"0", 0x40},
    {"plus", 0x100}, {">0", 0x100}, {"minus", 0x200}, {"<0", 0x200}, {">=0", 0x140}, {"<=0", 0x240},
};

QString attr(const QDomElement &element, const char *name)
{
    return QXmlBasedObject::getXMLAttrValue(element, QLatin1String(name));
}

// False, reported, when `element` names no file: the path would be the
// configuration directory itself, which says nothing of the cause.
bool namesFile(const QDomElement &element, const QString &file)
{
    if (!file.isEmpty())
        return true;
    reportConfigError(kContext, "Error loading config: \"%1\" has no \"file\" attribute", {element.tagName()});
    return false;
}

} // namespace

GateXmlConfigLoaderTemplate::GateXmlConfigLoaderTemplate(GateConfig &config, QObject *parent)
    : QTemplateXmlGeneralConf(parent)
    , m_config(config)
{
}

GateXmlConfigLoaderTemplate::~GateXmlConfigLoaderTemplate() = default;

bool GateXmlConfigLoaderTemplate::parseTieID(const QDomElement &section, BaseTie *tie)
{
    GATE_DEBUG(10, "GateXmlConfigLoaderTemplate::parseTieID(.., %p (%s), %p) was called",
               static_cast<const void *>(&section), qUtf8Printable(section.tagName()), static_cast<void *>(tie));
    if (!tie)
        return false;
    tie->setId(attr(section, "id"));
    GATE_DEBUG(10, "    id set into %s", qUtf8Printable(tie->id()));
    return true;
}

bool GateXmlConfigLoaderTemplate::parseSwitch(const QDomElement &section, BaseTie *tie)
{
    if (!tie)
        return false;
    const QString name = attr(section, "switchparam");
    if (name.isEmpty()) {
        GATE_DEBUG(4, "GateXmlConfigLoaderTemplate::parseSwitch(): switchparam for tie is not set (It's OK)");
        return true;
    }
    BaseTieParam *param = m_config.paramsHash().find(name);
    if (!param) {
        reportConfigError(kContext, "Error loading config: Cannot find param for switchparam %1", {name});
        return false;
    }
    noteIndexUse(SectionRecord::IndexUse::SwitchParam, nullptr, name);
    const quint64 condition = parseSwitchCondition(section, QStringLiteral("switchcondition"), 0);
    if (condition == ParamSwitch::tscWrong) {
        reportConfigError(kContext, "Error loading config: Wrong switchcondition %1", {attr(section, "switchcondition")});
        return false;
    }
    const int type = parseSwitchType(section, QStringLiteral("switchtype"), ParamSwitch::tstOnTrue);
    if (type == ParamSwitch::tstWrong) {
        reportConfigError(kContext, "Error loading config: Wrong switchtype %1", {attr(section, "switchtype")});
        return false;
    }
    // Without a condition nothing ever holds: a switch that opens by the
    // condition (or by its failing) then stays closed for good.
    if (attr(section, "switchcondition").isEmpty() && (type == ParamSwitch::tstOnTrue || type == ParamSwitch::tstOnFalse)) {
        reportConfigError(kContext,
                          "Warning loading config file: switchparam %1 of section \"%2\" is given without "
                          "switchcondition, so its output stays closed",
                          {name, section.tagName()});
    }
    ParamSwitch &sw = tie->paramsSwitch();
    sw.setSwitchParam(param);
    sw.setSwitchCondition(condition);
    sw.setSwitchType(type);
    return true;
}

bool GateXmlConfigLoaderTemplate::setTimePoint(const QDomElement &element, BaseTieUnit *unit)
{
    if (!unit)
        return false;
    const QString name = attr(element, "timepoint");
    if (name.isEmpty()) {
        GATE_DEBUG(4, "GateXmlConfigLoaderTemplate::setTimePoint(): timepoint for unit is not set (It's OK)");
        return true;
    }
    // The stamp normally lives in one of the unit's own parameters; a
    // provider defined earlier in the file may serve as well.
    BaseTieParam *param = unit->paramsHash().find(name);
    if (!param) {
        param = m_config.paramsHash().find(name);
        if (param)
            noteIndexUse(SectionRecord::IndexUse::TimePointParam, unit, name);
    }
    if (!param) {
        reportConfigError(kContext, "Error loading config: Cannot find param for timepoint %1", {name});
        return false;
    }
    const QString typeText = attr(element, "timepointtype");
    const int type = timePointTypeFromString(typeText);
    if (type < 0) {
        reportConfigError(kContext, "Error loading config: Unknown timepoint type %1", {typeText});
        return false;
    }
    const QString updateText = attr(element, "timepointupdate");
    const int update = timePointUpdateFromString(updateText);
    if (update < 0) {
        reportConfigError(kContext, "Error loading config: Unknown timepoint update type %1", {updateText});
        return false;
    }
    TimePoint &tp = unit->timePoint();
    tp.setParam(param);
    tp.setType(type);
    tp.setUpdateMode(update);
    // "raw" is meant to stay untouched; any other stamp that cannot be
    // encoded would stay as it is for good, unnoticed.
    if (type != TimePoint::tptRaw && !tp.encodes()) {
        reportConfigError(kContext,
                          "Warning loading config file: timepoint %1 (timepointtype \"%2\", %3 bytes) is never "
                          "written or read",
                          {name, typeText, QString::number(param->size())});
    }
    GATE_DEBUG(4, "GateXmlConfigLoaderTemplate::setTimePoint(): timepoint \"%s\" with type %i and updatetype %i",
               qUtf8Printable(name), type, update);
    return true;
}

bool GateXmlConfigLoaderTemplate::parseCsvlist(const QDomElement &element, CsvTieUnit *unit, quint32 checkIdMethod,
                                               quint32 flags)
{
    Q_UNUSED(flags);
    if (!unit)
        return false;
    const QString file = attr(element, "file");
    if (!namesFile(element, file))
        return false;
    const QString typeText = attr(element, "typevalue");
    const quint32 typeValue = csvTypeFromCode(typeText);
    if (!typeText.isEmpty() && typeValue == 0) {
        reportConfigError(kContext, "Warning loading config file: attribute \"typevalue\" of \"%1\" names no data type (%2)",
                          {element.tagName(), typeText});
    }
    CsvListColumns columns;
    const struct {
        const char *name;
        int *column;
    } columnAttrs[] = {{"type", &columns.type}, {"index", &columns.index}, {"extid", &columns.extid},
                       {"iid", &columns.iid},   {"kks", &columns.kks},     {"rtm", &columns.rtm}};
    for (const auto &a : columnAttrs) {
        qint64 column = -1;
        if (!readSignedAttr(element, a.name, -1, -1, std::numeric_limits<int>::max(), column))
            return false;
        *a.column = static_cast<int>(column);
    }
    QTextCodec *codec = csvCodecForName(attr(element, "encoding"));
    const QString path = confPath(file);
    GATE_DEBUG(4, "GateXmlConfigLoaderTemplate::parseCsvlist(): will load file %s(%s) Type (value=%u index=%i) "
                  "columns index=%i extid=%i iid=%i kks=%i rtm=%i",
               qUtf8Printable(file), qUtf8Printable(path), typeValue, columns.type, columns.index, columns.extid,
               columns.iid, columns.kks, columns.rtm);
    GATE_DEBUG(5, "    ... CheckIdMethod is %u and look for %i dimensions", checkIdMethod, 0);
    noteFile(path);
    if (!loadCsvList(unit, path, columns, typeValue, codec)) {
        reportConfigError(kContext, "Error loading config: Error loading csvlist file %1", {path});
        return false;
    }
    unit->setDirection(static_cast<quint32>(parseDirection(element, QStringLiteral("direction"))));
    unit->setElementSize(parseElementSize(element, QStringLiteral("elementsize")));
    GATE_DEBUG(1, "GateXmlConfigLoaderTemplate::parseCsvlist(): area from %s with direction %i loaded",
               qUtf8Printable(path), static_cast<int>(unit->direction()));
    return setTimePoint(element, unit);
}

bool GateXmlConfigLoaderTemplate::parseDefarea(const QDomElement &element, DefTieUnit *unit)
{
    if (!unit)
        return false;
    const QString file = attr(element, "file");
    if (!namesFile(element, file))
        return false;
    const QString path = confPath(file);
    noteFile(path);
    if (unit->defStruct().loadFile(path, QTextCodec::codecForName("KOI8-R")) != 0) {
        reportConfigError(kContext, "Error loading config: Error loading defarea file %1", {path});
        return false;
    }
    unit->setDirection(static_cast<quint32>(parseDirection(element, QStringLiteral("direction"))));
    unit->setElementSize(parseElementSize(element, QStringLiteral("elementsize")));
    unit->refreshParams();
    GATE_DEBUG(1, "GateXmlConfigLoaderTemplate::parseDefarea(): area from %s with direction %i and elementsize %i loaded",
               qUtf8Printable(path), static_cast<int>(unit->direction()), unit->elementSize());
    return setTimePoint(element, unit);
}

void GateXmlConfigLoaderTemplate::addTie(BaseTie *tie)
{
    if (tie && !tie->id().isEmpty()) {
        for (const BaseTie *other : qAsConst(m_config.ties())) {
            if (other && other->id() == tie->id()) {
                reportConfigError(kContext, "Warning loading config file: tie id \"%1\" is used by more than one section",
                                  {tie->id()});
                break;
            }
        }
    }
    if (tie) {
        const QStringList claims = tie->exclusiveClaims();
        for (int i = 0; i < claims.size(); ++i) {
            bool twice = claims.indexOf(claims.at(i)) < i;
            for (const BaseTie *other : qAsConst(m_config.ties()))
                twice = twice || (other && other->exclusiveClaims().contains(claims.at(i)));
            if (twice)
                reportConfigError(kContext, "Warning loading config file: %1 is claimed by more than one section",
                                  {claims.at(i)});
        }
    }
    m_config.ties().append(tie);
}

bool GateXmlConfigLoaderTemplate::finishSection(BaseTie *tie, bool complete)
{
    if (complete)
        addTie(tie);
    else if (tie)
        tie->setParent(&m_config);
    return complete;
}

void GateXmlConfigLoaderTemplate::warnUntakenTypes(const BaseTieUnit *unit, bool (*takes)(quint32),
                                                   const char *section, const char *consequence)
{
    if (!unit)
        return;
    for (const BaseTieParam *param : unit->params()) {
        if (param && !takes(param->metatype()))
            reportConfigError(kContext, "Warning loading config: parameter %1 of section %2 has type %3, which %4",
                              {param->description(), QLatin1String(section), DPDataTypeToString(param->metatype()),
                               QLatin1String(consequence)});
    }
}

void GateXmlConfigLoaderTemplate::mergeProviders(BaseTieUnit *unit, bool always)
{
    if (unit && (always || unit->direction() == BaseTieUnit::dirFromThis)) {
        m_config.paramsHash().unite(unit->paramsHash());
        noteIndexUse(SectionRecord::IndexUse::Merge, unit, QString());
    }
}

bool GateXmlConfigLoaderTemplate::openConfFile(QFile &file) const
{
    QString reason;
    if (openRegularFileForReading(file, &reason))
        return true;
    GATE_WARN("Error loading config: cannot read %s (%s)", qUtf8Printable(file.fileName()), qUtf8Printable(reason));
    return false;
}

void GateXmlConfigLoaderTemplate::noteFile(const QString &path)
{
    if (m_section)
        m_section->files.append({path, sectionFileDigest(path)});
}

void GateXmlConfigLoaderTemplate::startWhenApplied(std::function<void()> action)
{
    if (!action)
        return;
    if (m_beside)
        m_starts.append(std::move(action));
    else
        action();
}

void GateXmlConfigLoaderTemplate::noteIndexUse(SectionRecord::IndexUse::Kind kind, BaseTieUnit *unit,
                                               const QString &name)
{
    if (!m_section)
        return;
    SectionRecord::IndexUse use;
    use.kind = kind;
    use.unit = unit;
    use.name = name;
    m_section->indexUses.append(use);
}

QString GateXmlConfigLoaderTemplate::confPath(const QString &path) const
{
    return m_confDir.absoluteFilePath(path);
}

bool GateXmlConfigLoaderTemplate::readUnsignedAttr(const QDomElement &element, const char *name, quint64 def,
                                                   quint64 minValue, quint64 maxValue, quint64 &value)
{
    const QString text = getXMLAttrValue(element, QLatin1String(name)).trimmed();
    quint64 parsed = def;
    bool ok = true;
    if (!text.isEmpty())
        parsed = text.startsWith(QLatin1Char('-')) ? (ok = false, 0) : text.toULongLong(&ok, 0);
    if (!ok || parsed < minValue || parsed > maxValue) {
        reportBadNumber(element, name, text, QString::number(minValue), QString::number(maxValue));
        return false;
    }
    value = parsed;
    return true;
}

bool GateXmlConfigLoaderTemplate::readSignedAttr(const QDomElement &element, const char *name, qint64 def,
                                                 qint64 minValue, qint64 maxValue, qint64 &value)
{
    const QString text = getXMLAttrValue(element, QLatin1String(name)).trimmed();
    qint64 parsed = def;
    bool ok = true;
    if (!text.isEmpty())
        parsed = text.toLongLong(&ok, 0);
    if (!ok || parsed < minValue || parsed > maxValue) {
        reportBadNumber(element, name, text, QString::number(minValue), QString::number(maxValue));
        return false;
    }
    value = parsed;
    return true;
}

bool GateXmlConfigLoaderTemplate::readUInt32Attr(const QDomElement &element, const char *name, quint32 def,
                                                 quint32 &value, quint32 maxValue)
{
    quint64 wide = 0;
    if (!readUnsignedAttr(element, name, def, 0, maxValue, wide))
        return false;
    value = static_cast<quint32>(wide);
    return true;
}

int GateXmlConfigLoaderTemplate::parseDirection(const QDomElement &element, const QString &attribute)
{
    const QString value = getXMLAttrValue(element, attribute);
    const int direction = lookup(kDirections, value.toLower(), -1);
    if (direction >= 0)
        return direction;
    if (!value.isEmpty())
        reportConfigError(kContext,
                          "Warning loading config file: %1 \"%2\" of \"%3\" tag is not in, out or both: the tag is "
                          "neither read nor written",
                          {attribute, value, element.tagName()});
    return 0;
}

int GateXmlConfigLoaderTemplate::parseElementSize(const QDomElement &element, const QString &attribute)
{
    return lookup(kElementSizes, getXMLAttrValue(element, attribute).toLower(), 0);
}

int GateXmlConfigLoaderTemplate::parseSwitchType(const QDomElement &element, const QString &attribute, int def)
{
    const QString value = getXMLAttrValue(element, attribute);
    if (value.isEmpty())
        return def;
    const int type = lookup(kSwitchTypes, value.toLower(), ParamSwitch::tstWrong);
    if (type == ParamSwitch::tstWrong)
        GATE_WARN("Unknown switch type \"%s\" while parsing attribute %s", qUtf8Printable(value), qUtf8Printable(attribute));
    return type;
}

quint64 GateXmlConfigLoaderTemplate::parseSwitchCondition(const QDomElement &element, const QString &attribute,
                                                          quint64 def)
{
    const QString value = getXMLAttrValue(element, attribute);
    if (value.isEmpty())
        return def;
    quint64 bits = 0;
    const QStringList pieces = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : pieces) {
        QString piece = raw.trimmed().toLower();
        if (piece.isEmpty())
            continue;
        const QChar first = piece.at(0);
        const bool negated = first == QLatin1Char('!') || first == QLatin1Char('-') || first == QLatin1Char('~');
        if (negated)
            piece.remove(0, 1);
        if (piece == QLatin1String("none"))
            continue;
        if (piece == QLatin1String("all")) {
            bits = negated ? 0 : quint64(ParamSwitch::tscAll);
            continue;
        }
        bool known = false;
        for (const ConditionKeyword &k : kConditions) {
            if (piece == QLatin1String(k.text)) {
                bits = negated ? (bits & ~k.bits) : (bits | k.bits);
                known = true;
                break;
            }
        }
        if (!known) {
            GATE_WARN("Unknown condition \"%s\" while parsing attribute %s=\"%s\"", qUtf8Printable(raw.trimmed()),
                      qUtf8Printable(attribute), qUtf8Printable(value));
            return ParamSwitch::tscWrong;
        }
    }
    return bits;
}

int GateXmlConfigLoaderTemplate::timePointTypeFromString(const QString &keyword)
{
    return lookup(kTimePointTypes, keyword.toLower(), -1);
}

int GateXmlConfigLoaderTemplate::timePointUpdateFromString(const QString &keyword)
{
    return lookup(kTimePointUpdates, keyword.toLower(), -1);
}

QStringList GateXmlConfigLoaderTemplate::splitEscapedList(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QStringList result;
    for (int i = 0; i < pieces.size(); ++i) {
        QString piece = pieces.at(i);
        QString out;
        for (int j = 0; j < piece.size(); ++j) {
            const QChar c = piece.at(j);
            if (c != QLatin1Char('\\')) {
                out += c;
            } else if (j + 1 < piece.size()) {
                out += piece.at(++j);
            } else if (i + 1 < pieces.size()) {
                // A backslash before the colon: the colon and the next piece stay here.
                out += QLatin1Char(':');
                piece = pieces.at(++i);
                j = -1;
            } else {
                out += c;
            }
        }
        result << out;
    }
    return result;
}
