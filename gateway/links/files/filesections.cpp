#include "links/files/filesections.h"

#include "config/configreport.h"
#include "config/csvtieunit.h"
#include "config/gatexmlconfigloadertemplate.h"
#include "core/gateconfig.h"
#include "links/files/plottextfileouttie.h"
#include "links/files/textfileintie.h"
#include "links/files/textfileouttie.h"

#include <QDomElement>

#include <memory>

namespace {

const char kContext[] = "FerroxXmlConfig";

// Phases of a file section: nothing read yet, lists read, file read.
enum Phase { phNothing = 0, phLists = 1, phFile = 2 };

QString attr(const QDomElement &element, const char *name)
{
    return QXmlBasedObject::getXMLAttrValue(element, QLatin1String(name));
}

// Ends a failed section. Its tie is not listed, but the provider index may
// already point at its parameters, so the configuration keeps it alive as
// a child until the configuration itself goes.
bool failSection(GateXmlConfigLoaderTemplate &loader, std::unique_ptr<BaseTie> &tie)
{
    tie.release()->setParent(&loader.config());
    return false;
}

// Builds one unit from a `csvlist` element into `tie` (by its addUnit) and
// offers it to the provider index; false when the list fails to load.
template<typename Tie>
bool readList(GateXmlConfigLoaderTemplate &loader, const QDomElement &list, Tie *tie)
{
    auto *unit = new CsvTieUnit(tie);
    if (!loader.parseCsvlist(list, unit)) {
        delete unit;
        return false;
    }
    tie->addUnit(unit);
    loader.mergeProviders(unit);
    return true;
}

// The output-file attributes of an `outfile` element into `tie`; false
// (reported) for an empty file name or a zone other than UTC or local.
bool readOutFile(const QDomElement &outfile, TextFileOutTie *tie)
{
    const QStringList names = GateXmlConfigLoaderTemplate::splitEscapedList(attr(outfile, "filename"));
    if (names.isEmpty()) {
        reportConfigError(kContext,
                          "Error loading config: empty \"filename\" attribute of \"outfile\" tag in section "
                          "\"textfileout\"");
        return false;
    }
    tie->setFileNames(names);
    tie->setDatePattern(QString());
    const QString date = QXmlBasedObject::getXMLAttrValueDef(outfile, QStringLiteral("date"), QStringLiteral("isodate"));
    const QString dateKeyword = date.toLower();
    if (dateKeyword == QLatin1String("isodate")) {
        tie->setDateKind(BaseFileOutTie::dkIso);
    } else if (dateKeyword == QLatin1String("textdate")) {
        tie->setDateKind(BaseFileOutTie::dkText);
    } else if (dateKeyword == QLatin1String("localdate")) {
        tie->setDateKind(BaseFileOutTie::dkLocale);
    } else {
        tie->setDateKind(BaseFileOutTie::dkText);
        tie->setDatePattern(date);
    }
    const QString zone = QXmlBasedObject::getXMLAttrValueDef(outfile, QStringLiteral("zone"), QStringLiteral("UTC"));
    const QString zoneKeyword = zone.toLower();
    if (zoneKeyword == QLatin1String("utc")) {
        tie->setZoneUtc(true);
    } else if (zoneKeyword == QLatin1String("local")) {
        tie->setZoneUtc(false);
    } else {
        reportConfigError(kContext,
                          "Error loading config file: Error getting value \"zone\" attribute of \"outfile\" tag in "
                          "section \"textfileout\". Value is %1 due UTC or local are permitted",
                          {zone});
        return false;
    }
    return true;
}

// The children of an output section: the lists, then the one `outfile`.
bool readOutChildren(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, TextFileOutTie *tie)
{
    static const char kListsFirst[] =
        "Error loading config: one or more \"csvlist\" tag should be at start of section \"textfileout\"";
    static const char kFileAfterLists[] =
        "Error loading config: a \"outfile\" tag should be just after \"csvlist\" in section \"textfileout\"";
    int phase = phNothing;
    for (QDomElement child = section.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("csvlist")) {
            if (phase == phFile) {
                reportConfigError(kContext, kListsFirst);
                return false;
            }
            if (!readList(loader, child, tie)) {
                reportConfigError(kContext, "Error loading config: Error loading csvlist for section ",
                                  "Error loading config: Error parsing csvlist for section ");
                return false;
            }
            phase = phLists;
        } else if (tag == QLatin1String("outfile")) {
            if (phase != phLists) {
                reportConfigError(kContext, kFileAfterLists);
                return false;
            }
            if (!readOutFile(child, tie))
                return false;
            phase = phFile;
        }
    }
    if (phase == phNothing) {
        reportConfigError(kContext, kListsFirst);
        return false;
    }
    if (phase == phLists) {
        reportConfigError(kContext, kFileAfterLists);
        return false;
    }
    return true;
}

quint32 timeoutOf(const QDomElement &section)
{
    return static_cast<quint32>(QXmlBasedObject::getXMLULongAttrDef(section, QStringLiteral("timeout"), 3000));
}

quint32 intervalOf(const QDomElement &section)
{
    return static_cast<quint32>(QXmlBasedObject::getXMLULongAttrDef(section, QStringLiteral("minwriteinterval"), 1));
}

} // namespace

bool readTextFileInSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    static const char kListsFirst[] =
        "Error loading config: one or more \"csvlist\" tag should be at start of section \"textfilein\"";
    static const char kFileAfterLists[] =
        "Error loading config: a \"infile\" tag should be just after \"csvlist\" in section \"textfilein\"";

    std::unique_ptr<BaseTie> owner(new TextFileInTie);
    auto *tie = static_cast<TextFileInTie *>(owner.get());
    if (!loader.parseTieID(section, tie)) {
        reportConfigError(kContext, "Internal error: error while setting TextFileInTie id");
        return failSection(loader, owner);
    }
    tie->setTimeout(timeoutOf(section));
    tie->setPrevForAbsent(QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("prevforabsent"), false));

    int phase = phNothing;
    for (QDomElement child = section.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("csvlist")) {
            if (phase == phFile) {
                reportConfigError(kContext, kListsFirst);
                return failSection(loader, owner);
            }
            if (!readList(loader, child, tie)) {
                reportConfigError(kContext, "Error loading config: Error loading csvlist for section textfilein",
                                  "Error loading config: Error parsing csvlist for section textfilein");
                return failSection(loader, owner);
            }
            phase = phLists;
        } else if (tag == QLatin1String("infile")) {
            if (phase != phLists) {
                reportConfigError(kContext, kFileAfterLists);
                return failSection(loader, owner);
            }
            const QStringList names = GateXmlConfigLoaderTemplate::splitEscapedList(attr(child, "filename"));
            if (names.isEmpty()) {
                reportConfigError(kContext,
                                  "Error loading config: empty \"filename\" attribute of \"infile\" tag in section "
                                  "\"textfilein\"");
                return failSection(loader, owner);
            }
            tie->setFileName(names.first());
            tie->setReadPosition(0);
            phase = phFile;
        }
    }
    if (phase != phFile) {
        reportConfigError(kContext, phase == phNothing ? kListsFirst : kFileAfterLists);
        return failSection(loader, owner);
    }
    loader.addTie(owner.release());
    return true;
}

bool readTextFileOutSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    std::unique_ptr<BaseTie> owner(new TextFileOutTie);
    auto *tie = static_cast<TextFileOutTie *>(owner.get());
    if (!loader.parseTieID(section, tie)) {
        reportConfigError(kContext, "Internal error: error while setting TextFileOutTie id");
        return failSection(loader, owner);
    }
    tie->setTimeout(timeoutOf(section));
    tie->setSyncByTimePoint(QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("syncbytimepoint"), false));
    tie->setMinWriteInterval(intervalOf(section));
    tie->setColumns(OutFieldFormat::parseColumns(attr(section, "outfields")));
    tie->setValidString(QXmlBasedObject::getXMLAttrValueDef(section, QStringLiteral("defvalidstring"), QStringLiteral("+")));
    tie->setInvalidString(
        QXmlBasedObject::getXMLAttrValueDef(section, QStringLiteral("definvalidstring"), QStringLiteral("-")));
    tie->setWriteInvalid(QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("writeinvalid"), false));
    if (!loader.parseSwitch(section, tie)) {
        reportConfigError(kContext, "Error loading config: error parsing \"switchparam\" tag of section \"%1\"",
                          {section.tagName()});
        return failSection(loader, owner);
    }
    if (!readOutChildren(loader, section, tie))
        return failSection(loader, owner);
    loader.addTie(owner.release());
    return true;
}

bool readPlotTextFileOutSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    std::unique_ptr<BaseTie> owner(new PlotTextFileOutTie);
    auto *tie = static_cast<PlotTextFileOutTie *>(owner.get());
    if (!loader.parseTieID(section, tie)) {
        reportConfigError(kContext, "Internal error: error while setting PlotTextFileOutTie id");
        return failSection(loader, owner);
    }
    tie->setTimeout(timeoutOf(section));
    tie->setMinWriteInterval(intervalOf(section));
    if (!readOutChildren(loader, section, tie))
        return failSection(loader, owner);
    loader.addTie(owner.release());
    return true;
}
