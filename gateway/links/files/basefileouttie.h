#ifndef BASEFILEOUTTIE_H
#define BASEFILEOUTTIE_H

#include "core/basetie.h"
#include "links/files/fileidentity.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

class QTextCodec;

// A tie that appends records of its units' values to one or more text
// files. It keeps the file names, which may carry "%1" for the record's
// date (daily files), the date form and the zone (UTC or local) in which
// records are stamped.
class BaseFileOutTie : public BaseTie
{
    Q_OBJECT
public:
    // How "%1" in a file name shows the date when no pattern is set.
    enum DateKind : qint32 {
        dkText = 0,  // the framework's text date form
        dkIso = 1,   // yyyy-MM-dd
        dkLocale = 2 // the system locale's short date form ("/" written as "-")
    };

    explicit BaseFileOutTie(QObject *parent = nullptr);
    ~BaseFileOutTie() override;

    // Output file names, as configured (relative to the working directory).
    QStringList fileNames() const { return m_fileNames; }
    void setFileNames(const QStringList &names) { m_fileNames = names; }
    // Every output file it writes: two ties appending to one file mix
    // their records.
    QStringList exclusiveClaims() const override;
    // True: records are stamped in UTC (default); false: in local time.
    bool zoneUtc() const { return m_zoneUtc; }
    void setZoneUtc(bool utc) { m_zoneUtc = utc; }
    qint32 dateKind() const { return m_dateKind; }
    void setDateKind(qint32 kind) { m_dateKind = kind; }
    // A date pattern (yyyy, MM, dd ...); when not empty it wins over the kind.
    QString datePattern() const { return m_datePattern; }
    void setDatePattern(const QString &pattern) { m_datePattern = pattern; }
    // Codec of the files (not owned); null means the locale's codec.
    QTextCodec *codec() const { return m_codec; }
    void setCodec(QTextCodec *codec) { m_codec = codec; }

    // The time of a record: the latest last-updated time among the units,
    // but never ahead of the clock (updates from before a step back of it
    // are), in the tie's zone; invalid when no unit has one.
    QDateTime recordTime() const;
    // `date` as file names carry it: by the pattern, else by the kind.
    QString dateText(const QDate &date) const;
    // Name of output file `position` for a record at `recordTime` ("%1"
    // replaced by its date); empty for a position out of range.
    QString fileNameFor(int position, const QDateTime &recordTime) const;

protected:
    // `text` in the files' codec.
    QByteArray encode(const QString &text) const;
    // Appends `bytes` to the file at `path` (created when missing) with one
    // unbuffered write. False, with the system's reason in `error` (when not
    // null), when the file cannot be opened, is not a regular file (a FIFO
    // there is never waited for), or cannot be written whole (a full disk, a
    // size limit): the file is then cut back to its size before the write,
    // so it never ends in half a record and the next record is never glued
    // to one. `identity` (when not null) receives the file written to.
    static bool appendToFile(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                             FileIdentity *identity = nullptr);

private:
    QStringList m_fileNames;
    bool m_zoneUtc;
    qint32 m_dateKind;
    QString m_datePattern;
    QTextCodec *m_codec;
};

#endif // BASEFILEOUTTIE_H
