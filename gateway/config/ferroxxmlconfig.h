#ifndef FERROXXMLCONFIG_H
#define FERROXXMLCONFIG_H

#include "config/gatexmlconfigloadertemplate.h"
#include "core/gateconfig.h"

#include <QDomNode>
#include <QString>
#include <QVector>

// The gateway's configuration loader: reads the `misc` section, dispatches
// every tie section by its tag in document order, and finally binds every
// consumer to its provider with the given converter factory.
class FerroxXmlConfig : public GateXmlConfigLoaderTemplate
{
    Q_OBJECT
public:
    // A section reader: builds the section's tie into the loader's
    // configuration; false (reported) ends the load.
    using SectionReader = bool (*)(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);
    // One section tag and its reader.
    struct SectionEntry {
        const char *tag;
        SectionReader reader;
    };
    // Every section tag the loader accepts (besides `misc`), in the order
    // they are tested. The program hands its table to the loader, which
    // knows no tie family itself.
    using SectionTable = QVector<SectionEntry>;

    // `sections` is copied; `makeConverter` binds consumers after the load.
    FerroxXmlConfig(GateConfig &config, GateConfig::ConverterFactory makeConverter, const SectionTable &sections,
                    QObject *parent = nullptr);
    ~FerroxXmlConfig() override;

    // The whole load; false stops the application's start.
    bool parseConfRoot(const QDomNode &root) override;

    // The process-wide translation language set by the `misc` section.
    static QString language();
    static void setLanguage(const QString &language);
    // The reader of section `tag` in this loader's table, or null when the
    // tag is not a section.
    SectionReader sectionReader(const QString &tag) const;
    // A reader for the sections of tie families a build does not contain:
    // the load fails with a message that says so, instead of skipping them.
    static bool unavailableSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);
    // The default log file: "../log/ferrox.log" beside the program.
    static QString defaultLogFile();

private:
    // Reads the `misc` section; false (reported) when a number in it is out of range.
    bool parseMisc(const QDomElement &misc);
    void installTranslator();

    GateConfig::ConverterFactory m_makeConverter;
    SectionTable m_sections;
};

#endif // FERROXXMLCONFIG_H
