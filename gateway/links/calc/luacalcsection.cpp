#include "links/calc/luacalcsection.h"

#include "config/configreport.h"
#include "config/csvtieunit.h"
#include "config/gatexmlconfigloadertemplate.h"
#include "core/gateconfig.h"
#include "links/calc/luacalctie.h"

#include <QDomElement>
#include <QFileInfo>

#include <memory>

namespace {

const char kContext[] = "FerroxXmlConfig";

// Phases of the section: nothing read, input lists read, result lists
// read, script read.
enum Phase { phNothing = 0, phParams = 1, phResults = 2, phScript = 3 };

// Directions of the tie's units: consumers (2) and providers (1), both
// marked as calculation units (4).
constexpr quint32 kParamsDirection = BaseTieUnit::dirToThis | BaseTieUnit::dirCalc;
constexpr quint32 kResultsDirection = BaseTieUnit::dirFromThis | BaseTieUnit::dirCalc;

// The largest instruction budget accepted (a bound nobody reaches).
constexpr quint64 kMaxInstructionLimit = 1000000000000000ull;
// The largest heap bound accepted (1 TiB).
constexpr quint64 kMaxMemoryLimit = 1ull << 40;

QString attr(const QDomElement &element, const char *name)
{
    return QXmlBasedObject::getXMLAttrValue(element, QLatin1String(name));
}

void addModuleDir(LuaCalcTie &tie, const QString &dir)
{
    if (tie.addModuleDir(dir) && LuaCalcTie::changesSearchPath(dir))
        reportConfigError(kContext,
                          "Warning loading config: the module directory \"%1\" of section \"luacalc\" holds \";\" "
                          "or \"?\", which change the meaning of the module search path",
                          {dir});
}

// One `params` or `results` list into the tie with its forced direction;
// false when the list fails to load. Parameters of a type the script never
// sees are warned about.
bool readList(GateXmlConfigLoaderTemplate &loader, const QDomElement &list, LuaCalcTie *tie, quint32 direction)
{
    auto *unit = new CsvTieUnit(tie);
    if (!loader.parseCsvlist(list, unit)) {
        delete unit;
        return false;
    }
    unit->setDirection(direction);
    tie->addUnit(unit);
    GateXmlConfigLoaderTemplate::warnUntakenTypes(unit, &LuaCalcTie::exchangesType, "luacalc",
                                                  "calculations neither read nor write");
    if (direction & BaseTieUnit::dirFromThis)
        loader.mergeProviders(unit, true);
    return true;
}

// The `calcfile` element: loads the script; false (reported) when it fails.
bool readCalcFile(GateXmlConfigLoaderTemplate &loader, const QDomElement &calcfile, const QString &tag,
                  LuaCalcTie *tie)
{
    const QString file = attr(calcfile, "file");
    const QString function = QXmlBasedObject::getXMLAttrValueDef(calcfile, QStringLiteral("function"),
                                                                 QStringLiteral("calculate"));
    const QString path = loader.confPath(file);
    addModuleDir(*tie, QFileInfo(path).absolutePath());
    loader.noteFile(path);
    const int loaded = tie->loadCalcFile(path, function);
    for (const QString &module : tie->moduleFiles())
        loader.noteFile(module);
    if (loaded != LuaCalcTie::lrOk) {
        reportConfigError(kContext, "Error loading config: Error loading calcfile with file: \"%1\" for section \"%2\"",
                          "Error loading config: Error parsing calcfile with file: \"%1\" for section \"%2\"",
                          {file, tag});
        reportConfigError(kContext, "Error loading config: the script says: %1", {tie->errorText()});
        return false;
    }
    if (!tie->functionDefined())
        reportConfigError(kContext,
                          "Warning loading config: the script \"%1\" defines no function \"%2\"; its calculations "
                          "do nothing",
                          {file, function});
    for (const LuaCalcTie::ShadowedName &s : tie->shadowedNames())
        reportConfigError(kContext,
                          "Warning loading config: parameter %1 is published as \"%2\", which hides the script's "
                          "global %3 of that name",
                          {s.param, s.name, s.what});
    return true;
}

} // namespace

bool readLuaCalcSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    const QString tag = section.tagName();
    std::unique_ptr<LuaCalcTie> tie(new LuaCalcTie);
    if (!loader.parseTieID(section, tie.get())) {
        reportConfigError(kContext, "Internal error: error while setting LuaCalcTie id");
        return loader.finishSection(tie.release(), false);
    }
    quint32 timeout = 0;
    quint64 limit = 0;
    quint64 memory = 0;
    if (!GateXmlConfigLoaderTemplate::readUInt32Attr(section, "timeout", 3000, timeout)
        || !GateXmlConfigLoaderTemplate::readUnsignedAttr(section, "instructionlimit",
                                                          LuaCalcTie::DefaultInstructionLimit, 0,
                                                          kMaxInstructionLimit, limit)
        || !GateXmlConfigLoaderTemplate::readUnsignedAttr(section, "memorylimit", LuaCalcTie::DefaultMemoryLimit, 0,
                                                          kMaxMemoryLimit, memory))
        return loader.finishSection(tie.release(), false);
    tie->setTimeout(timeout);
    tie->setInstructionLimit(limit);
    tie->setMemoryLimit(memory);
    tie->setNameFlags(LuaCalcTie::nfAll);
    addModuleDir(*tie, loader.confDir().absolutePath());

    int phase = phNothing;
    bool params = false;
    bool results = false;
    for (QDomElement child = section.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString childTag = child.tagName();
        if (childTag == QLatin1String("params")) {
            if (phase == phResults || phase == phScript) {
                reportConfigError(kContext,
                                  "Error loading config: one or more \"params\" tag may be at start of section \"%1\"",
                                  {tag});
                return loader.finishSection(tie.release(), false);
            }
            if (!readList(loader, child, tie.get(), kParamsDirection)) {
                reportConfigError(kContext, "Error loading config: Error loading params for section \"%1\"",
                                  "Error loading config: Error parsing params for section \"%1\"", {tag});
                return loader.finishSection(tie.release(), false);
            }
            phase = phParams;
            params = true;
        } else if (childTag == QLatin1String("results")) {
            if (phase == phScript) {
                reportConfigError(kContext,
                                  "Error loading config: one or more \"results\" tag may be at start of section "
                                  "\"%1\" or just after \"params\" tag",
                                  {tag});
                return loader.finishSection(tie.release(), false);
            }
            if (!readList(loader, child, tie.get(), kResultsDirection)) {
                reportConfigError(kContext, "Error loading config: Error loading results for section \"%1\"",
                                  "Error loading config: Error parsing results for section \"%1\"", {tag});
                return loader.finishSection(tie.release(), false);
            }
            phase = phResults;
            results = true;
        } else if (childTag == QLatin1String("calcfile")) {
            if (!readCalcFile(loader, child, tag, tie.get()))
                return loader.finishSection(tie.release(), false);
            phase = phScript;
        }
    }

    switch (phase) {
    case phNothing:
        reportConfigError(kContext,
                          "Error loading config: section \"luacalc\" may contain one or more \"params\" tag and should "
                          "contain one or more results tag and a caclulation tag");
        return loader.finishSection(tie.release(), false);
    case phParams:
        reportConfigError(kContext, "Error loading config: section \"luacalc\" should contain one or more results tag "
                                    "and a caclulation tag");
        return loader.finishSection(tie.release(), false);
    case phResults:
        reportConfigError(kContext, "Error loading config: section \"luacalc\" should contain a \"calcfile\" tag");
        return loader.finishSection(tie.release(), false);
    default:
        // A script reached straight away loads, but does nothing useful:
        // it runs only when an input changed, and gives only results.
        if (!params)
            reportConfigError(kContext,
                              "Warning loading config file: section \"%1\" has no \"params\" tag: its script is "
                              "never called",
                              {tag});
        if (!results)
            reportConfigError(kContext,
                              "Warning loading config file: section \"%1\" has no \"results\" tag: its script "
                              "gives nothing",
                              {tag});
        return loader.finishSection(tie.release(), true);
    }
}
