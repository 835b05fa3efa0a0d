#include "config/csvtieparam.h"

#include "core/basetieunit.h"
#include "core/diag.h"

#include <dpdatatype.h>

#include <cstring>

CsvTieParam::CsvTieParam(BaseTieUnit *unit, quint32 type, qint32 index, const QString &extId, const QString &iid,
                         const QString &kks, const QString &rtm, const QVector<quint32> &dimensions)
    : m_unit(unit)
    , m_type(type)
    , m_index(index)
    , m_extId(extId)
    , m_iid(iid)
    , m_kks(kks)
    , m_rtm(rtm)
{
    GATE_DEBUG(10, "CsvTieParam::CsvTieParam(%p, %s(%u), %i, \"%s\", \"%s\", \"%s\", \"%s\", ...) was called",
               static_cast<void *>(unit), qUtf8Printable(DPDataTypeToString(static_cast<int>(type))), type, index,
               qUtf8Printable(extId), qUtf8Printable(iid), qUtf8Printable(kks), qUtf8Printable(rtm));
    if (!applyDimensions(dimensions)) {
        GATE_WARN("CsvTieParam::CsvTieParam(): dimensions refused for parameter %s, it holds one element",
                  qUtf8Printable(description()));
        applyDimensions({});
    }
    if (m_storage.isEmpty())
        m_type = 0;
    GATE_DEBUG(11, "     created CsvTieParam with type %s(%u) adn size %zu",
               qUtf8Printable(DPDataTypeToString(static_cast<int>(m_type))), m_type, size());
}

CsvTieParam::~CsvTieParam() = default;

quint32 CsvTieParam::metatype() const
{
    return m_type;
}

size_t CsvTieParam::count() const
{
    size_t n = 1;
    for (quint32 d : m_dimensions)
        n *= d;
    return n;
}

const uchar *CsvTieParam::values() const
{
    return m_storage.isEmpty() ? nullptr : reinterpret_cast<const uchar *>(m_storage.constData());
}

uchar *CsvTieParam::valuesForWrite()
{
    return m_storage.isEmpty() ? nullptr : reinterpret_cast<uchar *>(m_storage.data());
}

size_t CsvTieParam::size() const
{
    return static_cast<size_t>(m_storage.size());
}

BaseTieUnit *CsvTieParam::myUnit()
{
    return m_unit;
}

const BaseTieUnit *CsvTieParam::myUnit() const
{
    return m_unit;
}

qint64 CsvTieParam::number() const
{
    return m_index;
}

QString CsvTieParam::extID() const
{
    return m_extId;
}

QString CsvTieParam::numberString() const
{
    return QString::number(m_index);
}

QString CsvTieParam::IID() const
{
    return m_iid;
}

QString CsvTieParam::KKS() const
{
    return m_kks;
}

QString CsvTieParam::RTM() const
{
    return m_rtm;
}

QDateTime CsvTieParam::dataTime() const
{
    return m_dataTime;
}

void CsvTieParam::updateLastUpdated(const QDateTime &dt)
{
    m_dataTime = dt;
    BaseTieParam::updateLastUpdated(dt);
}

void CsvTieParam::setDataTime(const QDateTime &dt)
{
    m_dataTime = dt;
}

int CsvTieParam::dimensionCount() const
{
    return m_dimensions.size();
}

void CsvTieParam::setDimensionCount(int count)
{
    QVector<quint32> dims = m_dimensions;
    dims.resize(qBound(0, count, MaxDimensions));
    for (int k = m_dimensions.size(); k < dims.size(); ++k)
        dims[k] = 1;
    applyDimensions(dims);
}

quint32 CsvTieParam::dimensionSize(int k) const
{
    return (k >= 0 && k < m_dimensions.size()) ? m_dimensions.at(k) : 1;
}

bool CsvTieParam::setDimensionSize(int k, quint32 size)
{
    if (k < 0 || k >= m_dimensions.size())
        return false;
    QVector<quint32> dims = m_dimensions;
    dims[k] = size;
    return applyDimensions(dims);
}

bool CsvTieParam::setDimensions(int count, const quint32 *sizes)
{
    const int n = qBound(0, count, MaxDimensions);
    if (n > 0 && !sizes)
        return false;
    QVector<quint32> dims(n);
    for (int k = 0; k < n; ++k)
        dims[k] = sizes[k];
    return applyDimensions(dims);
}

bool CsvTieParam::setDimensions(const QVector<quint32> &dimensions)
{
    if (dimensions.size() > MaxDimensions)
        return false;
    return applyDimensions(dimensions);
}

qint64 CsvTieParam::storageBytesFor(const QVector<quint32> &dimensions) const
{
    const quint64 elementBytes = static_cast<quint64>(DPDataTypeElementSize(static_cast<int>(m_type)));
    // The element count is bounded as well, so that a type without storage
    // cannot report an element count that overflows. Each factor is below
    // 2^32 and the running product stays at most MaxStorageBytes, so the
    // multiplication cannot overflow 64 bits.
    quint64 bytes = qMax<quint64>(elementBytes, 1);
    for (quint32 d : dimensions) {
        bytes *= d;
        if (bytes > MaxStorageBytes)
            return -1;
    }
    return elementBytes ? static_cast<qint64>(bytes) : 0;
}

bool CsvTieParam::applyDimensions(const QVector<quint32> &dimensions)
{
    if (dimensions.size() > MaxDimensions)
        return false;
    const qint64 bytes = storageBytesFor(dimensions);
    if (bytes < 0) {
        GATE_WARN("CsvTieParam: storage for parameter %s would exceed %llu bytes, dimensions left unchanged",
                  qUtf8Printable(description()), static_cast<unsigned long long>(MaxStorageBytes));
        return false;
    }
    m_dimensions = dimensions;
    const int oldSize = m_storage.size();
    m_storage.resize(static_cast<int>(bytes));
    if (m_storage.size() > oldSize)
        std::memset(m_storage.data() + oldSize, 0, static_cast<size_t>(m_storage.size() - oldSize));
    return true;
}
