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
// text files use. A line longer than MaxLineBytes is cut there; the rest of
// it is consumed and ignored.
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
    // Reads lines until one yields at least one field in dialect `type` and
    // returns its fields; an empty list once the data end.
    QStringList nextFields(LoadSaveTableFileType type);
    // Byte offset just after the last line read.
    qint64 pos() const { return m_pos; }

private:
    // Reads one raw line into m_line (without its "\n"); false at the end.
    bool readRawLine();

    QIODevice *m_device;
    QTextCodec *m_codec;
    QByteArray m_buffer;
    int m_lineBytes;
    qint64 m_pos;
};

#endif // TEXTLINEREADER_H
