#ifndef FERROXXMLCONFIG_H
#define FERROXXMLCONFIG_H

#include "config/gatexmlconfigloadertemplate.h"
#include "config/sectionrecord.h"
#include "core/gateconfig.h"

#include <QDomNode>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
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
    // Makes `language` the process-wide language and loads its translation
    // into the translator installed at the first load (a reload that names
    // another language).
    static void switchLanguage(const QString &language);

    // Where the record of every tie of the configuration goes (not owned;
    // null, as built: none are kept).
    void setRecords(SectionRecords *records) { m_records = records; }
    // Builds the configuration beside a running one whose ties have the
    // records `running` (not owned). A section whose element digest and
    // files still match the record of a running tie of its tag that no
    // earlier section took enters that very tie instead of building a new
    // one; the uses of the provider index its section made are replayed in
    // order, so the index comes out as a new build would make it. When a
    // name its switch or a time point looked up is not found any more, the
    // section is built anew (and fails as a start would). Nothing
    // process-wide changes: language, translator and log file stay,
    // consumers are not bound, new ties do not start their traffic. The
    // caller puts the result in place (GateConfig::replaceWith, then
    // repointKeptTies() and startNewTies()) or drops it.
    void buildBeside(const SectionRecords *running);
    // The running ties the configuration took over, in its order.
    const QList<BaseTie *> &keptTies() const { return m_kept; }
    // Points the switches and time points of the kept ties at the
    // parameters the new configuration holds under their names.
    void repointKeptTies();
    // Starts the traffic of the ties built (the actions startWhenApplied() held).
    void startNewTies();
    // The language the configuration names (the system locale's when it
    // names none) and the log file it names (resolved; empty when none).
    QString configuredLanguage() const { return m_language; }
    QString configuredLogFile() const { return m_logFile; }

    // After a load: the section tag that built each tie of the
    // configuration, by the tie's index.
    QStringList tieSections() const { return m_tieSections; }
    // The metrics file of the `misc` element `metrics` (resolved against the
    // configuration's directory), empty when none is set, and how often it
    // is written (milliseconds).
    QString metricsFile() const { return m_metricsFile; }
    quint32 metricsIntervalMs() const { return m_metricsIntervalMs; }

private:
    // A switch or time point of a kept tie and the parameter it is to read.
    struct Repoint {
        BaseTie *tie = nullptr;
        SectionRecord::IndexUse use;
        BaseTieParam *param = nullptr;
    };

    // Reads the `misc` section; false (reported) when a number in it is out of range.
    bool parseMisc(const QDomElement &misc);
    void installTranslator();
    // Stores the language of the configuration (also process-wide unless
    // building beside a running one).
    void takeLanguage(const QString &language);
    // Reads one section (the `position`th child element of the root) with
    // `reader`, or takes over the running tie it would build again.
    bool readSection(SectionReader reader, const QDomElement &section, int position);
    // Takes over a running tie whose record matches `fresh`; false when none does.
    bool keepRunningTie(const SectionRecord &fresh);
    // Replays the index uses of `record` for `tie`; false, with the index as
    // before, when a name is not found.
    bool replayIndexUses(BaseTie *tie, const SectionRecord &record);

    GateConfig::ConverterFactory m_makeConverter;
    SectionTable m_sections;
    QStringList m_tieSections;
    QString m_metricsFile;
    quint32 m_metricsIntervalMs = 5000;
    SectionRecords *m_records = nullptr;
    const SectionRecords *m_running = nullptr;
    // Running ties not taken yet, by element digest, in their order.
    QHash<QByteArray, QList<BaseTie *>> m_candidates;
    QList<BaseTie *> m_kept;
    QVector<Repoint> m_repoints;
    QString m_language;
    QString m_logFile;
};

#endif // FERROXXMLCONFIG_H
