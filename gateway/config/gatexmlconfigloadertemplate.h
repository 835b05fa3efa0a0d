#ifndef GATEXMLCONFIGLOADERTEMPLATE_H
#define GATEXMLCONFIGLOADERTEMPLATE_H

#include "config/sectionrecord.h"

#include <qtemplatexmlgeneralconf.h>

#include <QDomElement>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class BaseTie;
class BaseTieParam;
class BaseTieUnit;
class CsvTieUnit;
class DefTieUnit;
class GateConfig;

// The parts of the configuration language that every tie section shares:
// identifiers, switches, time points, parameter lists, definition areas and
// the attribute vocabularies. Section readers of the tie families build their
// ties through it; everything built goes into the configuration object (not
// owned by the loader), which owns it from then on.
class GateXmlConfigLoaderTemplate : public QTemplateXmlGeneralConf
{
    Q_OBJECT
public:
    explicit GateXmlConfigLoaderTemplate(GateConfig &config, QObject *parent = nullptr);
    ~GateXmlConfigLoaderTemplate() override;

    // The configuration being filled.
    GateConfig &config() const { return m_config; }

    // Stores the section's `id` attribute (empty when absent) as the tie's
    // identifier; false only for a null tie.
    bool parseTieID(const QDomElement &section, BaseTie *tie);
    // Fills the tie's switch from `switchparam`, `switchcondition` and
    // `switchtype`; false (with the error reported) when the parameter is
    // unknown or a keyword is wrong. A switch parameter without a condition
    // is reported as a warning when the type would keep the output closed.
    bool parseSwitch(const QDomElement &section, BaseTie *tie);
    // Fills the unit's time point from `timepoint`, `timepointtype` and
    // `timepointupdate`; false (reported) when the parameter is unknown or a
    // keyword is wrong.
    bool setTimePoint(const QDomElement &element, BaseTieUnit *unit);
    // Loads the parameter list named by a `csvlist`-like element into `unit`
    // (which already belongs to its tie) and reads its direction, element
    // size and time point; false (reported) on any error, a column number
    // outside -1..INT_MAX included.
    bool parseCsvlist(const QDomElement &element, CsvTieUnit *unit, quint32 checkIdMethod = 5, quint32 flags = 0);
    // Loads the definition file named by a `defarea` element into `unit` and
    // builds its parameters; false (reported) on any error.
    bool parseDefarea(const QDomElement &element, DefTieUnit *unit);

    // Appends `tie` to the configuration's tie list (ownership passes to it);
    // an identifier an earlier tie has already is reported as a warning.
    void addTie(BaseTie *tie);
    // Ends a section reader with its verdict `complete`, taking the tie
    // (ownership passes to the configuration either way): a complete
    // section's tie is listed; a failed one's is not, but the provider index
    // may already point at its parameters, so the configuration keeps it
    // alive as a child until it goes itself. Returns `complete`.
    bool finishSection(BaseTie *tie, bool complete);
    // Merges the unit's parameters into the provider index when its
    // direction is exactly "in" (1), or whatever it is when `always`.
    void mergeProviders(BaseTieUnit *unit, bool always = false);
    // Warns about every parameter of `unit` whose type the tie of section
    // `section` does not take (`takes` false): "... has type T, which
    // `consequence`". Such a parameter stays invalid, unsaid otherwise.
    static void warnUntakenTypes(const BaseTieUnit *unit, bool (*takes)(quint32), const char *section,
                                 const char *consequence);
    // `path` resolved against the configuration file's directory.
    QString confPath(const QString &path) const;

    // Notes that the section being read reads the file at `path` (call it
    // just before the reading): a later load builds the section's tie anew
    // when the file has changed. parseCsvlist() and parseDefarea() note
    // their files themselves.
    void noteFile(const QString &path);
    // Runs `action`, which starts the traffic of the tie being built
    // (connecting, opening queues), at once; while the loader builds a
    // configuration beside a running one, only when that configuration is
    // put in its place (and never when it is not).
    void startWhenApplied(std::function<void()> action);
    // True while the loader builds a configuration beside a running one.
    bool buildsBeside() const { return m_beside; }

    // Reads the unsigned C-notation integer attribute `name` of `element`
    // into `value`: `def` when the attribute is absent or empty. False,
    // reported on both channels naming the attribute, its element and its
    // text, when the text is not such a number or lies outside
    // `minValue`..`maxValue` (nothing wraps, nothing falls back silently);
    // `value` is then unchanged.
    static bool readUnsignedAttr(const QDomElement &element, const char *name, quint64 def, quint64 minValue,
                                 quint64 maxValue, quint64 &value);
    // The same for a signed integer.
    static bool readSignedAttr(const QDomElement &element, const char *name, qint64 def, qint64 minValue,
                               qint64 maxValue, qint64 &value);
    // readUnsignedAttr() into a 32-bit field, within 0..`maxValue`.
    static bool readUInt32Attr(const QDomElement &element, const char *name, quint32 def, quint32 &value,
                               quint32 maxValue = 0xFFFFFFFFu);

    // Unit direction: in/input 1, out/output 2, both/io/inout 3, else 0
    // (with a warning when the value is not empty: it is neither read nor
    // written).
    static int parseDirection(const QDomElement &element, const QString &attribute);
    // Element size: mixed 0, byte 1, word 2, dword 4 (default), qword 8, else 0.
    static int parseElementSize(const QDomElement &element, const QString &attribute);
    // Switch type code; `def` when absent or empty; -1 (with a warning) when unknown.
    static int parseSwitchType(const QDomElement &element, const QString &attribute, int def);
    // Switch condition bits; `def` when absent or empty; all bits (with a
    // warning) when a piece is unknown.
    static quint64 parseSwitchCondition(const QDomElement &element, const QString &attribute, quint64 def);
    // Time point encoding code for a keyword; -1 when unknown.
    static int timePointTypeFromString(const QString &keyword);
    // Time point update mode for a keyword; -1 when unknown.
    static int timePointUpdateFromString(const QString &keyword);
    // Splits at ":" (empty pieces dropped); a backslash escapes the next
    // character, and a backslash ending a piece keeps the colon that follows.
    static QStringList splitEscapedList(const QString &text);

protected:
    // Only a regular file, opened without waiting: a FIFO or device at the
    // configuration's path would hold the start, or a reload, for ever.
    // The reason of a refusal is warned before the loader's own message.
    bool openConfFile(QFile &file) const override;

    // The record of the section being read, or null while none is recorded.
    SectionRecord *m_section = nullptr;
    bool m_beside = false;
    // Starts held while building beside a running configuration.
    QVector<std::function<void()>> m_starts;

private:
    // Notes a use of the provider index in the section's record.
    void noteIndexUse(SectionRecord::IndexUse::Kind kind, BaseTieUnit *unit, const QString &name);

    GateConfig &m_config;
};

#endif // GATEXMLCONFIGLOADERTEMPLATE_H
