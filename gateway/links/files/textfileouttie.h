#ifndef TEXTFILEOUTTIE_H
#define TEXTFILEOUTTIE_H

#include "core/repeatedmessage.h"
#include "links/files/basefileouttie.h"
#include "links/files/outfieldformat.h"

#include <QVector>

class BaseTieParam;
class BaseTieUnit;
class QTextStream;

// Appends a record of the current values of all its units to its output
// files whenever a unit changed: optionally a line with the record's
// seconds since midnight, then one line per parameter with the configured
// columns. Output is gated by the tie's switch and spaced by the least
// write interval, or, with time-point synchronisation, written once the
// values of a time point are complete. Records are told apart by their
// whole second, as the seconds line shows them: values updated within the
// second of the last record belong to that record, so a file never gets
// two records of one second (a least interval of 0 gives one per second).
//
// A dirty unit whose record cannot be written yet (interval not reached,
// switch closed, a file not writable) stays dirty, so the record is tried
// again on every send pass and written as soon as it can be, with the
// values current then. Each file remembers the newest record it holds: a
// retry after a partial failure writes only the files that lack it, and a
// unit is marked sent once every file holds its values. A file that cannot
// be written is warned about and logged once per streak of failures.
class TextFileOutTie : public BaseFileOutTie
{
    Q_OBJECT
public:
    explicit TextFileOutTie(QObject *parent = nullptr);
    ~TextFileOutTie() override;

    // Always 0 (OK).
    qint32 state() const override;
    // True while an output file cannot be written.
    bool deliveryFailing() const override;
    // Writes a record for the dirty `unit` when one is due; true when a
    // record was written to every file.
    bool sendUnitData(BaseTieUnit *unit) override;
    // The send pass; a record that could not be written is tried again in
    // the next pass, not once more for every other dirty unit of this one.
    void sendDirty() override;
    // After the last send pass: the record still owed (not yet due by the
    // interval, or a time point not yet complete) is written now, so that
    // the file ends with the values the tie was given.
    void drain() override;
    // After a reload that changed the section: what the predecessor wrote
    // last (to the files both name at the same position) still counts, so
    // that the interval holds and no second of it gets a second record.
    void takeOver(BaseTie &predecessor) override;
    // With time-point synchronisation: writes the record of the previous
    // time point before values of a newer one are converted into `unit`.
    void doWorkBeforeConvertFrom(BaseTieUnit *unit, BaseTieUnit *providerUnit) override;
    // Appends `unit` (ownership passes to the tie).
    void addUnit(BaseTieUnit *unit);
    // Called before a record goes to output file `position`, named
    // `fileName` (its date already filled in); base: nothing.
    virtual void beforeWriteToFile(int position, const QString &fileName);

    // Writes one record to every file that does not hold it yet; true when
    // all files hold it. False, with nothing marked sent, while the switch
    // is closed, when no unit was ever updated, or when a file could not be
    // written (now or earlier in this send pass: it is not tried again).
    bool writeData();
    // The record at `recordTime` as text: the lines every file gets.
    QString recordText(const QDateTime &recordTime) const;
    // True when every output file holds a record at least as new as `dt`.
    bool recordWritten(const QDateTime &dt) const;

    bool writeInvalid() const { return m_writeInvalid; }
    void setWriteInvalid(bool write) { m_writeInvalid = write; }
    // Time of the newest record written (to at least one file); invalid until then.
    QDateTime lastWritten() const { return m_lastWritten; }
    const QVector<OutFieldFormat::Column> &columns() const { return m_columns; }
    // An empty list means the default columns.
    void setColumns(const QVector<OutFieldFormat::Column> &columns);
    QString validString() const { return m_validString; }
    void setValidString(const QString &text) { m_validString = text; }
    QString invalidString() const { return m_invalidString; }
    void setInvalidString(const QString &text) { m_invalidString = text; }
    bool secondsLine() const { return m_secondsLine; }
    void setSecondsLine(bool write) { m_secondsLine = write; }
    bool syncByTimePoint() const { return m_syncByTimePoint; }
    void setSyncByTimePoint(bool sync) { m_syncByTimePoint = sync; }
    // Least time between two records, in seconds.
    quint32 minWriteInterval() const { return m_minWriteInterval; }
    void setMinWriteInterval(quint32 secs) { m_minWriteInterval = secs; }
    // Field delimiter: 0 comma, 1 semicolon (default), 2 tab, 3 blank. Any
    // other kind is refused with the warning "Unknown field delimiter type".
    qint32 delimiterKind() const { return m_delimiterKind; }
    void setDelimiterKind(qint32 kind);
    QChar delimiter() const;

protected:
    // The position at which `other` wrote to the file name of this tie's
    // output `position`; -1 when it had no such file. A reload may reorder,
    // add or drop names.
    int positionIn(const TextFileOutTie &other, int position) const;

private:
    // Writes the line of `param`.
    void writeLine(QTextStream &out, const BaseTieParam *param) const;
    // Writes a text field, quoted when it holds the delimiter.
    void writeText(QTextStream &out, const QString &text) const;
    // `text`, quoted (CSV style) when it holds the delimiter, so that a line
    // always keeps its number of fields.
    QString quoted(const QString &text) const;
    // Marks sent every unit whose values the record at `recordTime` holds.
    void markWritten(const QDateTime &recordTime);
    // After a step back of the clock the newest record lies ahead of it, and
    // would hold back every update until the clock caught up: the records
    // written are then forgotten, so the next one is due at once.
    void forgetRecordsAheadOf(const QDateTime &now);
    // True when a value updated at `dt` is not in the newest record although
    // `dt` lies at or before its second: it was updated later within that
    // second, or after the record was written ahead of the clock (a drain
    // dates an owed record into the next second at once). Such a value goes
    // into a record of the next second.
    bool afterNewestRecord(const QDateTime &dt) const;

    bool m_writeInvalid;
    QDateTime m_lastWritten;
    QDateTime m_lastWrittenAt; // the clock when the newest record was written
    QVector<OutFieldFormat::Column> m_columns;
    QString m_validString;
    QString m_invalidString;
    bool m_secondsLine;
    bool m_syncByTimePoint;
    quint32 m_minWriteInterval;
    qint32 m_delimiterKind;
    // Per output file: the newest record it holds, and its write fault.
    QVector<QDateTime> m_fileWritten;
    QVector<RepeatedMessage> m_fileFaults;
    bool m_failedThisPass = false; // a record failed since the last send pass ended
};

#endif // TEXTFILEOUTTIE_H
