#ifndef BASEFILEINTIE_H
#define BASEFILEINTIE_H

#include "core/basetie.h"
#include "links/files/fileidentity.h"

#include <csvfunctions.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QFile;
class QTextCodec;

// A tie that reads values from a text file another program writes. It keeps
// the file name, the byte position at which the next poll starts reading,
// the time of the current poll and the line dialect; the file is opened and
// closed on every poll, so the writer may replace it at any time.
//
// Between polls it also remembers which file it read (device and inode) and
// the bytes just before the read position, so that a file rewritten or
// replaced since is read from its start instead of from an old position,
// and when the file last changed, so that a last line still being written
// is not taken half.
class BaseFileInTie : public BaseTie
{
    Q_OBJECT
public:
    explicit BaseFileInTie(QObject *parent = nullptr);
    ~BaseFileInTie() override;

    // After a reload that changed the section: a predecessor that read the
    // same file hands on where it stood, so that the file's earlier blocks
    // are not read again as new values.
    void takeOver(BaseTie &predecessor) override;
    // The file it reads: among inputs without ids, the one that read the
    // same file is the predecessor.
    QStringList successionKeys() const override;

    // Path of the input file, as configured (relative to the working directory).
    QString fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    // Byte offset at which the next poll starts (0 when built).
    qint64 readPosition() const { return m_readPosition; }
    void setReadPosition(qint64 pos) { m_readPosition = pos; }
    // Byte offset at which the records of the last pass began (after its
    // marker line); a poll that finds nothing added reads from here again.
    qint64 passStart() const { return m_passStart; }
    // Byte offset just after the last marker line a poll stepped over, -1
    // when none: a pass starting there opens a block, even when its records
    // came only at a later poll than the marker.
    qint64 markerEnd() const { return m_markerEnd; }
    void setMarkerEnd(qint64 pos) { m_markerEnd = pos; }
    // UTC time of the current (or last) poll.
    QDateTime pollTime() const { return m_pollTime; }
    // Line dialect of the file (semicolon-separated).
    LoadSaveTableFileType dialect() const { return m_dialect; }
    // Codec of the file (not owned); null means the locale's codec.
    QTextCodec *codec() const { return m_codec; }
    void setCodec(QTextCodec *codec) { m_codec = codec; }

protected:
    // What one poll saw of the open input file.
    struct InputState {
        qint64 size = 0;
        qint64 modifiedNs = 0; // last modification, nanoseconds since the epoch
        FileIdentity identity;
    };

    void setPollTime(const QDateTime &dt) { m_pollTime = dt; }
    void setPassStart(qint64 pos) { m_passStart = pos; }
    // Opens the input file for reading into `file` and describes it in
    // `state`. Only a regular file is opened: the name is opened without
    // blocking and checked on the open descriptor, so a FIFO or a device
    // there can never stall the main cycle. False, with the reason in
    // `reason`, when the file is missing, unreadable or not a regular file.
    bool openInput(QFile &file, InputState *state, QString *reason) const;
    // True when reading `file` (open, `size` bytes) may start at byte
    // `pos`: the start, or a line start inside the file. A position past
    // the end or inside a line means the file was replaced.
    static bool canStartAt(QFile &file, qint64 size, qint64 pos);
    // True when `file` is the file the last pass read and still holds the
    // bytes that stood just before the read position then; false for
    // another file (deleted and made anew, renamed over) or for one whose
    // content before the position was rewritten: it is read from its start.
    bool continuesFromBefore(QFile &file, const InputState &state) const;
    // Remembers `state`'s file and the bytes before the read position, for
    // continuesFromBefore() at the next poll.
    void rememberPosition(QFile &file, const InputState &state);
    // True when the last line of `file` has no line end yet and the file
    // changed less than the tie's data timeout ago: its writer may still be
    // writing it, so this poll leaves that line unread. Such a line is taken
    // once the file has stood unchanged for the data timeout, never while it
    // keeps changing. A last byte that cannot be read (the file got shorter
    // since `state` was taken) counts as unsettled too. Called once per poll
    // that opened the file; it also notes when the file last changed.
    bool lastLineUnsettled(QFile &file, const InputState &state);
    // How long, at the last lastLineUnsettled(), the last line had been
    // found unsettled at every poll in a row; 0 when it was not unsettled.
    qint64 unsettledForMs() const { return m_unsettledForMs; }

private:
    QString m_fileName;
    qint64 m_readPosition;
    qint64 m_passStart;
    qint64 m_markerEnd;
    QDateTime m_pollTime;
    LoadSaveTableFileType m_dialect;
    QTextCodec *m_codec;
    // The file of the last pass and the bytes before the read position.
    FileIdentity m_readIdentity;
    QByteArray m_bytesBeforePosition;
    // The file as the last poll saw it, and when (monotonic) it last changed.
    InputState m_seen;
    bool m_seenValid;
    qint64 m_changedAtMs;
    // Since when (monotonic) the last line is unsettled, -1 when it is not.
    qint64 m_unsettledSinceMs;
    qint64 m_unsettledForMs;
};

#endif // BASEFILEINTIE_H
