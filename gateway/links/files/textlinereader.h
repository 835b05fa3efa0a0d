#ifndef TEXTLINEREADER_H
#define TEXTLINEREADER_H

#include <csvfunctions.h>

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

class QIODevice;
class QTextCodec;

// Reads the lines of a text file one after the other and splits them into
// fields, keeping the exact byte offset after the last line read (a text
// stream's position is costly to ask for on every line). Lines end at "\n";
// a "\r" before it is dropped with the field trimming. Every line is decoded
// with the codec on its own, which is exact for the byte-oriented encodings
// text files use.
//
// A separator that ends a line still separates: "ID;" gives the fields "ID"
// and "", so only a line without any separator outside quotes has a single
// field. A line longer than MaxLineBytes is consumed whole, but only its
// first MaxLineBytes bytes are split; lastLineCut() tells the caller that
// the fields it got are those of a cut line.
//
// Without an end the reader reads to the end of the data and takes a last
// line without line end as a line. With an end (setEnd()) it never reads
// past it, and a line without line end is taken only when it reaches the
// end and the caller allowed it; otherwise it is left unread and
// openLineLeft() says so.
class TextLineReader
{
public:
    // Longest line kept whole.
    static constexpr int MaxLineBytes = 1024 * 1024;

    // Reads `device` (open for reading, not owned) from byte `start` on;
    // `codec` (not owned) decodes the lines, null means the locale's codec.
    TextLineReader(QIODevice *device, qint64 start, QTextCodec *codec);

    // Moves to byte `start`; false when the device cannot seek there.
    bool restart(qint64 start);
    // Reads no byte at or past `end` (the size the caller checked). A last
    // line without line end that reaches `end` is taken only when
    // `takeOpenLine` is set; one that stops short of it (the data got
    // shorter since the check) never is.
    void setEnd(qint64 end, bool takeOpenLine);
    // Reads lines until one yields at least one field in dialect `type` and
    // returns its fields; an empty list once the data end.
    QStringList nextFields(LoadSaveTableFileType type);
    // Byte offset just after the last line read.
    qint64 pos() const { return m_pos; }
    // Byte offset at which the line of the last fields returned begins.
    qint64 lineStart() const { return m_lineStart; }
    // True when the line of the last fields returned was longer than
    // MaxLineBytes: its fields come from its first MaxLineBytes bytes only.
    bool lastLineCut() const { return m_cut; }
    // True when the last nextFields() stopped at a line without line end
    // that it did not take; pos() is then that line's start.
    bool openLineLeft() const { return m_openLeft; }
    // True once a read of a file failed (an I/O error) since the last
    // restart: the lines ended there, not at the end of the data.
    bool readFailed() const { return m_failed; }
    // The system's error number of that failure (0 when not known).
    int readError() const { return m_error; }

private:
    // Reads one raw line into m_buffer (without its "\n"); false at the end.
    bool readRawLine();
    // Reads at most `space` - 1 bytes of the current line to `to`, none at
    // or past the end; `ended` tells whether the line can have no more bytes.
    qint64 readPiece(char *to, qint64 space, bool *ended);
    // The line read so far has no line end and nothing follows it: true when
    // it is taken, else the reader goes back to its start.
    bool takeOpenLine();

    QIODevice *m_device;
    QTextCodec *m_codec;
    QByteArray m_buffer;
    int m_lineBytes;
    qint64 m_pos;
    qint64 m_lineStart;
    qint64 m_end; // -1: no end
    bool m_takeOpenLine;
    bool m_cut;
    bool m_openLeft;
    bool m_failed;
    int m_error;
};

#endif // TEXTLINEREADER_H
