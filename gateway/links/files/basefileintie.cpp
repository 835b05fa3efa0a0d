#include "links/files/basefileintie.h"

#include <QFile>

namespace {

// The byte at `pos` of `file`; false when it cannot be read.
bool byteAt(QFile &file, qint64 pos, char *c)
{
    return file.seek(pos) && file.getChar(c);
}

} // namespace

BaseFileInTie::BaseFileInTie(QObject *parent)
    : BaseTie(parent)
    , m_readPosition(0)
    , m_passStart(0)
    , m_dialect(SemicolonSeparated)
    , m_codec(nullptr)
    , m_seenSize(-1)
    , m_putOff(false)
{
}

BaseFileInTie::~BaseFileInTie() = default;

bool BaseFileInTie::canStartAt(QFile &file, qint64 size, qint64 pos)
{
    if (pos == 0)
        return true;
    if (pos < 0 || pos > size)
        return false;
    char before = 0;
    return byteAt(file, pos - 1, &before) && before == '\n';
}

bool BaseFileInTie::lastLineBeingWritten(QFile &file, qint64 size)
{
    char last = '\n';
    const bool open = size > 0 && byteAt(file, size - 1, &last) && last != '\n';
    const bool changed = size != m_seenSize;
    m_seenSize = size;
    m_putOff = open && changed && !m_putOff;
    return m_putOff;
}
