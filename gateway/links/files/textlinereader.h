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
    // Byte offset at which the line of the last fields returned begins.
    qint64 lineStart() const { return m_lineStart; }
    // True when the line of the last fields returned was longer than
    // MaxLineBytes: its fields come from its first MaxLineBytes bytes only.
    bool lastLineCut() const { return m_cut; }

private:
    // Reads one raw line into m_buffer (without its "\n"); false at the end.
    bool readRawLine();

    QIODevice *m_device;
    QTextCodec *m_codec;
    QByteArray m_buffer;
    int m_lineBytes;
    qint64 m_pos;
    qint64 m_lineStart;
    bool m_cut;
};

#endif // TEXTLINEREADER_H
