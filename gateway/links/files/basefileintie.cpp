#include "links/files/basefileintie.h"

#include "core/clock.h"
#include "core/regularfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How many bytes before the read position are compared to notice a
// rewritten file: the last line read, or the end of a longer one.
constexpr qint64 kFingerprintBytes = 4096;

// The byte at `pos` of `file`; false when it cannot be read.
bool byteAt(QFile &file, qint64 pos, char *c)
{
    return file.seek(pos) && file.getChar(c);
}

// The `count` bytes of `file` before `pos` (fewer near the start); a null
// array when they cannot be read.
QByteArray bytesBefore(QFile &file, qint64 pos, qint64 count)
{
    const qint64 from = qMax<qint64>(0, pos - count);
    if (!file.seek(from))
        return QByteArray();
    QByteArray bytes = file.read(pos - from);
    return bytes.size() == pos - from ? bytes : QByteArray();
}

} // namespace

BaseFileInTie::BaseFileInTie(QObject *parent)
    : BaseTie(parent)
    , m_readPosition(0)
    , m_passStart(0)
    , m_markerEnd(-1)
    , m_dialect(SemicolonSeparated)
    , m_codec(nullptr)
    , m_seenValid(false)
    , m_changedAtMs(0)
    , m_unsettledSinceMs(-1)
    , m_unsettledForMs(0)
{
}

BaseFileInTie::~BaseFileInTie() = default;

QStringList BaseFileInTie::successionKeys() const
{
    return QStringList{m_fileName};
}

void BaseFileInTie::takeOver(BaseTie &predecessor)
{
    auto *old = qobject_cast<BaseFileInTie *>(&predecessor);
    if (!old || old == this || old->m_fileName != m_fileName)
        return;
    m_readPosition = old->m_readPosition;
    m_passStart = old->m_passStart;
    m_markerEnd = old->m_markerEnd;
    m_readIdentity = old->m_readIdentity;
    m_bytesBeforePosition = old->m_bytesBeforePosition;
    m_seen = old->m_seen;
    m_seenValid = old->m_seenValid;
    m_changedAtMs = old->m_changedAtMs;
    m_unsettledSinceMs = old->m_unsettledSinceMs;
    m_unsettledForMs = old->m_unsettledForMs;
}

bool BaseFileInTie::openInput(QFile &file, InputState *state, QString *reason) const
{
    struct stat st;
    file.setFileName(m_fileName);
    if (!openRegularFileForReading(file, reason, QIODevice::ReadOnly, &st))
        return false;
    state->size = static_cast<qint64>(st.st_size);
    state->modifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    state->identity = FileIdentity::of(st);
    return true;
}

bool BaseFileInTie::canStartAt(QFile &file, qint64 size, qint64 pos)
{
    if (pos == 0)
        return true;
    if (pos < 0 || pos > size)
        return false;
    char before = 0;
    return byteAt(file, pos - 1, &before) && before == '\n';
}

bool BaseFileInTie::continuesFromBefore(QFile &file, const InputState &state) const
{
    if (state.identity != m_readIdentity)
        return false;
    if (m_readPosition <= 0)
        return true;
    if (m_readPosition > state.size)
        return false;
    return bytesBefore(file, m_readPosition, m_bytesBeforePosition.size()) == m_bytesBeforePosition;
}

void BaseFileInTie::rememberPosition(QFile &file, const InputState &state)
{
    m_readIdentity = state.identity;
    m_bytesBeforePosition = bytesBefore(file, m_readPosition, kFingerprintBytes);
}

bool BaseFileInTie::lastLineUnsettled(QFile &file, const InputState &state)
{
    const qint64 now = Clock::monotonicMsecs();
    const bool changed = !m_seenValid || state.size != m_seen.size || state.modifiedNs != m_seen.modifiedNs
        || state.identity != m_seen.identity;
    if (changed) {
        m_seen = state;
        m_seenValid = true;
        m_changedAtMs = now;
    }
    char last = '\n';
    bool unsettled = false;
    if (state.size > 0 && !byteAt(file, state.size - 1, &last)) {
        m_changedAtMs = now; // shorter than just now: it is being rewritten
        unsettled = true;
    } else {
        unsettled = last != '\n' && now - m_changedAtMs < static_cast<qint64>(timeout());
    }
    if (!unsettled)
        m_unsettledSinceMs = -1;
    else if (m_unsettledSinceMs < 0)
        m_unsettledSinceMs = now;
    m_unsettledForMs = unsettled ? now - m_unsettledSinceMs : 0;
    return unsettled;
}
