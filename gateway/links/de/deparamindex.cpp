#include "links/de/deparamindex.h"

#include "config/csvtieparam.h"
#include "core/basetieunit.h"

void DEParamIndex::add(CsvTieParam *param)
{
    if (!param || param->metatype() == 0)
        return;
    m_byType[param->metatype()][param->index()].append(param);
    ++m_size;
}

void DEParamIndex::addUnit(BaseTieUnit *unit)
{
    if (!unit)
        return;
    for (BaseTieParam *param : qAsConst(unit->params()))
        add(dynamic_cast<CsvTieParam *>(param));
}

const DEParamIndex::TypeTable *DEParamIndex::table(quint32 type) const
{
    const auto it = m_byType.constFind(type);
    return it == m_byType.constEnd() ? nullptr : &it.value();
}

const DEParamIndex::Entries *DEParamIndex::find(qint32 index, quint32 type) const
{
    const TypeTable *keys = table(type);
    if (!keys)
        return nullptr;
    const auto it = keys->constFind(index);
    return it == keys->constEnd() ? nullptr : &it.value();
}
