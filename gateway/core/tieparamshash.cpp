#include "core/tieparamshash.h"

#include "core/basetieparam.h"

namespace {

void uniteInto(TieParamsHash::Map &into, const TieParamsHash::Map &from)
{
    // Entries are re-inserted oldest first so that the newest stays found
    // first under every key.
    const QList<QString> keys = from.uniqueKeys();
    for (const QString &key : keys) {
        const QList<BaseTieParam *> values = from.values(key); // newest first
        for (auto it = values.crbegin(); it != values.crend(); ++it)
            into.insert(key, *it);
    }
}

BaseTieParam *lookup(const TieParamsHash::Map &map, const QString &key)
{
    if (key.isEmpty())
        return nullptr;
    const auto it = map.constFind(key);
    return it == map.constEnd() ? nullptr : it.value();
}

} // namespace

TieParamsHash::TieParamsHash() = default;

TieParamsHash::~TieParamsHash() = default;

void TieParamsHash::add(BaseTieParam *param)
{
    if (!param)
        return;
    const QString k = param->KKS();
    if (!k.isEmpty())
        m_kks.insert(k, param);
    const QString r = param->RTM();
    if (!r.isEmpty())
        m_rtm.insert(r, param);
    const QString i = param->IID();
    if (!i.isEmpty())
        m_iid.insert(i, param);
    const QString e = param->extID();
    if (!e.isEmpty())
        m_extId.insert(e, param);
}

void TieParamsHash::unite(const TieParamsHash &other)
{
    if (&other == this)
        return;
    uniteInto(m_kks, other.m_kks);
    uniteInto(m_rtm, other.m_rtm);
    uniteInto(m_iid, other.m_iid);
    uniteInto(m_extId, other.m_extId);
}

BaseTieParam *TieParamsHash::find(const QString &id) const
{
    for (const Map *map : {&m_kks, &m_rtm, &m_iid, &m_extId}) {
        if (BaseTieParam *p = lookup(*map, id))
            return p;
    }
    return nullptr;
}

BaseTieParam *TieParamsHash::findProvider(const BaseTieParam *consumer) const
{
    if (!consumer)
        return nullptr;
    if (BaseTieParam *p = lookup(m_kks, consumer->KKS()))
        return p;
    if (BaseTieParam *p = lookup(m_rtm, consumer->RTM()))
        return p;
    if (BaseTieParam *p = lookup(m_iid, consumer->IID()))
        return p;
    return lookup(m_extId, consumer->extID());
}

void TieParamsHash::clear()
{
    m_kks.clear();
    m_rtm.clear();
    m_iid.clear();
    m_extId.clear();
}

bool TieParamsHash::isEmpty() const
{
    return m_kks.isEmpty() && m_rtm.isEmpty() && m_iid.isEmpty() && m_extId.isEmpty();
}
