#include "config/csvparamshash.h"

#include "config/csvtieparam.h"
#include "core/diag.h"

#include <dpdatatype.h>

CsvParamsHash::CsvParamsHash() = default;

CsvParamsHash::~CsvParamsHash() = default;

void CsvParamsHash::add(CsvTieParam *param)
{
    if (!param)
        return;
    const quint32 type = param->metatype();
    const qint32 index = param->index();
    QHash<qint32, CsvTieParam *> &byIndex = m_byType[type];
    const auto it = byIndex.constFind(index);
    if (it != byIndex.constEnd() && it.value() != param) {
        GATE_DEBUG(1,
                   "CsvParamsHash::add(): param with type %s(%i) and index %i already exist (%p %s) and wil be "
                   "replaced by (%p %s)",
                   qUtf8Printable(DPDataTypeToString(static_cast<int>(type))), static_cast<int>(type), index,
                   static_cast<void *>(it.value()), qUtf8Printable(BaseTieParam::describe(it.value())),
                   static_cast<void *>(param), qUtf8Printable(param->description()));
    }
    byIndex.insert(index, param);
}

bool CsvParamsHash::contains(qint32 index, quint32 type) const
{
    return find(index, type) != nullptr;
}

bool CsvParamsHash::containsIndex(qint32 index) const
{
    for (auto it = m_byType.constBegin(); it != m_byType.constEnd(); ++it) {
        if (it.value().contains(index))
            return true;
    }
    return false;
}

bool CsvParamsHash::containsType(quint32 type) const
{
    const auto it = m_byType.constFind(type);
    return it != m_byType.constEnd() && !it.value().isEmpty();
}

CsvTieParam *CsvParamsHash::find(qint32 index, quint32 type) const
{
    const auto it = m_byType.constFind(type);
    if (it == m_byType.constEnd())
        return nullptr;
    return it.value().value(index, nullptr);
}

QList<CsvTieParam *> CsvParamsHash::params() const
{
    QList<CsvTieParam *> all;
    for (auto it = m_byType.constBegin(); it != m_byType.constEnd(); ++it)
        all += it.value().values();
    return all;
}

int CsvParamsHash::size() const
{
    int n = 0;
    for (auto it = m_byType.constBegin(); it != m_byType.constEnd(); ++it)
        n += it.value().size();
    return n;
}

void CsvParamsHash::clear()
{
    m_byType.clear();
}
