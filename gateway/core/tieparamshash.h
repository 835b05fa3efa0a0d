#ifndef TIEPARAMSHASH_H
#define TIEPARAMSHASH_H

#include <QMultiHash>
#include <QString>

class BaseTieParam;

// Index of parameters by each identifier kind: KKS, RTM, IID and ExtID.
// A key may hold several parameters; the one added last is found first.
// The index does not own the parameters.
class TieParamsHash
{
public:
    using Map = QMultiHash<QString, BaseTieParam *>;

    TieParamsHash();
    virtual ~TieParamsHash();

    // Enters `param` under each of its non-empty identifiers (null is ignored).
    void add(BaseTieParam *param);
    // Adds every entry of `other` to the map of the same kind.
    void unite(const TieParamsHash &other);
    // The parameter held under `id` in the KKS, then RTM, IID and ExtID map;
    // null when no map holds it.
    BaseTieParam *find(const QString &id) const;
    // The provider of `consumer`: same-kind identifiers only, KKS before RTM
    // before IID before ExtID; null when none matches.
    BaseTieParam *findProvider(const BaseTieParam *consumer) const;
    // Forgets every entry.
    void clear();
    bool isEmpty() const;

    const Map &kks() const { return m_kks; }
    const Map &rtm() const { return m_rtm; }
    const Map &iid() const { return m_iid; }
    const Map &extId() const { return m_extId; }

private:
    Map m_kks;
    Map m_rtm;
    Map m_iid;
    Map m_extId;
};

#endif // TIEPARAMSHASH_H
