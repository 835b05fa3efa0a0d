#include "core/basetieparam.h"

#include "core/baseconverter.h"
#include "core/basetieunit.h"
#include "core/diag.h"
#include "core/paramtypetraits.h"
#include "core/signrules.h"

#include <cstring>

namespace {

// The unsigned word of `bytes` width at `p` (little-endian storage).
quint32 readWord(const uchar *p, quint8 bytes)
{
    switch (bytes) {
    case 1:
        return *p;
    case 2: {
        quint16 v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    default: {
        quint32 v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    }
}

} // namespace

BaseTieParam::BaseTieParam()
    : m_inputConverter(nullptr)
{
}

BaseTieParam::~BaseTieParam() = default;

quint32 BaseTieParam::metatype() const
{
    return 0;
}

size_t BaseTieParam::count() const
{
    return 0;
}

quint32 BaseTieParam::direction() const
{
    const BaseTieUnit *unit = myUnit();
    return unit ? unit->direction() : 0;
}

const uchar *BaseTieParam::values() const
{
    return nullptr;
}

uchar *BaseTieParam::valuesForWrite()
{
    return nullptr;
}

size_t BaseTieParam::size() const
{
    return 0;
}

bool BaseTieParam::isValid(size_t index) const
{
    return unitState() == 0 && elementValid(index);
}

bool BaseTieParam::elementValid(size_t index) const
{
    const uchar *data = values();
    if (index >= count() || !data)
        return false;
    const ParamTypeTraits &traits = paramTypeTraits(metatype());
    using V = ParamTypeTraits::Validity;
    if (traits.validity == V::Never)
        return false;
    if (traits.validity == V::Always)
        return true;
    const size_t stride = traits.elementBytes;
    if (size() < stride * (index + 1))
        return false;
    if (traits.validity == V::HasElement)
        return true;
    const quint32 word = readWord(data + stride * index + traits.signOffset, traits.signBytes);
    switch (traits.validity) {
    case V::SignIsOne:
        return sign::ValidWord::isValid(word);
    case V::StateBelow7:
        return sign::StateWord::isValid(word);
    case V::CodeIsZero:
        return sign::ErrorCode<quint32>::isValid(word);
    case V::StatusClear:
        return sign::StatusWord::isValid(word);
    case V::BelowTwo:
        return sign::DiscreteWord::isState(word);
    default:
        return false;
    }
}

void BaseTieParam::reset()
{
    if (m_inputConverter) {
        m_inputConverter->doConvert();
        return;
    }
    uchar *data = valuesForWrite();
    if (!data)
        return;
    const size_t storage = size();
    const ParamTypeTraits &traits = paramTypeTraits(metatype());
    using R = ParamTypeTraits::Reset;
    switch (traits.reset) {
    case R::Untouched:
        return;
    case R::ZeroStorage:
        std::memset(data, 0, storage);
        return;
    default:
        break;
    }
    const size_t unit = traits.resetBytes;
    const size_t elements = unit ? qMin(count(), storage / unit) : 0;
    switch (traits.reset) {
    case R::AllOnes:
        std::memset(data, 0xFF, elements * unit);
        break;
    case R::Zero:
        std::memset(data, 0, elements * unit);
        break;
    case R::DtsInvalid:
        for (size_t i = 0; i < elements; ++i) {
            const quint32 words[2] = {0, 4};
            std::memcpy(data + i * unit, words, sizeof words);
        }
        break;
    default:
        break;
    }
}

void BaseTieParam::doPostConversionWork()
{
    BaseTieUnit *unit = myUnit();
    if (!unit) {
        GATE_DEBUG(5, "BaseTieParam::doPostConversionWork(): myUnit() is NULL for %s", qUtf8Printable(description()));
        return;
    }
    unit->doPostParamConversionWork(this);
}

qint32 BaseTieParam::unitState() const
{
    const BaseTieUnit *unit = myUnit();
    return unit ? unit->state() : -1;
}

BaseTieUnit *BaseTieParam::myUnit()
{
    return nullptr;
}

const BaseTieUnit *BaseTieParam::myUnit() const
{
    return nullptr;
}

qint64 BaseTieParam::number() const
{
    return -1;
}

QString BaseTieParam::extID() const
{
    return QString();
}

QString BaseTieParam::numberString() const
{
    return QString();
}

QString BaseTieParam::IID() const
{
    return QString();
}

QString BaseTieParam::KKS() const
{
    return QString();
}

QString BaseTieParam::RTM() const
{
    return QString();
}

QString BaseTieParam::name() const
{
    return QString();
}

QString BaseTieParam::comment() const
{
    return QString();
}

QDateTime BaseTieParam::lastUpdated() const
{
    const BaseTieUnit *unit = myUnit();
    return unit ? unit->lastUpdated() : QDateTime();
}

QDateTime BaseTieParam::dataTime() const
{
    const BaseTieUnit *unit = myUnit();
    return unit ? unit->dataTime() : QDateTime();
}

void BaseTieParam::updateLastUpdated(const QDateTime &dt)
{
    if (BaseTieUnit *unit = myUnit())
        unit->updateLastUpdated(dt);
}

void BaseTieParam::updateLastReceived(const QDateTime &dt)
{
    if (BaseTieUnit *unit = myUnit())
        unit->updateLastReceived(dt);
}

QString BaseTieParam::description() const
{
    const QString k = KKS();
    const QString r = RTM();
    const QString i = IID();
    const QString iidPart = i.isEmpty() ? QString() : QStringLiteral(",iid=") + i;
    if (k.isEmpty()) {
        if (r.isEmpty())
            return i.isEmpty() ? QStringLiteral("?") : QStringLiteral("iid=") + i;
        if (r == i)
            return QStringLiteral("rtm/iid=") + r;
        return QStringLiteral("rtm=") + r + iidPart;
    }
    if (k == r) {
        if (k == i)
            return QStringLiteral("kks/rtm/iid=") + k;
        return QStringLiteral("kks/rtm=") + k + iidPart;
    }
    if (k == i)
        return QStringLiteral("kks/iid=") + k + (r.isEmpty() ? QString() : QStringLiteral(",rtm=") + r);
    if (r.isEmpty())
        return QStringLiteral("kks=") + k + iidPart;
    if (r == i)
        return QStringLiteral("kks=") + k + QStringLiteral(",rtm/iid=") + r;
    return QStringLiteral("kks=") + k + QStringLiteral(",rtm=") + r + iidPart;
}

QString BaseTieParam::describe(const BaseTieParam *param)
{
    return param ? param->description() : QStringLiteral("(NULL)");
}
