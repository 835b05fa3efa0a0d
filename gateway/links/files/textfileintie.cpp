#include "links/files/textfileintie.h"

#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/diag.h"
#include "links/files/textlinereader.h"

#include <dpdatatype.h>

#include <QFile>

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

} // namespace

TextFileInTie::TextFileInTie(QObject *parent)
    : BaseFileInTie(parent)
    , m_prevForAbsent(false)
{
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

    QFile file(fileName());
    if (!file.open(QIODevice::ReadOnly)) {
        GATE_DEBUG(1, "TextFileInTie::pollAndConvert() Error opening file \"%s\"", qUtf8Printable(fileName()));
        convertInvalidatedUnits();
        return;
    }
    GATE_DEBUG(4, "  m_prevForAbsent is %s", m_prevForAbsent ? "TRUE" : "FALSE");

    const qint64 size = file.size();
    if (size <= 0) {
        GATE_DEBUG(1, "TextFileInTie::pollAndConvert(): Empty input file \"%s\"", qUtf8Printable(fileName()));
        setReadPosition(0);
        convertInvalidatedUnits();
        return;
    }
    if (lastLineBeingWritten(file, size)) {
        GATE_DEBUG(2, "TextFileInTie::pollAndConvert(): last line of input file \"%s\" is not complete yet",
                   qUtf8Printable(fileName()));
        convertInvalidatedUnits();
        return;
    }

    // Where to read: on from the read position; when nothing was added
    // there, the last pass again; the whole file when the file was replaced
    // (the positions are past its end or inside a line) or as last resort.
    TextLineReader reader(&file, 0, codec());
    QStringList fields;
    qint64 start = 0;
    for (const qint64 candidate : {readPosition(), passStart(), qint64(0)}) {
        if (!canStartAt(file, size, candidate) || !reader.restart(candidate))
            continue;
        start = candidate;
        fields = reader.nextFields(dialect());
        if (!fields.isEmpty() || candidate == 0)
            break;
    }
    if (fields.size() == 1) {
        setReadPosition(reader.pos());
        start = reader.pos();
        fields = reader.nextFields(dialect());
    }
    if (fields.isEmpty()) {
        GATE_DEBUG(1, "TextFileInTie::pollAndConvert(): Empty line in input file \"%s\"", qUtf8Printable(fileName()));
        convertInvalidatedUnits();
        return;
    }

    // Reset only once there is a pass to read, so that the parameters never
    // hold values their consumers were not given.
    if (!m_prevForAbsent)
        init();
    setPassStart(start);
    while (fields.size() >= 2) {
        setReadPosition(reader.pos());
        storeValue(fields.at(0), fields.at(1));
        fields = reader.nextFields(dialect());
    }

    const QList<BaseTieUnit *> &all = units();
    for (BaseTieUnit *unit : all) {
        if (!unit)
            continue;
        unit->setLastReceived(pollTime());
        unit->convertFromThis();
    }
}

void TextFileInTie::storeValue(const QString &id, const QString &value)
{
    GATE_DEBUG(5, "    Process parameter with id \"%s\" and value \"%s\"", qUtf8Printable(id), qUtf8Printable(value));
    if (id.isEmpty()) {
        GATE_DEBUG(1, "Parameter id \"%s\" is empty", qUtf8Printable(id));
        return;
    }
    BaseTieParam *param = findParam(id);
    if (!param) {
        GATE_DEBUG(1, "Parameter with id \"%s\" not found", qUtf8Printable(id));
        return;
    }
    const quint32 type = param->metatype();
    const InputType *how = inputType(type);
    uchar *storage = param->valuesForWrite();
    if (!how || !storage || param->size() < 2 * sizeof(quint32)) {
        GATE_DEBUG(1, "Parameter (%s) with type %i(%s)  not (yet) implemented", qUtf8Printable(param->description()),
                   static_cast<int>(type), qUtf8Printable(DPDataTypeToString(static_cast<int>(type))));
        return;
    }
    bool ok = false;
    if (how->isFloat) {
        const float v = value.toFloat(&ok);
        std::memcpy(storage, &v, sizeof v);
    } else {
        const qint32 v = value.toInt(&ok, 10);
        std::memcpy(storage, &v, sizeof v);
    }
    const quint32 sign = ok ? how->parsedSign : how->failedSign;
    std::memcpy(storage + sizeof(quint32), &sign, sizeof sign);
    param->updateLastUpdated(pollTime());
}
