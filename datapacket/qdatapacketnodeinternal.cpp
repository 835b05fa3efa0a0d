#include "qdatapacketnodeinternal.h"

#include "qdatapacketinternal.h"
#include "templateparse_p.h"

#include <QDomNamedNodeMap>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------------------
// Parse helpers

bool TemplateParse::fail(const QDomNode &where, const QString &reason)
{
    if (error.isEmpty()) {
        error = reason;
        line = where.lineNumber();
        column = where.columnNumber();
    }
    return false;
}

QString TemplateParse::intern(const QString &tag)
{
    auto it = tags.constFind(tag);
    if (it == tags.constEnd())
        it = tags.insert(tag, tag);
    return it.value();
}

namespace {

// Digit value of `c` in `base`, or -1.
int digitValue(QChar c, int base)
{
    const ushort u = c.unicode();
    const int d = (u >= '0' && u <= '9') ? u - '0'
        : (u >= 'a' && u <= 'f') ? u - 'a' + 10
        : (u >= 'A' && u <= 'F') ? u - 'A' + 10
        : -1;
    return d < base ? d : -1;
}

// Digits of `text` from `pos` in `base`, saturating just above the int range.
NumberRead readDigits(QStringView text, int base, qint64 &value)
{
    if (text.isEmpty())
        return NumberRead::Absent;
    constexpr qint64 kAboveInt = qint64(std::numeric_limits<int>::max()) + 2;
    qint64 v = 0;
    for (const QChar c : text) {
        const int d = digitValue(c, base);
        if (d < 0)
            return NumberRead::Absent;
        v = std::min(kAboveInt, v * base + d);
    }
    value = v;
    return NumberRead::Value;
}

} // namespace

NumberRead readDecimal(const QString &text, qint64 &value)
{
    QStringView t = QStringView(text).trimmed();
    bool negative = false;
    if (!t.isEmpty() && (t.front() == QLatin1Char('-') || t.front() == QLatin1Char('+'))) {
        negative = t.front() == QLatin1Char('-');
        t = t.mid(1);
    }
    qint64 magnitude = 0;
    if (readDigits(t, 10, magnitude) == NumberRead::Absent)
        return NumberRead::Absent;
    const qint64 v = negative ? -magnitude : magnitude;
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min())
        return NumberRead::TooLarge;
    value = v;
    return NumberRead::Value;
}

NumberRead readCount(const QDomElement &element, qint64 &count)
{
    count = 1;
    const QString text = element.attribute(QStringLiteral("count"));
    QStringView t = QStringView(text).trimmed();
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t = t.mid(2);
    } else if (t.size() > 1 && t.front() == QLatin1Char('0')) {
        base = 8;
        t = t.mid(1);
    }
    qint64 v = 0;
    if (readDigits(t, base, v) == NumberRead::Absent)
        return NumberRead::Absent;
    if (v > std::numeric_limits<int>::max())
        return NumberRead::TooLarge;
    count = v;
    return NumberRead::Value;
}

bool isNodeElement(const QDomElement &element)
{
    const QString tag = element.tagName();
    return tag == QLatin1String("section") || tag == QLatin1String("data");
}

namespace {

// Placement rules shared by the parser and by toDomElement(), which predicts
// what the parser would do.

// Where a node of `type` lands at the running offsets when it gives no
// offset: every type but BIT closes a partly used byte first.
void closePartialByte(qint64 &byteOffset, qint64 &bitOffset)
{
    if (bitOffset != 0) {
        bitOffset = 0;
        ++byteOffset;
    }
}

// Brings a bit number into 0..7, moving the byte offset accordingly.
void normaliseBit(qint64 &byteOffset, qint64 &bitOffset)
{
    qint64 bytes = bitOffset / 8;
    qint64 bit = bitOffset % 8;
    if (bit < 0) {
        bit += 8;
        --bytes;
    }
    byteOffset += bytes;
    bitOffset = bit;
}

// The running offsets after a placed node: the next bit after a BIT node,
// else the end of the node.
void advancePast(const DPDataTypeStruct &t, qint64 &byteOffset, qint64 &bitOffset)
{
    if (t.dataType == dpdtBit) {
        byteOffset = t.offset;
        bitOffset = t.bitOffset + 1;
        normaliseBit(byteOffset, bitOffset);
    } else {
        byteOffset = t.offset + t.size;
        bitOffset = 0;
    }
}

bool hasFixedSize(DPDataType t)
{
    return t != dpdtBit && DPDataTypeInfoOf(t).templateSize > 0;
}

// Byte order value of an `endian` text; -1 for any other text.
int endianOf(const QString &text)
{
    if (text == QLatin1String("IgnoreEndian"))
        return 0;
    if (text == QLatin1String("BigEndian"))
        return 1;
    if (text == QLatin1String("LittleEndian"))
        return 2;
    return -1;
}

QString endianText(int endian)
{
    switch (endian) {
    case 1:
        return QStringLiteral("BigEndian");
    case 2:
        return QStringLiteral("LittleEndian");
    default:
        return QStringLiteral("IgnoreEndian");
    }
}

// Whether values of byte order `endian` are stored opposite to the host's.
bool reversedOnHost(int endian)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    return endian == 1;
#else
    return endian == 2;
#endif
}

bool withinLimit(qint64 value)
{
    return value >= -QDataPacketInternal::MaxBytes && value <= QDataPacketInternal::MaxBytes;
}

inline QDataPacketNodeInternal *nodeOf(QObject *o)
{
    return static_cast<QDataPacketNodeInternal *>(o);
}

} // namespace

// ---------------------------------------------------------------------------
// Node

QDataPacketNodeInternal::QDataPacketNodeInternal(QDataPacketInternal *root, QDataPacketNodeInternal *parent)
    : QObject(parent)
    , m_packet(root)
{
}

QDataPacketNodeInternal::~QDataPacketNodeInternal() = default;

QDataPacketNodeInternal *QDataPacketNodeInternal::parentNode() const
{
    return nodeOf(parent());
}

void QDataPacketNodeInternal::deleteChildNodes()
{
    const QObjectList kids = children();
    for (QObject *child : kids)
        delete child;
}

QString QDataPacketNodeInternal::getXMLAttrValue(const QDomNode &node, const QString &name)
{
    const QDomNode attr = node.attributes().namedItem(name);
    return attr.isNull() ? QString() : attr.nodeValue();
}

bool QDataPacketNodeInternal::parseXMLSubTree(const QDomElement &element, qint64 &byteOffset, qint64 &bitOffset,
                                              bool expand, QChar jokerChar, unsigned long index,
                                              TemplateParse &parse)
{
    deleteChildNodes();
    m_tag = parse.intern(element.tagName());

    // One pass over the attributes; a template node has few of them.
    QString name, id, endian, datatype, metatype;
    QString numberText[4];
    enum { Size, LocalOffset, Offset, BitOffset };
    static const char *const kNumberNames[4] = {"size", "localoffset", "offset", "bitoffset"};
    bool metatypeGiven = false;
    m_kks.clear();
    m_rtm.clear();
    m_iid.clear();
    const QDomNamedNodeMap attrs = element.attributes();
    for (int i = 0, n = attrs.length(); i < n; ++i) {
        const QDomNode a = attrs.item(i);
        const QString an = a.nodeName();
        if (an == QLatin1String("name"))
            name = a.nodeValue();
        else if (an == QLatin1String("id"))
            id = a.nodeValue();
        else if (an == QLatin1String("kks"))
            m_kks = a.nodeValue();
        else if (an == QLatin1String("rtm"))
            m_rtm = a.nodeValue();
        else if (an == QLatin1String("iid"))
            m_iid = a.nodeValue();
        else if (an == QLatin1String("endian"))
            endian = a.nodeValue();
        else if (an == QLatin1String("datatype"))
            datatype = a.nodeValue();
        else if (an == QLatin1String("metatype")) {
            metatype = a.nodeValue();
            metatypeGiven = !metatype.isEmpty();
        } else {
            for (int k = 0; k < 4; ++k) {
                if (an == QLatin1String(kNumberNames[k]))
                    numberText[k] = a.nodeValue();
            }
        }
    }

    if (expand)
        name = QXmlTranslation::expandJokers(name, jokerChar, index);
    m_name = QXmlTranslation();
    m_name.setEngName(name);
    parse.root->indexNode(this);

    const QDataPacketNodeInternal *parent = parentNode();
    const int ownEndian = endianOf(endian);
    m_type = DPDataTypeStruct();
    m_type.endian = ownEndian >= 0 ? ownEndian : (parent ? parent->m_type.endian : 0);
    m_type.reverse = reversedOnHost(m_type.endian);

    qint64 number[4] = {0, 0, 0, 0};
    bool given[4] = {false, false, false, false};
    for (int k = 0; k < 4; ++k) {
        const NumberRead r = readDecimal(numberText[k], number[k]);
        if (r == NumberRead::TooLarge)
            return parse.fail(element, QStringLiteral("attribute %1=\"%2\" of <%3> does not fit an int")
                                           .arg(QLatin1String(kNumberNames[k]), numberText[k].trimmed(), m_tag));
        given[k] = r == NumberRead::Value;
    }
    const bool sizeGiven = given[Size] && number[Size] >= 0;
    bool offsetGiven = given[Offset];
    qint64 offset = number[Offset];
    if (!offsetGiven && given[LocalOffset]) {
        offsetGiven = true;
        offset = number[LocalOffset] + (parent ? parent->m_type.offset : 0);
    }

    m_type.dataType = StringToDPDataType(datatype, false);
    m_type.metaType = metatypeGiven ? StringToDPDataType(metatype, true) : m_type.dataType;
    const DPDataTypeInfo &info = DPDataTypeInfoOf(m_type.dataType);

    if (m_type.dataType == dpdtBit) {
        if (offsetGiven && offset != byteOffset) {
            byteOffset = offset;
            bitOffset = 0;
        }
        // A negative bit number is none (it would reach into the byte before,
        // another node's).
        if (given[BitOffset] && number[BitOffset] >= 0)
            bitOffset = number[BitOffset];
        normaliseBit(byteOffset, bitOffset);
        m_type.offset = byteOffset;
        m_type.bitOffset = bitOffset;
        m_type.bitCount = 1;
        m_type.size = 1;
        m_type.reverse = false;
    } else {
        closePartialByte(byteOffset, bitOffset);
        if (offsetGiven)
            byteOffset = offset;
        m_type.offset = byteOffset;
        if (hasFixedSize(m_type.dataType)) {
            m_type.size = info.templateSize;
            m_type.isSigned = info.isSigned;
            if (m_type.size == 1)
                m_type.reverse = false;
        } else {
            m_type.size = sizeGiven ? number[Size] : 0;
            m_type.reverse = false;
        }
    }
    if (!withinLimit(m_type.offset) || !withinLimit(m_type.offset + m_type.size))
        return parse.fail(element, QStringLiteral("<%1> \"%2\" lies at byte %3, beyond the %4 bytes a packet may have")
                                       .arg(m_tag, name, QString::number(m_type.offset), QString::number(QDataPacketInternal::MaxBytes)));

    // Children share the running offsets; a structure spans the furthest
    // of them, wherever explicit offsets put it.
    qint64 childrenEnd = std::numeric_limits<qint64>::min();
    QHash<QString, int> sameId; // tag and id of the children so far
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (isNodeElement(child)) {
            // The root's node count refused a count that does not fit
            // before any node was created.
            qint64 count = 1;
            readCount(child, count);
            const QString joker = child.attribute(QStringLiteral("joker"));
            const QChar childJoker = joker.isEmpty() ? QChar() : joker.at(0);
            for (qint64 i = 0; i < count; ++i) {
                auto *node = new QDataPacketNodeInternal(parse.root, this);
                node->m_documentIndex = parse.nextIndex++;
                if (!node->parseXMLSubTree(child, byteOffset, bitOffset, !joker.isEmpty(), childJoker,
                                           static_cast<unsigned long>(i), parse))
                    return false;
                childrenEnd = std::max(childrenEnd, node->m_extentEnd);
                node->m_sameIdNumber = ++sameId[node->m_tag + QChar() + node->m_id];
            }
        } else if (child.tagName() == QLatin1String("translation")
                   && child.attribute(QStringLiteral("attribute"), QStringLiteral("name")) == QLatin1String("name")) {
            if (expand)
                m_name.parseXMLSubTree(child, jokerChar, index);
            else
                m_name.parseXMLSubTree(child);
        }
    }

    // The id defaults to the name as the translations leave it (an "en"
    // translation names a node that has no name attribute).
    m_id = id.isEmpty() ? m_name.engName() : id;

    const bool spansChildren = m_type.dataType == dpdtNone || (!sizeGiven && !hasFixedSize(m_type.dataType)
                                                               && m_type.dataType != dpdtBit);
    if (spansChildren) {
        qint64 end = m_type.offset + m_type.size;
        if (!sizeGiven) {
            closePartialByte(byteOffset, bitOffset);
            end = std::max(end, byteOffset);
        }
        if (childrenEnd != std::numeric_limits<qint64>::min())
            end = std::max(end, childrenEnd);
        m_type.size = std::max<qint64>(0, end - m_type.offset);
    }
    advancePast(m_type, byteOffset, bitOffset);
    m_extentEnd = std::max(m_type.offset + m_type.size, childrenEnd);
    if (!withinLimit(m_extentEnd) || !withinLimit(byteOffset))
        return parse.fail(element, QStringLiteral("<%1> \"%2\" ends at byte %3, beyond the %4 bytes a packet may have")
                                       .arg(m_tag, name, QString::number(std::max(m_extentEnd, byteOffset)),
                                            QString::number(QDataPacketInternal::MaxBytes)));
    return true;
}

// ---------------------------------------------------------------------------
// Typed access

bool QDataPacketNodeInternal::fitsIn(qint64 bufferSize) const
{
    return m_type.offset >= 0 && m_type.size > 0 && m_type.offset <= bufferSize - m_type.size;
}

const char *QDataPacketNodeInternal::bytesIn(const QByteArray &buffer) const
{
    return fitsIn(buffer.size()) ? buffer.constData() + m_type.offset : nullptr;
}

char *QDataPacketNodeInternal::bytesIn(QByteArray &buffer) const
{
    return fitsIn(buffer.size()) ? buffer.data() + m_type.offset : nullptr;
}

namespace {

inline bool setOk(bool *ok, bool value)
{
    if (ok)
        *ok = value;
    return value;
}

// Copies `n` bytes, reversed as a whole when `reverse`.
inline void transfer(void *to, const void *from, size_t n, bool reverse)
{
    if (!reverse) {
        std::memcpy(to, from, n);
        return;
    }
    auto *d = static_cast<char *>(to);
    const auto *s = static_cast<const char *>(from);
    for (size_t i = 0; i < n; ++i)
        d[i] = s[n - 1 - i];
}

// Reads the node's field into a zeroed native `T`.
template<typename T>
inline bool readField(const char *p, const DPDataTypeStruct &t, T &value)
{
    value = T();
    if (!p)
        return false;
    transfer(&value, p, sizeof(T), t.reverse);
    return true;
}

template<typename T>
inline bool writeField(char *p, const DPDataTypeStruct &t, T value)
{
    if (!p)
        return false;
    transfer(p, &value, sizeof(T), t.reverse);
    return true;
}

enum class Group { None, Unsigned, Signed, Floating, Boolean };

Group groupOf(DPDataType t)
{
    switch (t) {
    case dpdtByte:
    case dpdtWord:
    case dpdtDWord:
    case dpdtBit:
        return Group::Unsigned;
    case dpdtSByte:
    case dpdtSWord:
    case dpdtSDWord:
        return Group::Signed;
    case dpdtFloat:
    case dpdtDouble:
        return Group::Floating;
    case dpdtBool:
        return Group::Boolean;
    default:
        return Group::None;
    }
}

// The 32-bit integer `value` stands for, for the integer setters: a
// floating value is rounded to the nearest; what is not finite, or lies
// outside what 32 bits hold (signed or unsigned), does not convert, so it is
// never stored as a wrapped number (a NaN as 0). A negative value for an
// unsigned field keeps its two's-complement bits, as a cast gives them.
bool variantToWord(const QVariant &value, qint64 *word)
{
    bool converted = false;
    qint64 v = 0;
    if (value.userType() == QMetaType::Double || value.userType() == QMetaType::Float) {
        const double d = value.toDouble(&converted);
        if (!converted || !std::isfinite(d) || std::fabs(d) >= 1e10)
            return false;
        v = qRound64(d);
    } else if (value.userType() == QMetaType::ULongLong || value.userType() == QMetaType::ULong) {
        // toLongLong would take 2^64-1 as -1.
        const qulonglong u = value.toULongLong(&converted);
        if (!converted || u > std::numeric_limits<quint32>::max())
            return false;
        v = static_cast<qint64>(u);
    } else {
        v = value.toLongLong(&converted);
        if (!converted)
            return false;
    }
    if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<quint32>::max())
        return false;
    *word = v;
    return true;
}

} // namespace

unsigned long QDataPacketNodeInternal::getULong(const QByteArray &buffer, bool *ok) const
{
    const char *p = bytesIn(buffer);
    switch (m_type.dataType) {
    case dpdtByte: {
        quint8 v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    case dpdtWord: {
        quint16 v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    case dpdtDWord: {
        quint32 v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    case dpdtBit:
        if (!setOk(ok, p != nullptr))
            return 0;
        return (static_cast<quint8>(*p) >> m_type.bitOffset) & 1u;
    case dpdtBool:
        if (!setOk(ok, p != nullptr))
            return 0;
        return *p != 0 ? 1 : 0;
    default:
        setOk(ok, false);
        return 0;
    }
}

long QDataPacketNodeInternal::getLong(const QByteArray &buffer, bool *ok) const
{
    const char *p = bytesIn(buffer);
    switch (m_type.dataType) {
    case dpdtSByte: {
        qint8 v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    case dpdtSWord: {
        qint16 v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    case dpdtSDWord: {
        qint32 v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    default:
        setOk(ok, false);
        return 0;
    }
}

double QDataPacketNodeInternal::getDouble(const QByteArray &buffer, bool *ok) const
{
    const char *p = bytesIn(buffer);
    switch (m_type.dataType) {
    case dpdtFloat: {
        float v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    case dpdtDouble: {
        double v;
        setOk(ok, readField(p, m_type, v));
        return v;
    }
    default:
        setOk(ok, false);
        return -1.0;
    }
}

int QDataPacketNodeInternal::setULong(QByteArray &buffer, unsigned long value, bool *ok) const
{
    bool done = false;
    switch (m_type.dataType) {
    case dpdtByte:
        done = writeField(bytesIn(buffer), m_type, static_cast<quint8>(value));
        break;
    case dpdtWord:
        done = writeField(bytesIn(buffer), m_type, static_cast<quint16>(value));
        break;
    case dpdtDWord:
        done = writeField(bytesIn(buffer), m_type, static_cast<quint32>(value));
        break;
    case dpdtBit:
        if (char *p = bytesIn(buffer)) {
            const quint8 mask = static_cast<quint8>(1u << m_type.bitOffset);
            *p = static_cast<char>(value ? (static_cast<quint8>(*p) | mask) : (static_cast<quint8>(*p) & ~mask));
            done = true;
        }
        break;
    case dpdtBool:
        if (char *p = bytesIn(buffer)) {
            *p = value ? 1 : 0;
            done = true;
        }
        break;
    default:
        break;
    }
    return setOk(ok, done) ? 0 : -1;
}

int QDataPacketNodeInternal::setLong(QByteArray &buffer, long value, bool *ok) const
{
    bool done = false;
    switch (m_type.dataType) {
    case dpdtSByte:
        done = writeField(bytesIn(buffer), m_type, static_cast<qint8>(value));
        break;
    case dpdtSWord:
        done = writeField(bytesIn(buffer), m_type, static_cast<qint16>(value));
        break;
    case dpdtSDWord:
        done = writeField(bytesIn(buffer), m_type, static_cast<qint32>(value));
        break;
    default:
        break;
    }
    return setOk(ok, done) ? 0 : -1;
}

int QDataPacketNodeInternal::setDouble(QByteArray &buffer, double value, bool *ok) const
{
    bool done = false;
    if (m_type.dataType == dpdtFloat)
        done = writeField(bytesIn(buffer), m_type, static_cast<float>(value));
    else if (m_type.dataType == dpdtDouble)
        done = writeField(bytesIn(buffer), m_type, value);
    return setOk(ok, done) ? 0 : -1;
}

QVariant QDataPacketNodeInternal::getVariant(const QByteArray &buffer, bool *ok) const
{
    bool read = false;
    QVariant result;
    switch (groupOf(m_type.dataType)) {
    case Group::Unsigned: {
        const unsigned long v = getULong(buffer, &read);
        if (read)
            result = static_cast<uint>(v);
        break;
    }
    case Group::Boolean: {
        const unsigned long v = getULong(buffer, &read);
        if (read)
            result = v != 0;
        break;
    }
    case Group::Signed: {
        const long v = getLong(buffer, &read);
        if (read)
            result = static_cast<int>(v);
        break;
    }
    case Group::Floating: {
        const double v = getDouble(buffer, &read);
        if (read)
            result = v;
        break;
    }
    case Group::None:
        break;
    }
    setOk(ok, read);
    return result;
}

int QDataPacketNodeInternal::setVariant(QByteArray &buffer, const QVariant &value, bool *ok) const
{
    bool converted = false;
    qint64 word = 0;
    switch (groupOf(m_type.dataType)) {
    case Group::Unsigned:
    case Group::Boolean:
        if (variantToWord(value, &word))
            return setULong(buffer, static_cast<uint>(word), ok);
        break;
    case Group::Signed:
        if (variantToWord(value, &word))
            return setLong(buffer, static_cast<int>(static_cast<uint>(word)), ok);
        break;
    case Group::Floating: {
        const double v = value.toDouble(&converted);
        if (converted)
            return setDouble(buffer, v, ok);
        break;
    }
    case Group::None:
        break;
    }
    setOk(ok, false);
    return -1;
}

void QDataPacketNodeInternal::reverseByteOrder(QByteArray &buffer, DPReverseType type) const
{
    if (type != ReverseAll && type != ReverseToBig && type != ReverseMarked)
        return;
    if (m_type.dataType != dpdtNone) {
        const int unit = DPDataTypeInfoOf(m_type.dataType).swapUnit;
        if (unit == 0)
            return;
        if ((type != ReverseMarked || m_type.reverse) && fitsIn(buffer.size()))
            swapBytesInArray(buffer.data() + m_type.offset, unit, static_cast<int>(m_type.size / unit));
    }
    for (QObject *child : children())
        nodeOf(child)->reverseByteOrder(buffer, type);
}

// ---------------------------------------------------------------------------
// Children and paths

QList<QDataPacketNodeInternal *> QDataPacketNodeInternal::childNodes() const
{
    QList<QDataPacketNodeInternal *> result;
    result.reserve(children().size());
    for (QObject *child : children())
        result.append(nodeOf(child));
    return result;
}

QList<QDataPacketNodeInternal *> QDataPacketNodeInternal::childNodesByTagName(const QString &tag) const
{
    QList<QDataPacketNodeInternal *> result;
    for (QObject *child : children()) {
        if (nodeOf(child)->m_tag == tag)
            result.append(nodeOf(child));
    }
    return result;
}

QList<QDataPacketNodeInternal *> QDataPacketNodeInternal::childNodesByID(const QString &id) const
{
    QList<QDataPacketNodeInternal *> result;
    for (QObject *child : children()) {
        if (nodeOf(child)->m_id == id)
            result.append(nodeOf(child));
    }
    return result;
}

QList<QDataPacketNodeInternal *> QDataPacketNodeInternal::childNodesByName(const QString &name) const
{
    QList<QDataPacketNodeInternal *> result;
    for (QObject *child : children()) {
        if (nodeOf(child)->name() == name)
            result.append(nodeOf(child));
    }
    return result;
}

QString QDataPacketNodeInternal::shortPath() const
{
    const QDataPacketNodeInternal *parent = parentNode();
    if (!parent)
        return m_tag;
    // An id with a double quote in it is quoted with single quotes, so that
    // the path still resolves; one with both kinds cannot be quoted at all,
    // so the node is named by its place among the siblings of its tag.
    const bool hasDouble = m_id.contains(QLatin1Char('"'));
    if (hasDouble && m_id.contains(QLatin1Char('\''))) {
        int place = 0;
        for (QObject *sibling : parent->children()) {
            if (nodeOf(sibling)->m_tag == m_tag)
                ++place;
            if (sibling == this)
                break;
        }
        return QStringLiteral("%1[%2]").arg(m_tag).arg(place);
    }
    const bool single = hasDouble;
    QString path = single ? QStringLiteral("%1[@id='%2']").arg(m_tag, m_id)
                          : QStringLiteral("%1[@id=\"%2\"]").arg(m_tag, m_id);
    if (m_sameIdNumber > 1)
        path += QStringLiteral("[%1]").arg(m_sameIdNumber);
    return path;
}

QString QDataPacketNodeInternal::fullPath() const
{
    const QDataPacketNodeInternal *parent = parentNode();
    if (!parent)
        return QStringLiteral("/%1").arg(m_tag);
    return QStringLiteral("%1/%2").arg(parent->fullPath(), shortPath());
}

namespace {

using Candidates = QVarLengthArray<QDataPacketNodeInternal *, 16>;

// Bounds one resolution. Without "..", each step examines every node of
// the tree at most once, so steps times nodes suffices; steps such as
// "section/.." could otherwise revisit the same nodes exponentially often.
struct PathWalk {
    PathWalk(QStringView path, const QDataPacketNodeInternal *anyNode)
    {
        const QDataPacketInternal *root = anyNode ? anyNode->packetInternal() : nullptr;
        budget = (path.count(QLatin1Char('/')) + 1) * (root ? root->nodeCount() : 1) + 64;
    }
    int depth = 0;
    qint64 budget; // candidate nodes still to examine
};
constexpr int kMaxPathDepth = 512;

QDataPacketNodeInternal *resolve(const QDataPacketNodeInternal *node, QStringView path, bool absoluteAllowed,
                                 PathWalk &walk);

void skipBlanks(QStringView s, qsizetype &pos)
{
    while (pos < s.size() && s.at(pos) == QLatin1Char(' '))
        ++pos;
}

// Applies the predicate starting at `pos` (on its "[") to `c`; false when it
// is malformed. `pos` ends after the "]".
bool applyPredicate(QStringView s, qsizetype &pos, Candidates &c)
{
    ++pos;
    skipBlanks(s, pos);
    if (pos >= s.size())
        return false;
    if (s.at(pos) == QLatin1Char('@')) {
        ++pos;
        skipBlanks(s, pos);
        const qsizetype nameStart = pos;
        while (pos < s.size() && s.at(pos) != QLatin1Char('=') && s.at(pos) != QLatin1Char(' ')
               && s.at(pos) != QLatin1Char(']'))
            ++pos;
        const QStringView attr = s.mid(nameStart, pos - nameStart);
        skipBlanks(s, pos);
        if (pos >= s.size() || s.at(pos) != QLatin1Char('='))
            return false;
        ++pos;
        skipBlanks(s, pos);
        if (pos >= s.size() || (s.at(pos) != QLatin1Char('"') && s.at(pos) != QLatin1Char('\'')))
            return false;
        const QChar quote = s.at(pos++);
        const qsizetype valueStart = pos;
        while (pos < s.size() && s.at(pos) != quote)
            ++pos;
        if (pos >= s.size())
            return false;
        const QStringView value = s.mid(valueStart, pos - valueStart);
        ++pos;
        skipBlanks(s, pos);
        if (pos >= s.size() || s.at(pos) != QLatin1Char(']'))
            return false;
        ++pos;
        const bool byId = attr == QLatin1String("id");
        if (!byId && attr != QLatin1String("name")) {
            c.clear();
            return true;
        }
        int kept = 0;
        for (QDataPacketNodeInternal *n : qAsConst(c)) {
            if (byId ? value == n->idName() : value == n->nameTranslation().engName())
                c[kept++] = n;
        }
        c.resize(kept);
        return true;
    }
    const qsizetype digitsStart = pos;
    qint64 n = 0;
    while (pos < s.size() && s.at(pos) >= QLatin1Char('0') && s.at(pos) <= QLatin1Char('9')) {
        n = std::min<qint64>(n * 10 + (s.at(pos).unicode() - '0'), std::numeric_limits<int>::max() + qint64(1));
        ++pos;
    }
    if (pos == digitsStart)
        return false;
    skipBlanks(s, pos);
    if (pos >= s.size() || s.at(pos) != QLatin1Char(']'))
        return false;
    ++pos;
    if (n < 1 || n > c.size()) {
        c.clear();
        return true;
    }
    QDataPacketNodeInternal *chosen = c[static_cast<int>(n - 1)];
    c.resize(1);
    c[0] = chosen;
    return true;
}

// Resolves `rest` (predicates, then nothing or "/" and further steps)
// against `c`.
QDataPacketNodeInternal *resolveAgainst(Candidates &c, QStringView rest, PathWalk &walk)
{
    qsizetype pos = 0;
    for (;;) {
        skipBlanks(rest, pos);
        if (pos >= rest.size() || rest.at(pos) != QLatin1Char('['))
            break;
        if (!applyPredicate(rest, pos, c))
            return nullptr;
    }
    if (pos >= rest.size())
        return c.isEmpty() ? nullptr : c.first();
    if (rest.at(pos) != QLatin1Char('/'))
        return nullptr;
    const QStringView below = rest.mid(pos + 1);
    for (QDataPacketNodeInternal *n : qAsConst(c)) {
        if (QDataPacketNodeInternal *hit = resolve(n, below, false, walk))
            return hit;
        if (walk.budget <= 0)
            return nullptr;
    }
    return nullptr;
}

QDataPacketNodeInternal *resolve(const QDataPacketNodeInternal *node, QStringView path, bool absoluteAllowed,
                                 PathWalk &walk)
{
    if (++walk.depth > kMaxPathDepth) {
        --walk.depth;
        walk.budget = -1; // backtracking from here would only fail again
        return nullptr;
    }
    struct Leave {
        PathWalk &w;
        ~Leave() { --w.depth; }
    } leave{walk};

    auto *self = const_cast<QDataPacketNodeInternal *>(node);
    if (path.isEmpty() || path == QLatin1String("."))
        return self;
    if (path == QLatin1String(".."))
        return node->parentNode();
    if (path.startsWith(QLatin1String("./")))
        return resolve(node, path.mid(2), false, walk);
    if (path.startsWith(QLatin1String("../"))) {
        const QDataPacketNodeInternal *parent = node->parentNode();
        return parent ? resolve(parent, path.mid(3), false, walk) : nullptr;
    }

    const auto stepEnd = [](QStringView s) {
        qsizetype i = 0;
        while (i < s.size() && s.at(i) != QLatin1Char('/') && s.at(i) != QLatin1Char('['))
            ++i;
        return i;
    };
    Candidates c;
    if (absoluteAllowed && path.front() == QLatin1Char('/')) {
        const QDataPacketNodeInternal *root = node;
        while (root->parentNode())
            root = root->parentNode();
        const QStringView rest = path.mid(1);
        const qsizetype end = stepEnd(rest);
        const QStringView step = rest.left(end).trimmed();
        if (!step.isEmpty() && step != root->tagName())
            return nullptr;
        c.append(const_cast<QDataPacketNodeInternal *>(root));
        return resolveAgainst(c, rest.mid(end), walk);
    }
    const qsizetype end = stepEnd(path);
    const QStringView step = path.left(end).trimmed();
    const QObjectList &kids = node->children();
    walk.budget -= kids.size();
    if (walk.budget < 0)
        return nullptr;
    for (QObject *child : kids) {
        QDataPacketNodeInternal *n = nodeOf(child);
        if (step.isEmpty() || step == n->tagName())
            c.append(n);
    }
    return resolveAgainst(c, path.mid(end), walk);
}

} // namespace

QDataPacketNodeInternal *QDataPacketNodeInternal::getNodeInternalByPath(QStringView path) const
{
    PathWalk walk(path, this);
    return resolve(this, path, true, walk);
}

QDataPacketNodeInternal *QDataPacketNodeInternal::getNodeInternalBySubPath(QList<QDataPacketNodeInternal *> &candidates,
                                                                           const QString &path)
{
    Candidates c;
    for (QDataPacketNodeInternal *n : qAsConst(candidates)) {
        if (n)
            c.append(n);
    }
    PathWalk walk(path, c.isEmpty() ? nullptr : c.first());
    return resolveAgainst(c, path, walk);
}

// ---------------------------------------------------------------------------
// Writing back

QDomElement QDataPacketNodeInternal::toDomElement(QDomDocument &doc, qint64 expectedOffset, qint64 expectedBitOffset,
                                                  DOMstyle style) const
{
    QDomElement element = doc.createElement(m_tag);
    toDomElementInto(doc, element, expectedOffset, expectedBitOffset, style);
    return element;
}

void QDataPacketNodeInternal::toDomElementInto(QDomDocument &doc, QDomElement &e, qint64 expectedOffset,
                                               qint64 expectedBitOffset, DOMstyle style) const
{
    const bool full = style != DOMCompact;
    const QDataPacketNodeInternal *parent = parentNode();
    const QString name = m_name.engName();

    e.setAttribute(QStringLiteral("name"), name);
    m_name.addToXMLNode(doc, e, QStringLiteral("name"));
    if (full || m_id != name)
        e.setAttribute(QStringLiteral("id"), m_id);
    if (full || m_type.endian != (parent ? parent->m_type.endian : 0))
        e.setAttribute(QStringLiteral("endian"), endianText(m_type.endian));
    if (!m_kks.isEmpty())
        e.setAttribute(QStringLiteral("kks"), m_kks);
    if (!m_rtm.isEmpty())
        e.setAttribute(QStringLiteral("rtm"), m_rtm);
    if (!m_iid.isEmpty())
        e.setAttribute(QStringLiteral("iid"), m_iid);
    // A section or the root may carry a data type too: writing it only for
    // data elements would lose it.
    if (m_tag == QLatin1String("data") || m_type.dataType != dpdtNone) {
        const QString typeName = DPDataTypeToString(m_type.dataType);
        e.setAttribute(QStringLiteral("datatype"),
                       m_type.dataType == dpdtNone || typeName == QLatin1String("?") ? QStringLiteral("NONE")
                                                                                      : typeName);
    }
    if (m_type.metaType != m_type.dataType)
        e.setAttribute(QStringLiteral("metatype"), DPDataTypeToString(m_type.metaType));

    // Where the parser would put the node without offsets.
    qint64 predictedByte = expectedOffset;
    qint64 predictedBit = expectedBitOffset;
    const bool bit = m_type.dataType == dpdtBit;
    if (!bit)
        closePartialByte(predictedByte, predictedBit);
    if (full || m_type.offset != predictedByte)
        e.setAttribute(QStringLiteral("localoffset"), m_type.offset - (parent ? parent->m_type.offset : 0));
    if (bit) {
        if (m_type.offset != expectedOffset)
            predictedBit = 0;
        if (full || m_type.bitOffset != predictedBit)
            e.setAttribute(QStringLiteral("bitoffset"), m_type.bitOffset);
    }

    qint64 runningByte = m_type.offset;
    qint64 runningBit = bit ? m_type.bitOffset : 0;
    for (QObject *child : children()) {
        const QDataPacketNodeInternal *node = nodeOf(child);
        e.appendChild(node->toDomElement(doc, runningByte, runningBit, style));
        advancePast(node->m_type, runningByte, runningBit);
    }

    if (!bit) {
        const qint64 natural = m_type.dataType == dpdtExtended ? 16 : DPDataTypeInfoOf(m_type.dataType).templateSize;
        if (full || m_type.size != natural)
            e.setAttribute(QStringLiteral("size"), m_type.size);
    }
}
