#include "links/files/textfileintie.h"

#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"
#include "links/files/textlinereader.h"

#include <dpdatatype.h>

#include <QFile>

#include <cmath>
#include <cstring>

namespace {

// How a value text is stored, per data type: the value as a 32-bit float or
// signed integer in the first word, and in the second word the sign written
// when the text parsed and when it did not.
struct InputType {
    DPDataType type;
    bool isFloat;
    quint32 parsedSign;
    quint32 failedSign;
};

constexpr InputType kInputTypes[] = {
    {dpdtFloatValid, true, 1, 0},
    {dpdtSDWordValid, false, 1, 0},
    {dpdtFloatState, true, 0, 7},
    {dpdtSDWordState, false, 0, 7},
};

const InputType *inputType(quint32 type)
{
    for (const InputType &t : kInputTypes) {
        if (static_cast<quint32>(t.type) == type)
            return &t;
    }
    return nullptr;
}

// Identifiers come from the file: a message shows at most this many characters of one.
constexpr int kShownIdChars = 64;

QString shown(const QString &id)
{
    return quotedForLog(id, kShownIdChars);
}

// Counts one more line with `fault` (a LineFault); the message of the
// first, made by `text`, is kept.
template<typename Fault, typename Text>
void addFault(Fault &fault, Text text)
{
    if (fault.count++ == 0)
        fault.first = text();
}

// One message for the lines of a pass that had `fault` (a LineFault);
// without such lines, the end of the streak.
template<typename Fault>
void reportLineFault(RepeatedMessage &message, const Fault &fault)
{
    if (fault.count == 0) {
        if (message.active())
            message.clear();
        return;
    }
    // Passes of different lengths (appended blocks) are the same fault.
    const QString text = fault.count == 1 ? fault.first
                                          : QStringLiteral("%1 (and %2 more lines of this pass)")
                                                .arg(fault.first, QString::number(fault.count - 1));
    message.report(text, text, fault.first);
}

} // namespace

TextFileInTie::TextFileInTie(QObject *parent)
    : BaseFileInTie(parent)
    , m_prevForAbsent(false)
    , m_openFault(RepeatedMessage::Both)
    , m_readFault(RepeatedMessage::Both)
    , m_noPassNote(RepeatedMessage::Warning)
    , m_overLongFault(RepeatedMessage::Both)
    , m_openLastLineFault(RepeatedMessage::Both)
    , m_emptyIdNote(RepeatedMessage::Warning)
    , m_unknownIdNote(RepeatedMessage::Warning)
    , m_noTextFormNote(RepeatedMessage::Warning)
{
}

bool TextFileInTie::readsType(quint32 type)
{
    return inputType(type) != nullptr;
}

TextFileInTie::~TextFileInTie() = default;

qint32 TextFileInTie::state() const
{
    return 0;
}

void TextFileInTie::addUnit(BaseTieUnit *unit)
{
    if (unit && (unit->direction() & BaseTieUnit::dirFromThis))
        m_index.unite(unit->paramsHash());
    appendUnit(unit);
    GATE_DEBUG(1, "TextFileInTie::addUnit(%p) add unit with direction %u", static_cast<void *>(unit),
               unit ? unit->direction() : 0u);
}

BaseTieParam *TextFileInTie::findParam(const QString &id) const
{
    for (const TieParamsHash::Map *map : {&m_index.extId(), &m_index.iid(), &m_index.kks(), &m_index.rtm()}) {
        const auto it = map->constFind(id);
        if (it != map->constEnd())
            return it.value();
    }
    return nullptr;
}

void TextFileInTie::pollAndConvert()
{
    GATE_DEBUG(3, "TextFileInTie::pollAndConvert() was called");
    setPollTime(Clock::nowUtc());
    if (!readPass()) {
        convertInvalidatedUnits();
        return;
    }
    const QList<BaseTieUnit *> &all = units();
    for (BaseTieUnit *unit : all) {
        if (!unit)
            continue;
        unit->setLastReceived(pollTime());
        unit->convertFromThis();
        ++counters().unitsReceived;
    }
}

bool TextFileInTie::readPass()
{
    QFile file;
    InputState state;
    QString reason;
    if (!openInput(file, &state, &reason)) {
        m_openFault.report(
            QStringLiteral("TextFileInTie::pollAndConvert() Error opening file \"%1\" (%2)").arg(fileName(), reason));
        return false;
    }
    if (m_openFault.active())
        m_openFault.clear(QStringLiteral("TextFileInTie::pollAndConvert(): input file \"%1\" is read again").arg(fileName()));
    GATE_DEBUG(4, "  m_prevForAbsent is %s", m_prevForAbsent ? "TRUE" : "FALSE");

    if (!continuesFromBefore(file, state)) {
        setReadPosition(0);
        setPassStart(0);
        setMarkerEnd(-1);
    }
    const bool read = readLines(file, state);
    rememberPosition(file, state);
    return read;
}

bool TextFileInTie::readLines(QFile &file, const InputState &state)
{
    // An unsettled last line is left unread; the complete lines before it are read.
    const bool unsettled = lastLineUnsettled(file, state);
    reportOpenLastLine(unsettled);
    if (state.size <= 0) {
        noteNoPass(1, "TextFileInTie::pollAndConvert(): Empty input file \"%1\"");
        setReadPosition(0);
        return false;
    }
    TextLineReader reader(&file, 0, codec());
    reader.setEnd(state.size, !unsettled);
    qint64 start = 0;
    bool opensBlock = false;
    QStringList fields = startOfPass(file, state, reader, &start, &opensBlock);
    if (readFailed(file, reader, start))
        return false;
    if (fields.isEmpty()) {
        if (reader.openLineLeft())
            noteNoPass(2, "TextFileInTie::pollAndConvert(): last line of input file \"%1\" is not complete yet");
        else
            noteNoPass(1, "TextFileInTie::pollAndConvert(): Empty line in input file \"%1\"");
        return false;
    }
    if (m_noPassNote.active())
        m_noPassNote.clear();

    // Reset only once there is a pass to read, so that the parameters never
    // hold values their consumers were not given.
    if (!m_prevForAbsent)
        init();
    // Lines appended without a marker continue the block before them: an
    // unchanged file is read again from where that block began.
    if (opensBlock)
        setPassStart(start);
    PassFaults faults;
    // A cut line is never a marker: what it held is not known.
    while (fields.size() >= 2 || (!fields.isEmpty() && reader.lastLineCut())) {
        setReadPosition(reader.pos());
        if (reader.lastLineCut())
            skipOverLongLine(fields, reader.lineStart(), faults);
        else
            storeValue(fields.at(0), fields.at(1), faults);
        fields = reader.nextFields(dialect());
    }
    if (readFailed(file, reader, start))
        return false;
    if (m_readFault.active())
        m_readFault.clear(QStringLiteral("TextFileInTie::pollAndConvert(): input file \"%1\" is read again").arg(fileName()));
    // The pass ran into the unfinished last line: the next poll reads the
    // whole pass again, that line then finished or settled.
    if (fields.isEmpty() && reader.openLineLeft())
        setReadPosition(start);
    reportPassFaults(faults);
    return true;
}

bool TextFileInTie::readFailed(const QFile &file, const TextLineReader &reader, qint64 start)
{
    if (!reader.readFailed())
        return false;
    // What the pass held past the failure is not known: none of it is
    // handed on, and the next poll reads the whole pass again.
    setReadPosition(start);
    m_readFault.report(QStringLiteral("TextFileInTie::pollAndConvert(): cannot read input file \"%1\" (%2); its "
                                      "values are read again at the next poll")
                           .arg(fileName(), reader.readError() ? QString::fromLocal8Bit(std::strerror(reader.readError()))
                                                               : file.errorString()));
    return true;
}

void TextFileInTie::reportOpenLastLine(bool unsettled)
{
    if (!unsettled) {
        if (m_openLastLineFault.active())
            m_openLastLineFault.clear();
        return;
    }
    if (unsettledForMs() < static_cast<qint64>(timeout()))
        return;
    m_openLastLineFault.report(QStringLiteral("TextFileInTie::pollAndConvert(): the last line of input file \"%1\" has "
                                              "had no line end for more than %2 ms while the file kept changing; it "
                                              "is read once it ends or the file stands still")
                                   .arg(fileName(), QString::number(timeout())));
}

QStringList TextFileInTie::startOfPass(QFile &file, const InputState &state, TextLineReader &reader, qint64 *start,
                                       bool *opensBlock)
{
    // The positions lie past the end or inside a line when the file was
    // replaced by a shorter one; the start of the file is the last resort.
    QStringList fields;
    for (const qint64 candidate : {readPosition(), passStart(), qint64(0)}) {
        if (!canStartAt(file, state.size, candidate) || !reader.restart(candidate))
            continue;
        *start = candidate;
        fields = reader.nextFields(dialect());
        if (!fields.isEmpty() || candidate == 0)
            break;
    }
    if (fields.size() == 1 && !reader.lastLineCut()) {
        setReadPosition(reader.pos());
        setMarkerEnd(reader.pos());
        *start = reader.pos();
        fields = reader.nextFields(dialect());
        *opensBlock = true;
    }
    *opensBlock = *opensBlock || *start == 0 || *start == markerEnd();
    return fields;
}

void TextFileInTie::storeValue(const QString &id, const QString &value, PassFaults &faults)
{
    GATE_DEBUG(5, "    Process parameter with id \"%s\" and value \"%s\"", qUtf8Printable(id), qUtf8Printable(value));
    if (id.isEmpty()) {
        if (debugEnabled(1))
            addFault(faults.emptyId, [] { return QStringLiteral("Parameter id \"\" is empty"); });
        return;
    }
    BaseTieParam *param = findParam(id);
    if (!param) {
        if (debugEnabled(1))
            addFault(faults.unknownId, [&] { return QStringLiteral("Parameter with id \"%1\" not found").arg(shown(id)); });
        return;
    }
    const quint32 type = param->metatype();
    const InputType *how = inputType(type);
    uchar *storage = param->valuesForWrite();
    if (!how || !storage || param->size() < 2 * sizeof(quint32)) {
        if (debugEnabled(1))
            addFault(faults.noTextForm, [&] {
                return QStringLiteral("Parameter (%1) with type %2(%3)  not (yet) implemented")
                    .arg(param->description(), QString::number(type), DPDataTypeToString(static_cast<int>(type)));
            });
        return;
    }
    bool ok = false;
    if (how->isFloat) {
        // "nan" and "inf" parse, but are no values: the gateway's own output
        // writes an invalid float as "nan".
        const float v = value.toFloat(&ok);
        ok = ok && std::isfinite(v);
        std::memcpy(storage, &v, sizeof v);
    } else {
        const qint32 v = value.toInt(&ok, 10);
        std::memcpy(storage, &v, sizeof v);
    }
    const quint32 sign = ok ? how->parsedSign : how->failedSign;
    std::memcpy(storage + sizeof(quint32), &sign, sizeof sign);
    param->updateLastUpdated(pollTime());
    ++counters().valuesReceived;
}

void TextFileInTie::skipOverLongLine(const QStringList &fields, qint64 lineStart, PassFaults &faults)
{
    // Only a separator within the kept bytes makes the first field an identifier.
    const QString id = fields.size() >= 2 ? fields.at(0) : QString();
    if (!id.isEmpty())
        storeValue(id, QString(), faults);
    // The warning is the same for every over-long line of the file, so that
    // a streak of them is written once; where they are is a debug note.
    addFault(faults.overLong, [&] {
        return QStringLiteral("TextFileInTie::pollAndConvert(): input file \"%1\" has lines longer than %2 bytes; "
                              "they are skipped and their parameters are invalid")
            .arg(fileName(), QString::number(TextLineReader::MaxLineBytes));
    });
    GATE_DEBUG(1, "TextFileInTie::pollAndConvert(): skipped the line at byte %lld of input file \"%s\"%s",
               static_cast<long long>(lineStart), qUtf8Printable(fileName()),
               qUtf8Printable(id.isEmpty() ? QString() : QStringLiteral(" of parameter \"%1\"").arg(shown(id))));
}

void TextFileInTie::reportPassFaults(const PassFaults &faults)
{
    reportLineFault(m_emptyIdNote, faults.emptyId);
    reportLineFault(m_unknownIdNote, faults.unknownId);
    reportLineFault(m_noTextFormNote, faults.noTextForm);
    // One text for the streak, without the count of the pass's lines.
    if (faults.overLong.count > 0)
        m_overLongFault.report(faults.overLong.first);
    else if (m_overLongFault.active())
        m_overLongFault.clear();
}

void TextFileInTie::noteNoPass(quint32 level, const char *text)
{
    if (debugEnabled(level))
        m_noPassNote.report(QString::fromLatin1(text).arg(fileName()));
}
