#include "devaluecodec.h"

#include <dpdatatype.h>

#include <QStringList>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

template<typename T>
T load(const char *p)
{
    return qFromLittleEndian<T>(p);
}

template<typename T>
void store(char *p, T v)
{
    qToLittleEndian(v, p);
}

float loadFloat(const char *p)
{
    const quint32 bits = load<quint32>(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void storeFloat(char *p, float f)
{
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    store(p, bits);
}

double loadDouble(const char *p)
{
    const quint64 bits = load<quint64>(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void storeDouble(char *p, double d)
{
    quint64 bits;
    std::memcpy(&bits, &d, sizeof bits);
    store(p, bits);
}

} // namespace

DEValueCodec::DEValueCodec(quint32 type)
    : m_shape(Shape::None)
    , m_size(DPDataTypeElementSize(static_cast<int>(type)))
    , m_validWord(0)
{
    switch (type) {
    case dpdtByte: case dpdtBit: case dpdtBool: case dpdtTavrikByte:
        m_shape = Shape::U8;
        break;
    case dpdtSByte:
        m_shape = Shape::S8;
        break;
    case dpdtWord: case dpdtSM2MCode: case dpdtWordDiscrete:
        m_shape = Shape::U16;
        break;
    case dpdtSWord:
        m_shape = Shape::S16;
        break;
    case dpdtDWord: case dpdtTimeT32: case dpdtKIValid: case dpdtKIState: case dpdtErrCodeDWord: case dpdtTavrikDWord:
        m_shape = Shape::U32;
        break;
    case dpdtSDWord:
        m_shape = Shape::S32;
        break;
    case dpdtQWord:
        m_shape = Shape::U64;
        break;
    case dpdtSQWord:
        m_shape = Shape::S64;
        break;
    case dpdtFloat:
        m_shape = Shape::F32;
        break;
    case dpdtDouble: case dpdtDoubleDaySecsUTC: case dpdtDoubleDaySecsLocal:
        m_shape = Shape::F64;
        break;
    case dpdtFloatValid:
        m_validWord = 1;
        m_shape = Shape::F32Word;
        break;
    case dpdtFloatState: case dpdtFloatErrCode: case dpdtDTSFloat:
        m_shape = Shape::F32Word;
        break;
    case dpdtSDWordValid:
        m_validWord = 1;
        m_shape = Shape::S32Word;
        break;
    case dpdtSDWordState: case dpdtSDWordErrCode: case dpdtDTSSDWord: case dpdtDTSSDWordDiscrete:
        m_shape = Shape::S32Word;
        break;
    case dpdtTimeVal: case dpdtTimeSpec: case dpdtTimeWithMsecs:
        m_shape = Shape::U32Pair;
        break;
    case dpdtTimeSpec64:
        m_shape = Shape::U64Pair;
        break;
    default:
        m_size = 0;
        break;
    }
    if (m_shape == Shape::None)
        m_size = 0;
}

bool DEValueCodec::parse(const QString &text, QByteArray &bytes, QString *error) const
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!isValid())
        return fail(QStringLiteral("the type carries no value"));
    bytes = QByteArray(m_size, '\0');
    char *p = bytes.data();
    if (text.startsWith(QLatin1String("hex:"))) {
        const QByteArray raw = QByteArray::fromHex(text.mid(4).toLatin1());
        if (raw.size() != m_size)
            return fail(QStringLiteral("\"%1\" is not %2 bytes in hex").arg(text, QString::number(m_size)));
        bytes = raw;
        return true;
    }
    const QStringList parts = text.split(QLatin1Char('/'));
    const bool pair = m_shape == Shape::F32Word || m_shape == Shape::S32Word || m_shape == Shape::U32Pair
        || m_shape == Shape::U64Pair;
    if (parts.size() > (pair ? 2 : 1))
        return fail(QStringLiteral("\"%1\" has too many parts").arg(text));
    bool ok = false;
    bool okWord = true;
    const QString first = parts.at(0).trimmed();
    const QString second = parts.size() > 1 ? parts.at(1).trimmed() : QString();
    switch (m_shape) {
    case Shape::U8: {
        const uint v = first.toUInt(&ok, 0);
        ok = ok && v <= 0xFF;
        *p = static_cast<char>(v);
        break;
    }
    case Shape::S8: {
        const int v = first.toInt(&ok, 0);
        ok = ok && v >= -128 && v <= 127;
        *p = static_cast<char>(v);
        break;
    }
    case Shape::U16: {
        const uint v = first.toUInt(&ok, 0);
        ok = ok && v <= 0xFFFF;
        store(p, static_cast<quint16>(v));
        break;
    }
    case Shape::S16: {
        const int v = first.toInt(&ok, 0);
        ok = ok && v >= -32768 && v <= 32767;
        store(p, static_cast<qint16>(v));
        break;
    }
    case Shape::U32:
        store(p, first.toUInt(&ok, 0));
        break;
    case Shape::S32:
        store(p, first.toInt(&ok, 0));
        break;
    case Shape::U64:
        store(p, first.toULongLong(&ok, 0));
        break;
    case Shape::S64:
        store(p, first.toLongLong(&ok, 0));
        break;
    case Shape::F32:
        storeFloat(p, first.toFloat(&ok));
        break;
    case Shape::F64:
        storeDouble(p, first.toDouble(&ok));
        break;
    case Shape::F32Word:
        storeFloat(p, first.toFloat(&ok));
        store(p + 4, second.isEmpty() ? m_validWord : second.toUInt(&okWord, 0));
        break;
    case Shape::S32Word:
        store(p, first.toInt(&ok, 0));
        store(p + 4, second.isEmpty() ? m_validWord : second.toUInt(&okWord, 0));
        break;
    case Shape::U32Pair:
        store(p, first.toUInt(&ok, 0));
        store(p + 4, second.isEmpty() ? 0u : second.toUInt(&okWord, 0));
        break;
    case Shape::U64Pair:
        store(p, first.toULongLong(&ok, 0));
        store(p + 8, second.isEmpty() ? Q_UINT64_C(0) : second.toULongLong(&okWord, 0));
        break;
    case Shape::None:
        break;
    }
    if (!ok || !okWord)
        return fail(QStringLiteral("\"%1\" is not a value of this type").arg(text));
    return true;
}

QString DEValueCodec::format(const char *p) const
{
    switch (m_shape) {
    case Shape::U8:
        return QString::number(static_cast<uchar>(*p));
    case Shape::S8:
        return QString::number(static_cast<signed char>(*p));
    case Shape::U16:
        return QString::number(load<quint16>(p));
    case Shape::S16:
        return QString::number(load<qint16>(p));
    case Shape::U32:
        return QString::number(load<quint32>(p));
    case Shape::S32:
        return QString::number(load<qint32>(p));
    case Shape::U64:
        return QString::number(load<quint64>(p));
    case Shape::S64:
        return QString::number(load<qint64>(p));
    case Shape::F32:
        return QString::number(loadFloat(p), 'g', 9);
    case Shape::F64:
        return QString::number(loadDouble(p), 'g', 17);
    case Shape::F32Word:
        return QStringLiteral("%1/%2").arg(QString::number(loadFloat(p), 'g', 9)).arg(load<quint32>(p + 4));
    case Shape::S32Word:
        return QStringLiteral("%1/%2").arg(load<qint32>(p)).arg(load<quint32>(p + 4));
    case Shape::U32Pair:
        return QStringLiteral("%1/%2").arg(load<quint32>(p)).arg(load<quint32>(p + 4));
    case Shape::U64Pair:
        return QStringLiteral("%1/%2").arg(load<quint64>(p)).arg(load<quint64>(p + 8));
    case Shape::None:
        break;
    }
    return QString();
}

void DEValueCodec::addStep(char *p, double step) const
{
    const qint64 whole = static_cast<qint64>(std::llround(step));
    switch (m_shape) {
    case Shape::U8: case Shape::S8:
        *p = static_cast<char>(*p + whole);
        break;
    case Shape::U16: case Shape::S16:
        store(p, static_cast<quint16>(load<quint16>(p) + whole));
        break;
    case Shape::U32: case Shape::S32: case Shape::S32Word: case Shape::U32Pair:
        store(p, static_cast<quint32>(load<quint32>(p) + whole));
        break;
    case Shape::U64: case Shape::S64: case Shape::U64Pair:
        store(p, static_cast<quint64>(load<quint64>(p) + static_cast<quint64>(whole)));
        break;
    case Shape::F32: case Shape::F32Word:
        storeFloat(p, static_cast<float>(loadFloat(p) + step));
        break;
    case Shape::F64:
        storeDouble(p, loadDouble(p) + step);
        break;
    case Shape::None:
        break;
    }
}
