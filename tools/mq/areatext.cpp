#include "areatext.h"

#include "config/deftieparam.h"
#include "config/deftieunit.h"
#include "config/qdeffilestruct.h"
#include "core/clock.h"

#include <QDateTime>
#include <QTextCodec>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// What one element of a record holds: its value and, for valued types,
// a sign word after it.
struct Layout {
    enum Kind { None, Signed, Unsigned, Real, Bool, TimeVal, TimeSpec, TimeSpec64 };
    enum Sign { NoSign, Valid, State, Error };
    Kind kind;
    int valueBytes;
    Sign sign;
    int signOffset;
    int signBytes;
};

// By the definition file's type code (1 "type_timeval" ... 22 "type_uint64").
Layout layoutOf(int code)
{
    static const Layout kLayouts[] = {
        {Layout::None, 0, Layout::NoSign, 0, 0},
        {Layout::TimeVal, 8, Layout::NoSign, 0, 0},      // type_timeval
        {Layout::Real, 4, Layout::Valid, 4, 4},          // type_rval
        {Layout::Signed, 4, Layout::Valid, 4, 4},        // type_ival
        {Layout::Real, 4, Layout::State, 4, 4},          // type_srval
        {Layout::Signed, 4, Layout::State, 4, 4},        // type_sival
        {Layout::Signed, 4, Layout::NoSign, 0, 0},       // type_longint
        {Layout::Real, 4, Layout::NoSign, 0, 0},         // type_float
        {Layout::Signed, 2, Layout::NoSign, 0, 0},       // type_shortint
        {Layout::Unsigned, 2, Layout::NoSign, 0, 0},     // type_binshortint
        {Layout::Real, 8, Layout::NoSign, 0, 0},         // type_double
        {Layout::Signed, 2, Layout::Error, 2, 2},        // type_errshortintval
        {Layout::Signed, 4, Layout::Error, 4, 4},        // type_errival
        {Layout::Real, 4, Layout::Error, 4, 4},          // type_errrval
        {Layout::Signed, 1, Layout::NoSign, 0, 0},       // type_sbyte
        {Layout::Bool, 1, Layout::NoSign, 0, 0},         // type_binbyte
        {Layout::TimeSpec, 8, Layout::NoSign, 0, 0},     // type_timespec
        {Layout::Real, 8, Layout::NoSign, 0, 0},         // type_doubledaysecsuts
        {Layout::Real, 8, Layout::NoSign, 0, 0},         // type_doubledaysecslocal
        {Layout::Unsigned, 4, Layout::NoSign, 0, 0},     // type_longuint
        {Layout::TimeSpec64, 16, Layout::NoSign, 0, 0},  // type_timespec64
        {Layout::Signed, 8, Layout::NoSign, 0, 0},       // type_int64
        {Layout::Unsigned, 8, Layout::NoSign, 0, 0},     // type_uint64
    };
    const int count = static_cast<int>(sizeof kLayouts / sizeof kLayouts[0]);
    return code > 0 && code < count ? kLayouts[code] : kLayouts[0];
}

qint64 readSigned(const uchar *p, int bytes)
{
    switch (bytes) {
    case 1: return static_cast<qint8>(*p);
    case 2: { qint16 v; std::memcpy(&v, p, 2); return v; }
    case 4: { qint32 v; std::memcpy(&v, p, 4); return v; }
    default: { qint64 v; std::memcpy(&v, p, 8); return v; }
    }
}

quint64 readUnsigned(const uchar *p, int bytes)
{
    quint64 v = 0;
    std::memcpy(&v, p, static_cast<size_t>(bytes)); // little-endian host
    return v;
}

void writeUnsigned(uchar *p, int bytes, quint64 v)
{
    std::memcpy(p, &v, static_cast<size_t>(bytes)); // little-endian host
}

// 10^digits: the sub-second units in one second.
qint64 units(int digits)
{
    qint64 u = 1;
    for (int i = 0; i < digits; ++i)
        u *= 10;
    return u;
}

// Seconds and a fraction of `fractionDigits` digits as "s.fffff", with the UTC date.
QString timeText(qint64 seconds, qint64 fraction, int fractionDigits)
{
    const qint64 units = ::units(fractionDigits);
    if (fraction < 0 || fraction >= units)
        return QStringLiteral("%1 s and %2 (no time: the fraction is out of range)").arg(seconds).arg(fraction);
    // The seconds are the whole seconds at or before the instant and the
    // fraction counts on from there, so (-2, .5) is -1.5.
    const bool negative = seconds < 0 && fraction > 0;
    const QString whole = negative ? QStringLiteral("-%1").arg(-(seconds + 1)) : QString::number(seconds);
    const QString digits = QString::number(negative ? units - fraction : fraction)
                               .rightJustified(fractionDigits, QLatin1Char('0'));
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    return QStringLiteral("%1.%2 (%3)").arg(whole, digits, when.toString(Qt::ISODate));
}

QString elementText(const Layout &layout, const uchar *p)
{
    QString text;
    switch (layout.kind) {
    case Layout::Signed: text = QString::number(readSigned(p, layout.valueBytes)); break;
    case Layout::Unsigned:
    case Layout::Bool: text = QString::number(readUnsigned(p, layout.valueBytes)); break;
    case Layout::Real:
        if (layout.valueBytes == 4) {
            float f;
            std::memcpy(&f, p, 4);
            text = QString::number(static_cast<double>(f), 'g', 7);
        } else {
            double d;
            std::memcpy(&d, p, 8);
            text = QString::number(d, 'g', 15);
        }
        break;
    case Layout::TimeVal: text = timeText(qint64(readUnsigned(p, 4)), qint64(readUnsigned(p + 4, 4)), 6); break;
    case Layout::TimeSpec: text = timeText(qint64(readUnsigned(p, 4)), qint64(readUnsigned(p + 4, 4)), 9); break;
    case Layout::TimeSpec64: text = timeText(readSigned(p, 8), readSigned(p + 8, 8), 9); break;
    case Layout::None: return QStringLiteral("?");
    }
    static const char *const kSignNames[] = {"", "valid", "state", "error"};
    if (layout.sign != Layout::NoSign)
        text += QStringLiteral(" [%1 %2]")
                    .arg(QLatin1String(kSignNames[layout.sign]))
                    .arg(readUnsigned(p + layout.signOffset, layout.signBytes));
    return text;
}

// "s[.fraction]" or "now" into the whole seconds at or before that instant
// and the fraction of `fractionDigits` digits on from them (-1.5 is -2 and
// .5), as the gateway reads the two words.
bool parseTime(const QString &text, int fractionDigits, qint64 &seconds, qint64 &fraction)
{
    if (text == QLatin1String("now")) {
        const qint64 ms = Clock::nowUtc().toMSecsSinceEpoch();
        seconds = ms / 1000;
        fraction = (ms % 1000) * (fractionDigits == 6 ? 1000 : 1000000);
        return true;
    }
    const int dot = text.indexOf(QLatin1Char('.'));
    bool ok = false;
    seconds = text.left(dot).toLongLong(&ok);
    if (!ok)
        return false;
    fraction = 0;
    if (dot < 0)
        return true;
    const QString digits = text.mid(dot + 1);
    if (digits.isEmpty() || digits.size() > fractionDigits)
        return false;
    fraction = digits.leftJustified(fractionDigits, QLatin1Char('0')).toLongLong(&ok);
    if (!ok || digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+')))
        return false;
    // The sign is the text's: "-0.5" has whole seconds of 0.
    if (text.startsWith(QLatin1Char('-')) && fraction > 0) {
        if (seconds == std::numeric_limits<qint64>::min())
            return false;
        seconds -= 1;
        fraction = units(fractionDigits) - fraction;
    }
    return true;
}

// Writes the value text `text` into the element at `p`; false when the type cannot hold it.
bool writeValue(const Layout &layout, const QString &text, uchar *p)
{
    bool ok = false;
    switch (layout.kind) {
    case Layout::Signed: {
        const qint64 v = text.toLongLong(&ok, 0);
        const int bits = 8 * layout.valueBytes;
        const qint64 min = bits == 64 ? std::numeric_limits<qint64>::min() : -(qint64(1) << (bits - 1));
        const qint64 max = bits == 64 ? std::numeric_limits<qint64>::max() : (qint64(1) << (bits - 1)) - 1;
        if (!ok || v < min || v > max)
            return false;
        writeUnsigned(p, layout.valueBytes, static_cast<quint64>(v));
        return true;
    }
    case Layout::Unsigned:
    case Layout::Bool: {
        quint64 v = 0;
        if (layout.kind == Layout::Bool && (text == QLatin1String("true") || text == QLatin1String("false"))) {
            v = text == QLatin1String("true") ? 1 : 0;
            ok = true;
        } else {
            v = text.startsWith(QLatin1Char('-')) ? 0 : text.toULongLong(&ok, 0);
            ok = ok && !text.startsWith(QLatin1Char('-'));
        }
        const int bits = 8 * layout.valueBytes;
        if (!ok || (bits < 64 && v > (quint64(1) << bits) - 1))
            return false;
        writeUnsigned(p, layout.valueBytes, v);
        return true;
    }
    case Layout::Real: {
        const double d = text.toDouble(&ok);
        if (!ok)
            return false;
        if (layout.valueBytes == 4) {
            // A finite number past the float range would become infinity.
            if (std::isfinite(d) && std::fabs(d) > double(std::numeric_limits<float>::max()))
                return false;
            const float f = static_cast<float>(d);
            std::memcpy(p, &f, 4);
        } else {
            std::memcpy(p, &d, 8);
        }
        return true;
    }
    case Layout::TimeVal:
    case Layout::TimeSpec:
    case Layout::TimeSpec64: {
        qint64 seconds = 0, fraction = 0;
        if (!parseTime(text, layout.kind == Layout::TimeVal ? 6 : 9, seconds, fraction))
            return false;
        // The gateway reads 32-bit seconds as unsigned (up to 2106).
        const int half = layout.valueBytes / 2;
        if (half == 4 && (seconds < 0 || seconds > std::numeric_limits<quint32>::max()))
            return false;
        writeUnsigned(p, half, static_cast<quint64>(seconds));
        writeUnsigned(p + half, half, static_cast<quint64>(fraction));
        return true;
    }
    case Layout::None: break;
    }
    return false;
}

} // namespace

AreaText::AreaText()
    : m_unit(new DefTieUnit)
{
    m_tie.addUnit(m_unit);
}

AreaText::~AreaText() = default;

quint64 AreaText::size() const
{
    return m_unit->unitSize();
}

bool AreaText::load(const QString &path)
{
    m_path = path;
    const int result = m_unit->defStruct().loadFile(path, QTextCodec::codecForName("KOI8-R"));
    if (result != QDefFileStruct::dfrOk) {
        m_error = QStringLiteral("cannot read the definition file %1 (%2)").arg(path, QString::number(result));
        return false;
    }
    if (m_unit->unitSize() > MQTie::MaxMessageBytes) {
        m_error = QStringLiteral("the area of %1 takes %2 bytes, more than a queue message carries")
                      .arg(path, QString::number(m_unit->unitSize()));
        return false;
    }
    // The one unit's size is the tie's memory.
    m_tie.setAreaSize(m_unit->unitSize());
    m_unit->refreshParams();
    return true;
}

bool AreaText::build(const QStringList &assignments, QByteArray &message)
{
    m_unit->init(); // every record invalid
    for (const QString &assignment : assignments) {
        if (!assign(assignment))
            return false;
    }
    message = QByteArray(reinterpret_cast<const char *>(m_unit->data()), static_cast<int>(size()));
    return true;
}

bool AreaText::assign(const QString &assignment)
{
    const int eq = assignment.indexOf(QLatin1Char('='));
    const QString name = assignment.left(eq).trimmed();
    if (eq <= 0 || name.isEmpty()) {
        m_error = QStringLiteral("\"%1\" is not name=value").arg(assignment);
        return false;
    }
    DefTieParam *param = nullptr;
    for (BaseTieParam *candidate : m_unit->params()) {
        auto *def = static_cast<DefTieParam *>(candidate);
        if (def && def->defRecord() && def->defRecord()->name == name)
            param = def; // the last record of a name, as the gateway finds it
    }
    if (!param) {
        m_error = QStringLiteral("no record \"%1\" in %2").arg(name, m_path);
        return false;
    }
    const QDefRecord *record = param->defRecord();
    const Layout layout = layoutOf(record->type);
    uchar *storage = param->valuesForWrite();
    if (layout.kind == Layout::None || !storage) {
        m_error = QStringLiteral("record \"%1\" cannot be written (unsupported type, or outside the area)").arg(name);
        return false;
    }
    const QStringList values = assignment.mid(eq + 1).split(QLatin1Char(','));
    if (static_cast<size_t>(values.size()) > param->count()) {
        m_error = QStringLiteral("record \"%1\" has %2 elements, %3 values given")
                      .arg(name, QString::number(param->count()), QString::number(values.size()));
        return false;
    }
    const int stride = QDefFileStruct::elementBytesOf(record->type);
    for (int i = 0; i < values.size(); ++i) {
        uchar *element = storage + i * stride;
        const QString given = values.at(i).trimmed();
        const int slash = given.indexOf(QLatin1Char('/'));
        const QString valueText = slash < 0 ? given : given.left(slash);
        if (!writeValue(layout, valueText, element)) {
            m_error = QStringLiteral("\"%1\" is not a value of the %2 record \"%3\"")
                          .arg(valueText, QDefFileStruct::keywordOf(record->type), name);
            return false;
        }
        if (layout.sign == Layout::NoSign) {
            if (slash >= 0) {
                m_error = QStringLiteral("record \"%1\" (%2) has no sign word")
                              .arg(name, QDefFileStruct::keywordOf(record->type));
                return false;
            }
            continue;
        }
        quint64 sign = layout.sign == Layout::Valid ? 1 : 0;
        bool ok = true;
        if (slash >= 0)
            sign = given.mid(slash + 1).toULongLong(&ok, 0);
        if (!ok || (layout.signBytes < 8 && sign > (quint64(1) << (8 * layout.signBytes)) - 1)) {
            m_error = QStringLiteral("\"%1\" is not a sign word of record \"%2\"").arg(given.mid(slash + 1), name);
            return false;
        }
        writeUnsigned(element + layout.signOffset, layout.signBytes, sign);
    }
    return true;
}

QStringList AreaText::decode(const QByteArray &message)
{
    if (static_cast<quint64>(message.size()) != size())
        return {QStringLiteral("  (%1 bytes: the area of %2 takes %3 bytes)")
                    .arg(message.size())
                    .arg(m_path)
                    .arg(size())};
    std::memcpy(m_unit->data(), message.constData(), static_cast<size_t>(message.size()));
    QStringList lines;
    for (BaseTieParam *candidate : m_unit->params()) {
        auto *param = static_cast<DefTieParam *>(candidate);
        if (!param || !param->defRecord())
            continue;
        const QDefRecord *record = param->defRecord();
        const Layout layout = layoutOf(record->type);
        const uchar *storage = param->values();
        if (layout.kind == Layout::None || !storage) {
            lines << QStringLiteral("  %1: not decoded (unsupported type or outside the area)").arg(record->name);
            continue;
        }
        QStringList elements;
        const int stride = QDefFileStruct::elementBytesOf(record->type);
        for (size_t i = 0; i < param->count(); ++i)
            elements << elementText(layout, storage + i * static_cast<size_t>(stride));
        lines << QStringLiteral("  %1 = %2").arg(record->name, elements.join(QLatin1String(", ")));
    }
    return lines;
}
