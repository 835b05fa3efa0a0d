#include "links/files/textlinereader.h"

#include <QIODevice>
#include <QString>
#include <QTextCodec>

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
    , m_cut(false)
{
    restart(start);
}

bool TextLineReader::restart(qint64 start)
{
    m_lineBytes = 0;
    m_cut = false;
    if (!m_device || !m_device->seek(start)) {
        m_pos = m_device ? m_device->pos() : 0;
        m_lineStart = m_pos;
        return false;
    }
    m_pos = start;
    m_lineStart = start;
    return true;
}

bool TextLineReader::readRawLine()
{
    m_lineBytes = 0;
    m_lineStart = m_pos;
    m_cut = false;
    if (!m_device)
        return false;
    bool any = false;
    while (true) {
        if (m_buffer.size() - m_lineBytes < 2) {
            if (m_buffer.size() < MaxLineBytes + 1) {
                m_buffer.resize(qMin(m_buffer.size() * 2, MaxLineBytes + 1));
            } else {
                // Too long: consume the rest of the line without keeping it.
                m_cut = true;
                char scratch[kInitialBufferBytes];
                qint64 n;
                while ((n = m_device->readLine(scratch, sizeof scratch)) > 0) {
                    m_pos += n;
                    if (scratch[n - 1] == '\n')
                        break;
                }
                return true;
            }
        }
        const qint64 space = m_buffer.size() - m_lineBytes;
        const qint64 n = m_device->readLine(m_buffer.data() + m_lineBytes, space);
        if (n <= 0)
            return any;
        any = true;
        m_pos += n;
        m_lineBytes += static_cast<int>(n);
        if (m_buffer.at(m_lineBytes - 1) == '\n') {
            --m_lineBytes;
            return true;
        }
        if (n < space - 1)
            return true; // the data end without a line end
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
