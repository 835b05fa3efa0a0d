#ifndef FERROXXMLCONFIG_H
#define FERROXXMLCONFIG_H

#include "config/gatexmlconfigloadertemplate.h"
#include "core/gateconfig.h"

#include <QDomNode>
#include <QString>

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

    FerroxXmlConfig(GateConfig &config, GateConfig::ConverterFactory makeConverter, QObject *parent = nullptr);
    ~FerroxXmlConfig() override;

    // The whole load; false stops the application's start.
    bool parseConfRoot(const QDomNode &root) override;

    // The process-wide translation language set by the `misc` section.
    static QString language();
    static void setLanguage(const QString &language);
    // The reader of section `tag`, or null when the tag is not a section.
    // Tags of tie families this build lacks get a reader that fails with a
    // clear message.
    static SectionReader sectionReader(const QString &tag);
    // The default log file: "../log/ferrox.log" beside the program.
    static QString defaultLogFile();

private:
    void parseMisc(const QDomElement &misc);
    void installTranslator();

    GateConfig::ConverterFactory m_makeConverter;
};

#endif // FERROXXMLCONFIG_H
