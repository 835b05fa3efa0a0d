#include "links/files/textlinereader.h"

#include <QFileDevice>
#include <QIODevice>
#include <QString>
#include <QTextCodec>

#include <cerrno>

namespace {

constexpr int kInitialBufferBytes = 4096;

// True when the bytes hold nothing but blanks, tabs and line ends: such a
// line has no field, and it is skipped without being decoded.
bool isBlank(const char *data, int size)
{
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

// The one character that separates fields in `type`; 0 for the blank
// dialect, where a line's trailing blanks are trimmed away anyway.
char separatorOf(LoadSaveTableFileType type)
{
    switch (type) {
    case CommaSeparated:
        return ',';
    case SemicolonSeparated:
        return ';';
    case TabSeparated:
        return '\t';
    case SpaceSeparated:
        break;
    }
    return 0;
}

// True when `text` holds `separator` outside double quotes.
bool hasUnquotedSeparator(const QString &text, char separator)
{
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char(separator))
            return true;
    }
    return false;
}

} // namespace

TextLineReader::TextLineReader(QIODevice *device, qint64 start, QTextCodec *codec)
    : m_device(device)
    , m_codec(codec ? codec : QTextCodec::codecForLocale())
    , m_buffer(kInitialBufferBytes, '\0')
    , m_lineBytes(0)
    , m_pos(0)
    , m_lineStart(0)
    , m_end(-1)
    , m_takeOpenLine(true)
    , m_cut(false)
    , m_openLeft(false)
    , m_failed(false)
    , m_error(0)
{
    restart(start);
}

bool TextLineReader::restart(qint64 start)
{
    m_lineBytes = 0;
    m_cut = false;
    m_failed = false;
    m_error = 0;
    m_openLeft = false;
    if (!m_device || !m_device->seek(start)) {
        m_pos = m_device ? m_device->pos() : 0;
        m_lineStart = m_pos;
        return false;
    }
    m_pos = start;
    m_lineStart = start;
    return true;
}

void TextLineReader::setEnd(qint64 end, bool takeOpenLine)
{
    m_end = qMax<qint64>(0, end);
    m_takeOpenLine = takeOpenLine;
}

qint64 TextLineReader::readPiece(char *to, qint64 space, bool *ended)
{
    if (m_end >= 0) {
        const qint64 left = m_end - m_pos;
        if (left <= 0) {
            *ended = true;
            return 0;
        }
        space = qMin(space, left + 1);
    }
    const qint64 n = m_device->readLine(to, space);
    // readLine() gives -1 at the end of the data as well; a file says
    // which it was.
    if (n < 0 && !m_failed) {
        const int error = errno;
        const auto *file = qobject_cast<const QFileDevice *>(m_device);
        m_failed = file && file->error() == QFileDevice::ReadError;
        m_error = m_failed ? error : 0;
    }
    *ended = n < space - 1 || (m_end >= 0 && m_pos + n >= m_end);
    return n;
}

bool TextLineReader::takeOpenLine()
{
    if (m_pos > m_lineStart && m_takeOpenLine && (m_end < 0 || m_pos == m_end))
        return true; // the data end without a line end
    m_openLeft = m_pos > m_lineStart;
    m_pos = m_lineStart;
    m_lineBytes = 0;
    m_cut = false;
    m_device->seek(m_lineStart);
    return false;
}

bool TextLineReader::readRawLine()
{
    m_lineBytes = 0;
    m_lineStart = m_pos;
    m_cut = false;
    m_openLeft = false;
    if (!m_device)
        return false;
    bool ended = false;
    while (true) {
        if (m_buffer.size() - m_lineBytes < 2) {
            // Room for a line of MaxLineBytes, its line end and readLine()'s
            // terminating null.
            if (m_buffer.size() < MaxLineBytes + 2) {
                m_buffer.resize(qMin(m_buffer.size() * 2, MaxLineBytes + 2));
            } else {
                // Too long: consume the rest of the line without keeping it.
                m_cut = true;
                m_lineBytes = MaxLineBytes;
                char scratch[kInitialBufferBytes];
                qint64 n;
                while ((n = readPiece(scratch, sizeof scratch, &ended)) > 0) {
                    m_pos += n;
                    if (scratch[n - 1] == '\n')
                        return true;
                    if (ended)
                        break;
                }
                return takeOpenLine();
            }
        }
        const qint64 n = readPiece(m_buffer.data() + m_lineBytes, m_buffer.size() - m_lineBytes, &ended);
        if (n <= 0)
            return takeOpenLine();
        m_pos += n;
        m_lineBytes += static_cast<int>(n);
        if (m_buffer.at(m_lineBytes - 1) == '\n') {
            --m_lineBytes;
            return true;
        }
        if (ended)
            return takeOpenLine();
    }
}

QStringList TextLineReader::nextFields(LoadSaveTableFileType type)
{
    while (readRawLine()) {
        const char *data = m_buffer.constData();
        if (isBlank(data, m_lineBytes))
            continue;
        const QString text = m_codec->toUnicode(data, m_lineBytes);
        QStringList fields = csvParseString(text, type);
        if (fields.size() == 1) {
            const char separator = separatorOf(type);
            if (separator && hasUnquotedSeparator(text, separator))
                fields << QString(); // "ID;": the empty field after the separator
        }
        if (!fields.isEmpty())
            return fields;
    }
    return QStringList();
}
