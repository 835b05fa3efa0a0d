#ifndef BASEFILEINTIE_H
#define BASEFILEINTIE_H

#include "core/basetie.h"

#include <csvfunctions.h>

#include <QDateTime>
#include <QString>

class QFile;
class QTextCodec;

// A tie that reads values from a text file another program writes. It keeps
// the file name, the byte position at which the next poll starts reading,
// the time of the current poll and the line dialect; the file is opened and
// closed on every poll, so the writer may replace it at any time.
class BaseFileInTie : public BaseTie
{
    Q_OBJECT
public:
    explicit BaseFileInTie(QObject *parent = nullptr);
    ~BaseFileInTie() override;

    // Path of the input file, as configured (relative to the working directory).
    QString fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    // Byte offset at which the next poll starts (0 when built).
    qint64 readPosition() const { return m_readPosition; }
    void setReadPosition(qint64 pos) { m_readPosition = pos; }
    // Byte offset at which the records of the last pass began (after its
    // marker line); a poll that finds nothing added reads from here again.
    qint64 passStart() const { return m_passStart; }
    // UTC time of the current (or last) poll.
    QDateTime pollTime() const { return m_pollTime; }
    // Line dialect of the file (semicolon-separated).
    LoadSaveTableFileType dialect() const { return m_dialect; }
    // Codec of the file (not owned); null means the locale's codec.
    QTextCodec *codec() const { return m_codec; }
    void setCodec(QTextCodec *codec) { m_codec = codec; }

protected:
    void setPollTime(const QDateTime &dt) { m_pollTime = dt; }
    void setPassStart(qint64 pos) { m_passStart = pos; }
    // True when reading `file` (open, `size` bytes) may start at byte
    // `pos`: the start, or a line start inside the file. A position past
    // the end or inside a line means the file was replaced.
    static bool canStartAt(QFile &file, qint64 size, qint64 pos);
    // True when the last line of `file` has no line end yet and the file
    // changed since the previous poll: its writer is most likely still
    // writing it, so this poll should leave the file alone. A file whose
    // last line stays without line end is read at the next poll, so a
    // poll is put off at most once in a row.
    bool lastLineBeingWritten(QFile &file, qint64 size);

private:
    QString m_fileName;
    qint64 m_readPosition;
    qint64 m_passStart;
    QDateTime m_pollTime;
    LoadSaveTableFileType m_dialect;
    QTextCodec *m_codec;
    qint64 m_seenSize;
    bool m_putOff;
};

#endif // BASEFILEINTIE_H
