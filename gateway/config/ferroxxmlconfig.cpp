#include "config/ferroxxmlconfig.h"

#include "config/configreport.h"
#include "core/diag.h"
#include "core/gatelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomElement>
#include <QLocale>
#include <QTranslator>

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
        setLanguage(systemLocaleName());
        GATE_WARN("Warning loading config file: Can't get \"locale\" field of \"misc\" section, using system locale (%s)",
                  qUtf8Printable(language()));
    } else {
        const QString lang = getXMLAttrValue(locale, QStringLiteral("lang"));
        setLanguage(lang.isEmpty() ? systemLocaleName() : lang);
    }

    if (gateLogFileName().isEmpty()) {
        const QDomElement log = misc.firstChildElement(QStringLiteral("log"));
        const QString file = log.isNull() ? QString() : getXMLAttrValue(log, QStringLiteral("file"));
        if (file.isEmpty()) {
            // Also for a `log` element without a file: a directory as log file would lose every line.
            setGateLogFileName(defaultLogFile());
            GATE_WARN("Warning loading config file: Can't get \"log\" field of \"misc\" section, using default (%s)",
                      qUtf8Printable(gateLogFileName()));
        } else {
            setGateLogFileName(QDir::cleanPath(confPath(file)));
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
    return true;
}

void FerroxXmlConfig::installTranslator()
{
    if (g_translator || !QCoreApplication::instance())
        return;
    g_translator = new QTranslator(QCoreApplication::instance());
    const QString base = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ferrox_") + language());
    g_translator->load(base);
    QCoreApplication::installTranslator(g_translator);
}

bool FerroxXmlConfig::parseConfRoot(const QDomNode &root)
{
    const QDomElement misc = root.firstChildElement(QStringLiteral("misc"));
    if (misc.isNull()) {
        GATE_WARN("Warning loading config file: Can't get \"misc\" section, using default values");
        setLanguage(systemLocaleName());
        if (gateLogFileName().isEmpty()) {
            setGateLogFileName(defaultLogFile());
            GATE_WARN("Using logfile %s", qUtf8Printable(gateLogFileName()));
        }
    } else if (!parseMisc(misc)) {
        return false;
    }

    installTranslator();

    if (language().isEmpty())
        setLanguage(systemLocaleName());
    if (gateLogFileName().isEmpty()) {
        setGateLogFileName(defaultLogFile());
        GATE_WARN("Using logfile %s", qUtf8Printable(gateLogFileName()));
    }

    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement section = node.toElement();
        const QString tag = section.tagName();
        if (tag == QLatin1String("misc"))
            continue;
        const SectionReader reader = sectionReader(tag);
        if (!reader) {
            reportConfigError(kContext, "Error loading config: not supposed section \"%1\" occurred", {tag});
            return false;
        }
        if (!reader(*this, section))
            return false;
    }

    config().bind(m_makeConverter);
    return true;
}
