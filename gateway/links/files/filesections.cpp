#include "links/files/filesections.h"

#include "config/configreport.h"
#include "config/csvtieunit.h"
#include "config/gatexmlconfigloadertemplate.h"
#include "core/basetieunit.h"
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

// The messages of one kind of file section.
struct SectionTexts {
    const char *fileTag;        // "infile" or "outfile"
    const char *listsFirst;     // a list after the file, or no list at all
    const char *fileAfterLists; // the file before the lists, twice, or missing
    const char *listWarning;    // a list that failed to load: the warning
    const char *listLog;        // ... and its log line
};

const SectionTexts kInTexts = {
    "infile",
    "Error loading config: one or more \"csvlist\" tag should be at start of section \"textfilein\"",
    "Error loading config: a \"infile\" tag should be just after \"csvlist\" in section \"textfilein\"",
    "Error loading config: Error loading csvlist for section textfilein",
    "Error loading config: Error parsing csvlist for section textfilein",
};

// The plot section reports with the same texts.
const SectionTexts kOutTexts = {
    "outfile",
    "Error loading config: one or more \"csvlist\" tag should be at start of section \"textfileout\"",
    "Error loading config: a \"outfile\" tag should be just after \"csvlist\" in section \"textfileout\"",
    "Error loading config: Error loading csvlist for section ",
    "Error loading config: Error parsing csvlist for section ",
};

QString attr(const QDomElement &element, const char *name)
{
    return QXmlBasedObject::getXMLAttrValue(element, QLatin1String(name));
}

// Sets the tie's identifier and data timeout from the section; false
// (reported with `idError`) when the identifier cannot be set, or (reported
// by the reader) when the timeout is not a number of 32 bits.
bool readTieBasics(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, BaseTie *tie, const char *idError)
{
    if (!loader.parseTieID(section, tie)) {
        reportConfigError(kContext, idError);
        return false;
    }
    quint32 timeout = 3000;
    if (!GateXmlConfigLoaderTemplate::readUInt32Attr(section, "timeout", 3000, timeout))
        return false;
    tie->setTimeout(timeout);
    return true;
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

// Walks the section's children: one or more `csvlist` first, then exactly
// one file element, read by `readFile(element)`; other elements are
// skipped. False (reported) when the order is wrong or a child fails.
template<typename Tie, typename ReadFile>
bool readChildren(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, Tie *tie,
                  const SectionTexts &texts, ReadFile readFile)
{
    int phase = phNothing;
    for (QDomElement child = section.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("csvlist")) {
            if (phase == phFile) {
                reportConfigError(kContext, texts.listsFirst);
                return false;
            }
            if (!readList(loader, child, tie)) {
                reportConfigError(kContext, texts.listWarning, texts.listLog);
                return false;
            }
            phase = phLists;
        } else if (tag == QLatin1String(texts.fileTag)) {
            if (phase != phLists) {
                reportConfigError(kContext, texts.fileAfterLists);
                return false;
            }
            if (!readFile(child))
                return false;
            phase = phFile;
        }
    }
    if (phase != phFile) {
        reportConfigError(kContext, phase == phNothing ? texts.listsFirst : texts.fileAfterLists);
        return false;
    }
    return true;
}

// The `infile` element into `tie`; false (reported) for an empty file name.
bool readInFile(const QDomElement &infile, TextFileInTie *tie)
{
    const QStringList names = GateXmlConfigLoaderTemplate::splitEscapedList(attr(infile, "filename"));
    if (names.isEmpty()) {
        reportConfigError(kContext,
                          "Error loading config: empty \"filename\" attribute of \"infile\" tag in section \"textfilein\"");
        return false;
    }
    tie->setFileName(names.first());
    tie->setReadPosition(0);
    return true;
}

// The `outfile` element into `tie`; false (reported) for an empty file
// name or a zone other than UTC or local.
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

// The attributes only the text output section has, in their order, and its switch.
bool readTextOutAttributes(GateXmlConfigLoaderTemplate &loader, const QDomElement &section, TextFileOutTie *tie)
{
    tie->setSyncByTimePoint(QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("syncbytimepoint"), false));
    quint32 interval = 1;
    if (!GateXmlConfigLoaderTemplate::readUInt32Attr(section, "minwriteinterval", 1, interval))
        return false;
    tie->setMinWriteInterval(interval);
    QStringList unknown;
    tie->setColumns(OutFieldFormat::parseColumns(attr(section, "outfields"), &unknown));
    if (!unknown.isEmpty())
        reportConfigError(kContext,
                          "Warning loading config file: \"outfields\" of section \"%1\" names no column %2: left out",
                          {section.tagName(), unknown.join(QStringLiteral(", "))});
    tie->setValidString(QXmlBasedObject::getXMLAttrValueDef(section, QStringLiteral("defvalidstring"), QStringLiteral("+")));
    tie->setInvalidString(
        QXmlBasedObject::getXMLAttrValueDef(section, QStringLiteral("definvalidstring"), QStringLiteral("-")));
    tie->setWriteInvalid(QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("writeinvalid"), false));
    if (!loader.parseSwitch(section, tie)) {
        reportConfigError(kContext, "Error loading config: error parsing \"switchparam\" tag of section \"%1\"",
                          {section.tagName()});
        return false;
    }
    return true;
}

} // namespace

bool readTextFileInSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    std::unique_ptr<BaseTie> owner(new TextFileInTie);
    auto *tie = static_cast<TextFileInTie *>(owner.get());
    bool ok = readTieBasics(loader, section, tie, "Internal error: error while setting TextFileInTie id");
    if (ok) {
        tie->setPrevForAbsent(QXmlBasedObject::getXMLBoolAttrDef(section, QStringLiteral("prevforabsent"), false));
        ok = readChildren(loader, section, tie, kInTexts,
                          [tie](const QDomElement &infile) { return readInFile(infile, tie); });
    }
    // A parameter of another type would stay invalid on every pass, which
    // is otherwise noted only at a debug level.
    for (const BaseTieUnit *unit : tie->units()) {
        if (ok && unit && (unit->direction() & BaseTieUnit::dirFromThis))
            GateXmlConfigLoaderTemplate::warnUntakenTypes(unit, &TextFileInTie::readsType, "textfilein",
                                                          "text input does not read");
    }
    return loader.finishSection(owner.release(), ok);
}

bool readTextFileOutSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    std::unique_ptr<BaseTie> owner(new TextFileOutTie);
    auto *tie = static_cast<TextFileOutTie *>(owner.get());
    const bool ok = readTieBasics(loader, section, tie, "Internal error: error while setting TextFileOutTie id")
        && readTextOutAttributes(loader, section, tie)
        && readChildren(loader, section, tie, kOutTexts,
                        [tie](const QDomElement &outfile) { return readOutFile(outfile, tie); });
    return loader.finishSection(owner.release(), ok);
}

bool readPlotTextFileOutSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    std::unique_ptr<BaseTie> owner(new PlotTextFileOutTie);
    auto *tie = static_cast<PlotTextFileOutTie *>(owner.get());
    bool ok = readTieBasics(loader, section, tie, "Internal error: error while setting PlotTextFileOutTie id");
    quint32 interval = 1;
    ok = ok && GateXmlConfigLoaderTemplate::readUInt32Attr(section, "minwriteinterval", 1, interval);
    if (ok) {
        tie->setMinWriteInterval(interval);
        ok = readChildren(loader, section, tie, kOutTexts,
                          [tie](const QDomElement &outfile) { return readOutFile(outfile, tie); });
    }
    return loader.finishSection(owner.release(), ok);
}
