#include "config/ferroxxmlconfig.h"

#include "config/configreport.h"
#include "core/basetie.h"
#include "core/basetieunit.h"
#include "core/diag.h"
#include "core/gatelog.h"
#include "core/paramswitch.h"
#include "core/timepoint.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomElement>
#include <QLocale>
#include <QTranslator>

#include <algorithm>

namespace {

const char kContext[] = "FerroxXmlConfig";

QString g_language;
QTranslator *g_translator = nullptr;

QString systemLocaleName()
{
    return QLocale::system().name();
}

} // namespace

FerroxXmlConfig::FerroxXmlConfig(GateConfig &config, GateConfig::ConverterFactory makeConverter,
                                 const SectionTable &sections, QObject *parent)
    : GateXmlConfigLoaderTemplate(config, parent)
    , m_makeConverter(makeConverter)
    , m_sections(sections)
{
}

FerroxXmlConfig::~FerroxXmlConfig() = default;

QString FerroxXmlConfig::language()
{
    return g_language;
}

void FerroxXmlConfig::setLanguage(const QString &language)
{
    g_language = language;
}

FerroxXmlConfig::SectionReader FerroxXmlConfig::sectionReader(const QString &tag) const
{
    for (const SectionEntry &entry : m_sections) {
        if (tag == QLatin1String(entry.tag))
            return entry.reader;
    }
    return nullptr;
}

bool FerroxXmlConfig::unavailableSection(GateXmlConfigLoaderTemplate &, const QDomElement &section)
{
    reportConfigError(kContext, "Error loading config: section \"%1\" is not available in this build",
                      {section.tagName()});
    return false;
}

QString FerroxXmlConfig::defaultLogFile()
{
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../log/ferrox.log")));
}

bool FerroxXmlConfig::parseMisc(const QDomElement &misc)
{
    const QDomElement locale = misc.firstChildElement(QStringLiteral("locale"));
    if (locale.isNull()) {
        takeLanguage(systemLocaleName());
        GATE_WARN("Warning loading config file: Can't get \"locale\" field of \"misc\" section, using system locale (%s)",
                  qUtf8Printable(m_language));
    } else {
        const QString lang = getXMLAttrValue(locale, QStringLiteral("lang"));
        takeLanguage(lang.isEmpty() ? systemLocaleName() : lang);
    }

    const QDomElement log = misc.firstChildElement(QStringLiteral("log"));
    const QString file = log.isNull() ? QString() : getXMLAttrValue(log, QStringLiteral("file"));
    m_logFile = file.isEmpty() ? QString() : QDir::cleanPath(confPath(file));
    if (gateLogFileName().isEmpty() && !m_beside) {
        if (file.isEmpty()) {
            // Also for a `log` element without a file: a directory as log file would lose every line.
            setGateLogFileName(defaultLogFile());
            GATE_WARN("Warning loading config file: Can't get \"log\" field of \"misc\" section, using default (%s)",
                      qUtf8Printable(gateLogFileName()));
        } else {
            setGateLogFileName(m_logFile);
        }
    }

    const QDomElement times = misc.firstChildElement(QStringLiteral("times"));
    if (times.isNull()) {
        config().setMainCycle(1000);
        config().setTimeout(3000);
        GATE_WARN("Warning loading config file: Can't get \"times\" field of \"misc\" section, using default main cycle "
                  "(%u msec)",
                  1000u);
    } else {
        quint32 mainCycle = 1000;
        quint32 timeout = 3000;
        if (!readUInt32Attr(times, "maincycle", 1000, mainCycle) || !readUInt32Attr(times, "timeout", 3000, timeout))
            return false;
        config().setMainCycle(mainCycle);
        config().setTimeout(timeout);
    }

    // The metrics file for a textfile collector: off unless named.
    const QDomElement metrics = misc.firstChildElement(QStringLiteral("metrics"));
    if (!metrics.isNull()) {
        const QString file = getXMLAttrValue(metrics, QStringLiteral("file"));
        quint64 seconds = 5;
        if (!readUnsignedAttr(metrics, "interval", 5, 1, 3600, seconds))
            return false;
        if (file.isEmpty()) {
            reportConfigError(kContext, "Error loading config: \"metrics\" field of \"misc\" section names no file");
            return false;
        }
        m_metricsFile = QDir::cleanPath(confPath(file));
        m_metricsIntervalMs = quint32(seconds * 1000);
    }
    return true;
}

void FerroxXmlConfig::takeLanguage(const QString &language)
{
    m_language = language;
    if (!m_beside)
        setLanguage(language);
}

void FerroxXmlConfig::switchLanguage(const QString &language)
{
    setLanguage(language);
    if (g_translator)
        g_translator->load(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ferrox_") + language));
}

void FerroxXmlConfig::installTranslator()
{
    if (m_beside || g_translator || !QCoreApplication::instance())
        return;
    g_translator = new QTranslator(QCoreApplication::instance());
    const QString base = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ferrox_") + language());
    g_translator->load(base);
    QCoreApplication::installTranslator(g_translator);
}

bool FerroxXmlConfig::parseConfRoot(const QDomNode &root)
{
    const QDomElement misc = root.firstChildElement(QStringLiteral("misc"));
    m_logFile.clear();
    if (misc.isNull()) {
        GATE_WARN("Warning loading config file: Can't get \"misc\" section, using default values");
        takeLanguage(systemLocaleName());
        if (gateLogFileName().isEmpty() && !m_beside) {
            setGateLogFileName(defaultLogFile());
            GATE_WARN("Using logfile %s", qUtf8Printable(gateLogFileName()));
        }
    } else if (!parseMisc(misc)) {
        return false;
    }

    installTranslator();

    if (m_language.isEmpty())
        takeLanguage(systemLocaleName());
    if (gateLogFileName().isEmpty() && !m_beside) {
        setGateLogFileName(defaultLogFile());
        GATE_WARN("Using logfile %s", qUtf8Printable(gateLogFileName()));
    }

    // Ties that were in the configuration before this load have no tag here.
    m_tieSections.clear();
    while (m_tieSections.size() < config().ties().size())
        m_tieSections << QString();
    int position = 0;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        ++position;
        const QDomElement section = node.toElement();
        const QString tag = section.tagName();
        if (tag == QLatin1String("misc"))
            continue;
        const SectionReader reader = sectionReader(tag);
        if (!reader) {
            reportConfigError(kContext, "Error loading config: not supposed section \"%1\" occurred", {tag});
            return false;
        }
        const bool read = readSection(reader, section, position);
        while (m_tieSections.size() < config().ties().size())
            m_tieSections << tag;
        if (!read)
            return false;
    }

    if (!m_beside)
        config().bind(m_makeConverter);
    return true;
}

void FerroxXmlConfig::buildBeside(const SectionRecords *running)
{
    m_beside = true;
    m_running = running;
    m_candidates.clear();
    if (!running)
        return;
    for (auto it = running->cbegin(); it != running->cend(); ++it)
        m_candidates[it.value().elementDigest].append(it.key());
    for (QList<BaseTie *> &ties : m_candidates)
        std::sort(ties.begin(), ties.end(), [running](BaseTie *a, BaseTie *b) {
            return running->value(a).position < running->value(b).position;
        });
}

bool FerroxXmlConfig::readSection(SectionReader reader, const QDomElement &section, int position)
{
    SectionRecord record;
    record.tag = section.tagName();
    record.position = position;
    if (m_records || m_running)
        record.elementDigest = sectionElementDigest(section);
    if (m_running && keepRunningTie(record))
        return true;
    const int before = config().ties().size();
    m_section = m_records ? &record : nullptr;
    const bool ok = reader(*this, section);
    m_section = nullptr;
    if (ok && m_records && config().ties().size() == before + 1 && config().ties().last())
        m_records->insert(config().ties().last(), record);
    return ok;
}

bool FerroxXmlConfig::keepRunningTie(const SectionRecord &fresh)
{
    const auto found = m_candidates.find(fresh.elementDigest);
    if (found == m_candidates.end())
        return false;
    QList<BaseTie *> &candidates = found.value();
    for (int i = 0; i < candidates.size(); ++i) {
        BaseTie *tie = candidates.at(i);
        const SectionRecord old = m_running->value(tie);
        if (old.tag != fresh.tag || !old.filesUnchanged() || !replayIndexUses(tie, old))
            continue;
        candidates.removeAt(i);
        addTie(tie);
        m_kept.append(tie);
        if (m_records) {
            SectionRecord kept = old;
            kept.position = fresh.position;
            m_records->insert(tie, kept);
        }
        GATE_DEBUG(2, "FerroxXmlConfig::keepRunningTie(): section %i (%s) is unchanged, tie %p kept", fresh.position,
                   qUtf8Printable(fresh.tag), static_cast<void *>(tie));
        return true;
    }
    return false;
}

bool FerroxXmlConfig::replayIndexUses(BaseTie *tie, const SectionRecord &record)
{
    using Use = SectionRecord::IndexUse;
    const bool looksUp = std::any_of(record.indexUses.cbegin(), record.indexUses.cend(),
                                     [](const Use &use) { return use.kind != Use::Merge; });
    const TieParamsHash before = looksUp ? config().paramsHash() : TieParamsHash();
    QVector<Repoint> repoints;
    for (const Use &use : record.indexUses) {
        if (use.kind == Use::Merge) {
            if (use.unit)
                config().paramsHash().unite(use.unit->paramsHash());
            continue;
        }
        BaseTieParam *param = config().paramsHash().find(use.name);
        if (!param) {
            config().paramsHash() = before;
            return false;
        }
        repoints.append({tie, use, param});
    }
    m_repoints += repoints;
    return true;
}

void FerroxXmlConfig::repointKeptTies()
{
    for (const Repoint &r : qAsConst(m_repoints)) {
        if (r.use.kind == SectionRecord::IndexUse::SwitchParam)
            r.tie->paramsSwitch().setSwitchParam(r.param);
        else if (r.use.unit)
            r.use.unit->timePoint().setParam(r.param);
    }
    m_repoints.clear();
}

void FerroxXmlConfig::startNewTies()
{
    const QVector<std::function<void()>> starts = std::move(m_starts);
    m_starts.clear();
    for (const auto &start : starts)
        start();
}
