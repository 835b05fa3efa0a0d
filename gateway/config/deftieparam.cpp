#include "config/deftieparam.h"

#include "config/deftieunit.h"
#include "config/qdeffilestruct.h"
#include "core/diag.h"

DefTieParam::DefTieParam(DefTieUnit *unit, QDefRecord *record)
    : m_unit(unit)
    , m_defRecord(record)
{
}

DefTieParam::~DefTieParam() = default;

quint32 DefTieParam::metatype() const
{
    if (!m_defRecord) {
        GATE_DEBUG(1, "DefTieParam::metatype(): m_defRecord is NULL");
        return 0;
    }
    if (m_defRecord->type == 0) {
        GATE_DEBUG(3, "DefTieParam::metatype(): unsupported defType =%i ", m_defRecord->type);
        return 0;
    }
    return QDefFileStruct::dataTypeOf(m_defRecord->type);
}

bool DefTieParam::fitsArea() const
{
    return m_defRecord && m_unit && m_defRecord->fitsInto(m_unit->unitSize());
}

size_t DefTieParam::count() const
{
    return fitsArea() ? static_cast<size_t>(m_defRecord->count()) : 0;
}

uchar *DefTieParam::storage() const
{
    if (!fitsArea())
        return nullptr;
    uchar *area = m_unit->data();
    return area ? area + m_defRecord->offset : nullptr;
}

const uchar *DefTieParam::values() const
{
    return storage();
}

uchar *DefTieParam::valuesForWrite()
{
    return storage();
}

size_t DefTieParam::size() const
{
    return fitsArea() ? static_cast<size_t>(m_defRecord->size()) : 0;
}

BaseTieUnit *DefTieParam::myUnit()
{
    return m_unit;
}

const BaseTieUnit *DefTieParam::myUnit() const
{
    return m_unit;
}

QString DefTieParam::extID() const
{
    return QString();
}

QString DefTieParam::numberString() const
{
    return m_defRecord ? m_defRecord->name : QString();
}

QString DefTieParam::IID() const
{
    return numberString();
}

QString DefTieParam::KKS() const
{
    return numberString();
}

QString DefTieParam::RTM() const
{
    return numberString();
}
