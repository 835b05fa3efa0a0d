#ifndef TEXTFILEINTIE_H
#define TEXTFILEINTIE_H

#include "core/repeatedmessage.h"
#include "core/tieparamshash.h"
#include "links/files/basefileintie.h"

#include <QStringList>

class BaseTieParam;
class BaseTieUnit;
class TextLineReader;

// Reads "identifier;value" lines from a text file on every poll and converts
// its units. A line without a separator is a marker: a pass of reading ends
// at it, and the next pass starts after it, so that a writer appending a
// marker and new records gets exactly those records read; when nothing was
// appended the next poll reads the last pass again. A file that was
// replaced or rewritten since the last poll is read from its start. Values
// of the types FLOATVALID, SDWORDVALID, FLOATSTATE and SDWORDSTATE are
// understood; a record whose value does not parse ("ID;" included) stores
// the invalid form of its type.
//
// A last line without line end is left unread while the file keeps
// changing (its writer may be in the middle of it) and taken once the file
// stood still for the data timeout; the complete lines before it are read.
//
// Faults that persist from poll to poll (the file missing, unreadable or not
// a regular file; over-long lines; a last line that never ends) are warned
// about and logged once per streak, and so are the debug notes of each pass (unknown identifiers,
// types without a text form, why no pass was read), at their debug levels.
class TextFileInTie : public BaseFileInTie
{
    Q_OBJECT
public:
    explicit TextFileInTie(QObject *parent = nullptr);
    ~TextFileInTie() override;

    // Reads the lines added since the last poll (or the last pass again, or
    // the whole file) into the parameters and converts every unit. When no
    // pass can be read (the file missing or not a regular file, empty,
    // without a record, or nothing but a last line still being written)
    // nothing is converted, except units that went stale, whose consumers
    // are invalidated.
    void pollAndConvert() override;
    // Always 0 (OK).
    qint32 state() const override;
    // Appends `unit` (ownership passes to the tie); the parameters of a
    // from-this unit join the tie's own index.
    void addUnit(BaseTieUnit *unit);

    // Whether a parameter the file does not mention keeps its previous
    // value (false: every pass starts from invalid values).
    bool prevForAbsent() const { return m_prevForAbsent; }
    void setPrevForAbsent(bool keep) { m_prevForAbsent = keep; }
    // Whether the file's records can be stored into a parameter of `type`
    // (the four types above).
    static bool readsType(quint32 type);
    // The tie's own index over the parameters of its from-this units.
    const TieParamsHash &ownIndex() const { return m_index; }
    // The parameter named `id` in the own index: ExtID, then IID, KKS and
    // RTM; the first kind that holds it decides. Null when none does.
    BaseTieParam *findParam(const QString &id) const;

private:
    // One kind of fault in the lines of a pass: how many lines had it and
    // the message of the first.
    struct LineFault {
        int count = 0;
        QString first;
    };
    struct PassFaults {
        LineFault emptyId;
        LineFault unknownId;
        LineFault noTextForm;
        LineFault overLong;
    };

    // Opens the file, decides where the pass starts and reads it; false
    // when there is no pass to convert.
    bool readPass();
    // Reads the pass of the open `file` into the parameters; false when
    // there is none.
    bool readLines(QFile &file, const InputState &state);
    // Where this poll's pass begins: on from the read position; when
    // nothing was added there, the block of the last pass again; else the
    // whole file. A marker at the start is stepped over. Returns the first
    // line's fields (empty when the pass has no line), sets `start`, and sets
    // `opensBlock` when the pass begins a block (at the start of the file or
    // after a marker) rather than continuing one.
    QStringList startOfPass(QFile &file, const InputState &state, TextLineReader &reader, qint64 *start,
                            bool *opensBlock);
    // Warns, once per streak, about a last line that has stayed without
    // line end for longer than the data timeout while the file kept
    // changing (`unsettled`); a settled or finished last line ends the streak.
    void reportOpenLastLine(bool unsettled);
    // True, with the fault reported once per streak and the read position
    // back at `start`, when a read of `file` failed during this pass.
    bool readFailed(const QFile &file, const TextLineReader &reader, qint64 start);
    // Stores the text `value` into the parameter named `id`.
    void storeValue(const QString &id, const QString &value, PassFaults &faults);
    // A line of the reader's that was longer than the reader keeps: its
    // parameter gets the invalid form.
    void skipOverLongLine(const QStringList &fields, qint64 lineStart, PassFaults &faults);
    // Reports the faults of a pass, one message per kind; kinds the pass
    // did not have end their streaks.
    void reportPassFaults(const PassFaults &faults);
    // Why this poll read no pass, for debug level `level` and above; "%1"
    // in `text` stands for the file name.
    void noteNoPass(quint32 level, const char *text);

    TieParamsHash m_index;
    bool m_prevForAbsent;
    RepeatedMessage m_openFault;
    RepeatedMessage m_readFault;
    RepeatedMessage m_noPassNote;
    RepeatedMessage m_overLongFault;
    RepeatedMessage m_openLastLineFault;
    RepeatedMessage m_emptyIdNote;
    RepeatedMessage m_unknownIdNote;
    RepeatedMessage m_noTextFormNote;
};

#endif // TEXTFILEINTIE_H
