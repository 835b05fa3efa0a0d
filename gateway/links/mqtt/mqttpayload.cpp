#include "links/mqtt/mqttpayload.h"

#include "core/basetieparam.h"
#include "core/gatelog.h"
#include "core/paramtypetraits.h"

#include <dpdatatype.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// How the value of element 0 is laid out.
enum class Form : quint8 {
    None, // cannot travel
    U8, S8, U16, S16, U32, S32, U64, S64,
    F32, F64,
    Bool,
    TimeT32,   // 32-bit seconds since 1970
    TimeVal,   // 32-bit seconds, 32-bit microseconds
    TimeSpec,  // 32-bit seconds, 32-bit nanoseconds
    TimeSpec64 // 64-bit seconds, 64-bit nanoseconds
};

// The sign that follows the value in the element, and the JSON key it goes by.
enum class Extra : quint8 {
    None,
    Valid,  // 32-bit valid word at byte 4 (1 valid, 0 not); carried by "valid" alone
    State,  // 32-bit state word at byte 4: "state"
    Code,   // 32-bit error code at byte 4: "code"
    Code16, // 16-bit error code at byte 2: "code"
    Status  // 32-bit status word at byte 4: "state"
};

struct Carrier {
    Form form;
    Extra extra;
};

constexpr Carrier kNone = {Form::None, Extra::None};

// By data type (DPDataType value 0..43). Types whose element is a sign by
// itself (KIVALID, ERRCODEDWORD, WORDDISCRETE ...) carry that word as the value.
constexpr Carrier kCarriers[] = {
    kNone,                            // 0 -
    {Form::U8, Extra::None},          // 1 BYTE
    {Form::S8, Extra::None},          // 2 SBYTE
    {Form::U16, Extra::None},         // 3 WORD
    {Form::S16, Extra::None},         // 4 SWORD
    {Form::U32, Extra::None},         // 5 DWORD
    {Form::S32, Extra::None},         // 6 SDWORD
    {Form::U64, Extra::None},         // 7 QWORD
    {Form::S64, Extra::None},         // 8 SQWORD
    {Form::F32, Extra::None},         // 9 FLOAT
    {Form::F64, Extra::None},         // 10 DOUBLE
    kNone,                            // 11 extended precision
    kNone,                            // 12 BIT
    kNone,                            // 13
    kNone,                            // 14
    {Form::Bool, Extra::None},        // 15 BOOL
    kNone,                            // 16 ASCIIZ
    kNone,                            // 17 SM2MCODE
    {Form::F32, Extra::Valid},        // 18 FLOATVALID
    {Form::S32, Extra::Valid},        // 19 SDWORDVALID
    {Form::TimeT32, Extra::None},     // 20 TIME_T32
    {Form::F32, Extra::State},        // 21 FLOATSTATE
    {Form::S32, Extra::State},        // 22 SDWORDSTATE
    {Form::TimeVal, Extra::None},     // 23 TIMEVAL
    kNone,                            // 24 BLOBQSTRING
    {Form::S32, Extra::None},         // 25 KIVALID
    {Form::S32, Extra::None},         // 26 KISTATE
    {Form::S32, Extra::None},         // 27 ERRCODEDWORD
    {Form::U16, Extra::None},         // 28 TAVRIKDWORD
    {Form::U8, Extra::None},          // 29 TAVRIKBYTE
    {Form::F32, Extra::Code},         // 30 FLOATERRCODE
    {Form::S32, Extra::Code},         // 31 SDWORDERRCODE
    {Form::U16, Extra::None},         // 32 WORDDISCRETE
    {Form::F32, Extra::Status},       // 33 DTSFLOAT
    {Form::S32, Extra::Status},       // 34 DTSSDWORD
    {Form::S32, Extra::Status},       // 35 DTSSDWORDDISCRETE
    {Form::S16, Extra::Code16},       // 36 SWORDERRCODE
    {Form::S16, Extra::None},         // 37 ERRCODEWORD
    {Form::TimeSpec, Extra::None},    // 38 TIMESPEC
    kNone,                            // 39 TIMEWITHMSECS
    {Form::F64, Extra::None},         // 40 DOUBLEDAYSECSUTC
    {Form::F64, Extra::None},         // 41 DOUBLEDAYSECSLOCAL
    kNone,                            // 42 DOUBLEVALID
    {Form::TimeSpec64, Extra::None},  // 43 TIMESPEC64
};

static_assert(sizeof kCarriers / sizeof kCarriers[0] == DPDataTypeCount, "one row per data type");

Carrier carrierOf(quint32 type)
{
    return type < static_cast<quint32>(DPDataTypeCount) ? kCarriers[type] : kNone;
}

int valueBytes(Form form)
{
    switch (form) {
    case Form::U8: case Form::S8: case Form::Bool: return 1;
    case Form::U16: case Form::S16: return 2;
    case Form::U32: case Form::S32: case Form::F32: case Form::TimeT32: return 4;
    case Form::U64: case Form::S64: case Form::F64: case Form::TimeVal: case Form::TimeSpec: return 8;
    case Form::TimeSpec64: return 16;
    case Form::None: break;
    }
    return 0;
}

int bytesOf(Carrier c)
{
    switch (c.extra) {
    case Extra::Valid: case Extra::State: case Extra::Code: case Extra::Status: return 8;
    case Extra::Code16: return 4;
    case Extra::None: break;
    }
    return valueBytes(c.form);
}

bool isTime(Form form)
{
    return form == Form::TimeT32 || form == Form::TimeVal || form == Form::TimeSpec || form == Form::TimeSpec64;
}

template<typename T>
T get(const uchar *p, int offset = 0)
{
    T v;
    std::memcpy(&v, p + offset, sizeof v);
    return v;
}

template<typename T>
void put(uchar *p, int offset, T v)
{
    std::memcpy(p + offset, &v, sizeof v);
}

template<typename T>
void appendNumber(QByteArray &out, T v)
{
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<int>(r.ptr - buf));
}

// The first and last instant "yyyy-MM-dd" can show (years 0000 to 9999).
constexpr qint64 kFirstIsoMsecs = -62167219200000LL;
constexpr qint64 kLastIsoMsecs = 253402300799999LL;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The time value of element 0 in milliseconds since 1970; false when it
// lies outside the years an ISO text can show.
// The seconds and the whole milliseconds of a fraction counted in
// `perSecond` units, from two 32-bit words; false when the fraction is a
// whole second or more (all ones is the invalid pattern).
bool secondsAndFraction(const uchar *p, quint32 perSecond, qint64 &seconds, qint64 &millis)
{
    const quint32 fraction = get<quint32>(p, 4);
    seconds = get<quint32>(p);
    millis = fraction / (perSecond / 1000);
    return fraction < perSecond;
}

bool timeOf(Form form, const uchar *p, qint64 &msecs)
{
    qint64 seconds = 0;
    qint64 millis = 0;
    switch (form) {
    case Form::TimeT32: seconds = get<quint32>(p); break;
    case Form::TimeVal:
        if (!secondsAndFraction(p, 1000000, seconds, millis))
            return false;
        break;
    case Form::TimeSpec:
        if (!secondsAndFraction(p, 1000000000, seconds, millis))
            return false;
        break;
    case Form::TimeSpec64: {
        seconds = get<qint64>(p);
        const qint64 nanos = get<qint64>(p, 8);
        if (seconds < kFirstIsoMsecs / 1000 || seconds > kLastIsoMsecs / 1000 || nanos < 0 || nanos > 999999999)
            return false;
        millis = nanos / 1000000;
        break;
    }
    default: return false;
    }
    msecs = seconds * 1000 + millis;
    return msecs >= kFirstIsoMsecs && msecs <= kLastIsoMsecs;
}

// Appends the value of element 0; false when it is no finite number or
// time (written as null).
bool appendValue(QByteArray &out, Form form, const uchar *p)
{
    switch (form) {
    case Form::U8: appendNumber(out, unsigned(get<quint8>(p))); return true;
    case Form::S8: appendNumber(out, int(get<qint8>(p))); return true;
    case Form::U16: appendNumber(out, unsigned(get<quint16>(p))); return true;
    case Form::S16: appendNumber(out, int(get<qint16>(p))); return true;
    case Form::U32: appendNumber(out, get<quint32>(p)); return true;
    case Form::S32: appendNumber(out, get<qint32>(p)); return true;
    case Form::U64: appendNumber(out, get<quint64>(p)); return true;
    case Form::S64: appendNumber(out, get<qint64>(p)); return true;
    case Form::F32: {
        const float v = get<float>(p);
        if (!std::isfinite(v))
            break;
        appendNumber(out, v);
        return true;
    }
    case Form::F64: {
        const double v = get<double>(p);
        if (!std::isfinite(v))
            break;
        appendNumber(out, v);
        return true;
    }
    case Form::Bool: out += get<quint8>(p) ? "true" : "false"; return true;
    case Form::TimeT32: case Form::TimeVal: case Form::TimeSpec: case Form::TimeSpec64: {
        qint64 msecs = 0;
        if (!timeOf(form, p, msecs))
            break;
        out += '"';
        MqttPayload::appendIsoTime(out, msecs);
        out += '"';
        return true;
    }
    case Form::None: break;
    }
    out += "null";
    return false;
}

// The JSON string whose opening quote is at `json[i]`, decoded into `out`;
// the index of its closing quote, or -1 when it is not closed.
int readJsonString(const QByteArray &json, int i, QString &out)
{
    out.clear();
    int run = i + 1; // start of the bytes not yet taken
    for (int k = i + 1; k < json.size(); ++k) {
        const char ch = json.at(k);
        if (ch == '"') {
            out += QString::fromUtf8(json.constData() + run, k - run);
            return k;
        }
        if (ch != '\\')
            continue;
        out += QString::fromUtf8(json.constData() + run, k - run);
        if (++k >= json.size())
            return -1;
        switch (json.at(k)) {
        case 'b': out += QLatin1Char('\b'); break;
        case 'f': out += QLatin1Char('\f'); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'u': {
            bool ok = false;
            const ushort unit = json.mid(k + 1, 4).toUShort(&ok, 16);
            if (ok)
                k += 4;
            out += QChar(ok ? unit : ushort('?'));
            break;
        }
        default: out += QLatin1Char(json.at(k)); break; // " \ / and what the parser refuses
        }
        run = k + 1;
    }
    return -1;
}

// True when an object anywhere in `json` names a key twice. The JSON parser
// keeps the last value of such a key but loses the memory of an earlier
// one that was an array or an object, so a sender repeating such messages
// would grow the gateway without bound; they are refused before parsing.
bool hasRepeatedKey(const QByteArray &json)
{
    struct Level {
        bool object;
        bool keyNext;
        QSet<QString> keys;
    };
    std::vector<Level> levels;
    QString text;
    for (int i = 0; i < json.size(); ++i) {
        switch (json.at(i)) {
        case '"': {
            const int end = readJsonString(json, i, text);
            if (end < 0)
                return false; // not closed: the parser refuses it
            if (!levels.empty() && levels.back().object && levels.back().keyNext) {
                if (levels.back().keys.contains(text))
                    return true;
                levels.back().keys.insert(text);
                levels.back().keyNext = false;
            }
            i = end;
            break;
        }
        case '{': levels.push_back({true, true, {}}); break;
        case '[': levels.push_back({false, false, {}}); break;
        case '}': case ']':
            if (!levels.empty())
                levels.pop_back();
            break;
        case ',':
            if (!levels.empty() && levels.back().object)
                levels.back().keyNext = true;
            break;
        default: break;
        }
    }
    return false;
}

// One value as it came in.
struct Input {
    enum Kind { Null, Number, Boolean, Text } kind = Null;
    double number = 0;
    bool boolean = false;
    QString text;
    bool valid = true;
    bool hasSign = false; // "state" or "code" was given
    quint32 sign = 0;
};

bool takeValue(const QJsonValue &v, Input &in, QString *reason)
{
    switch (v.type()) {
    case QJsonValue::Null: in.kind = Input::Null; return true;
    case QJsonValue::Bool: in.kind = Input::Boolean; in.boolean = v.toBool(); return true;
    case QJsonValue::Double: in.kind = Input::Number; in.number = v.toDouble(); return true;
    case QJsonValue::String: in.kind = Input::Text; in.text = v.toString(); return true;
    case QJsonValue::Undefined: *reason = QStringLiteral("no \"value\""); return false;
    default: break;
    }
    *reason = QStringLiteral("\"value\" is not a number, true, false, null or a text");
    return false;
}

// Reads "valid", and "state" or "code" where the type has one.
bool takeSign(const QJsonObject &object, Extra extra, Input &in, QString *reason)
{
    const QJsonValue valid = object.value(QLatin1String("valid"));
    if (!valid.isUndefined()) {
        if (!valid.isBool()) {
            *reason = QStringLiteral("\"valid\" is not true or false");
            return false;
        }
        in.valid = valid.toBool();
    }
    const char *key = nullptr;
    double max = 4294967295.0;
    switch (extra) {
    case Extra::State: case Extra::Status: key = "state"; break;
    case Extra::Code: key = "code"; break;
    case Extra::Code16: key = "code"; max = 65535.0; break;
    case Extra::Valid: case Extra::None: return true;
    }
    const QJsonValue sign = object.value(QLatin1String(key));
    if (sign.isUndefined())
        return true;
    const double d = sign.toDouble(-1);
    if (!sign.isDouble() || d < 0 || d > max || std::trunc(d) != d) {
        *reason = QStringLiteral("\"%1\" is not a whole number from 0 to %2").arg(QLatin1String(key)).arg(max, 0, 'f', 0);
        return false;
    }
    in.hasSign = true;
    in.sign = static_cast<quint32>(d);
    return true;
}

bool parseInput(const QByteArray &payload, Carrier c, Input &in, QString *reason)
{
    const QByteArray text = payload.trimmed();
    if (hasRepeatedKey(text)) {
        *reason = QStringLiteral("not JSON (a key is repeated in an object)");
        return false;
    }
    if (text.startsWith('{')) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
        if (!doc.isObject()) {
            *reason = QStringLiteral("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset);
            return false;
        }
        const QJsonObject object = doc.object();
        return takeValue(object.value(QLatin1String("value")), in, reason) && takeSign(object, c.extra, in, reason);
    }
    // A bare value: whatever JSON allows as an array element.
    const QJsonDocument doc = QJsonDocument::fromJson("[" + text + "]");
    if (doc.isArray() && doc.array().size() == 1)
        return takeValue(doc.array().at(0), in, reason);
    if (isTime(c.form) && !text.isEmpty()) {
        in.kind = Input::Text;
        in.text = QString::fromUtf8(text);
        return true;
    }
    *reason = QStringLiteral("not a number, true, false, a text or a JSON object");
    return false;
}

QString numberText(double d)
{
    return QString::number(d, 'g', 17);
}

QString typeName(quint32 type)
{
    return DPDataTypeToString(static_cast<int>(type));
}

// The integer of `in` within lo..hi; false (with the reason) otherwise.
bool integerOf(const Input &in, double lo, double hi, quint32 type, double &value, QString *reason)
{
    if (in.kind == Input::Boolean) {
        value = in.boolean ? 1 : 0;
        return true;
    }
    if (in.kind != Input::Number) {
        *reason = QStringLiteral("a text does not fit %1").arg(typeName(type));
        return false;
    }
    if (!std::isfinite(in.number) || std::trunc(in.number) != in.number || in.number < lo || in.number > hi) {
        *reason = QStringLiteral("%1 does not fit %2").arg(numberText(in.number), typeName(type));
        return false;
    }
    value = in.number;
    return true;
}

// The time of `in` in milliseconds since 1970 (a text, or a number of seconds).
bool timeOfInput(const Input &in, qint64 &msecs, QString *reason)
{
    if (in.kind == Input::Text) {
        QDateTime dt = QDateTime::fromString(in.text, Qt::ISODateWithMs);
        // A time without zone is taken as UTC, before it is judged: read as
        // the machine's time, one in its spring-forward gap was invalid.
        if (dt.timeSpec() == Qt::LocalTime)
            dt.setTimeSpec(Qt::UTC);
        if (!dt.isValid()) {
            *reason = QStringLiteral("\"%1\" is not an ISO 8601 time").arg(quotedForLog(in.text));
            return false;
        }
        msecs = dt.toMSecsSinceEpoch();
        return true;
    }
    if (in.kind == Input::Number && std::isfinite(in.number) && std::fabs(in.number) < 9.2e15) {
        msecs = std::llround(in.number * 1000.0);
        return true;
    }
    *reason = QStringLiteral("not a time");
    return false;
}

// Fills the value bytes of `element` from `in` for `form`.
bool encodeValue(const Input &in, Form form, quint32 type, uchar *element, QString *reason)
{
    double v = 0;
    switch (form) {
    case Form::U8:
        if (!integerOf(in, 0, 255, type, v, reason)) return false;
        put(element, 0, static_cast<quint8>(v));
        return true;
    case Form::S8:
        if (!integerOf(in, -128, 127, type, v, reason)) return false;
        put(element, 0, static_cast<qint8>(v));
        return true;
    case Form::U16:
        if (!integerOf(in, 0, 65535, type, v, reason)) return false;
        put(element, 0, static_cast<quint16>(v));
        return true;
    case Form::S16:
        if (!integerOf(in, -32768, 32767, type, v, reason)) return false;
        put(element, 0, static_cast<qint16>(v));
        return true;
    case Form::U32:
        if (!integerOf(in, 0, 4294967295.0, type, v, reason)) return false;
        put(element, 0, static_cast<quint32>(v));
        return true;
    case Form::S32:
        if (!integerOf(in, -2147483648.0, 2147483647.0, type, v, reason)) return false;
        put(element, 0, static_cast<qint32>(v));
        return true;
    // 64-bit integers come as doubles: whole numbers beyond 2^53 are rounded.
    // The largest values (all ones, as the gateway publishes an invalid
    // QWORD) round up to 2^64 or 2^63, which stand for them.
    case Form::U64:
        if (!integerOf(in, 0, 18446744073709551616.0, type, v, reason)) return false;
        put(element, 0, v >= 18446744073709551616.0 ? ~quint64(0) : static_cast<quint64>(v));
        return true;
    case Form::S64:
        if (!integerOf(in, -9223372036854775808.0, 9223372036854775808.0, type, v, reason)) return false;
        put(element, 0, v >= 9223372036854775808.0 ? std::numeric_limits<qint64>::max() : static_cast<qint64>(v));
        return true;
    case Form::F32:
    case Form::F64:
        if (in.kind != Input::Number) {
            *reason = QStringLiteral("%1 does not fit %2")
                          .arg(in.kind == Input::Boolean ? QStringLiteral("true or false") : QStringLiteral("a text"),
                               typeName(type));
            return false;
        }
        if (!std::isfinite(in.number) || (form == Form::F32 && std::fabs(in.number) > FLT_MAX)) {
            *reason = QStringLiteral("%1 does not fit %2").arg(numberText(in.number), typeName(type));
            return false;
        }
        if (form == Form::F32)
            put(element, 0, static_cast<float>(in.number));
        else
            put(element, 0, in.number);
        return true;
    case Form::Bool:
        if (!integerOf(in, 0, 1, type, v, reason)) return false;
        put(element, 0, static_cast<quint8>(v));
        return true;
    case Form::TimeT32: case Form::TimeVal: case Form::TimeSpec: case Form::TimeSpec64: {
        qint64 msecs = 0;
        if (!timeOfInput(in, msecs, reason))
            return false;
        const qint64 seconds = floorDiv(msecs, 1000);
        const qint64 millis = msecs - seconds * 1000;
        if (form != Form::TimeSpec64 && (seconds < 0 || seconds > 4294967295LL)) {
            *reason = QStringLiteral("%1 does not fit %2").arg(in.kind == Input::Text ? in.text : numberText(in.number),
                                                                 typeName(type));
            return false;
        }
        if (form == Form::TimeSpec64) {
            put(element, 0, seconds);
            put(element, 8, millis * 1000000);
        } else {
            put(element, 0, static_cast<quint32>(seconds));
            if (form == Form::TimeVal)
                put(element, 4, static_cast<quint32>(millis * 1000));
            else if (form == Form::TimeSpec)
                put(element, 4, static_cast<quint32>(millis * 1000000));
        }
        return true;
    }
    case Form::None: break;
    }
    *reason = QStringLiteral("type %1 cannot be set").arg(typeName(type));
    return false;
}

// The sign word written for a valid or an invalid value.
quint32 signFor(Extra extra, bool valid)
{
    switch (extra) {
    case Extra::Valid: return valid ? 1 : 0;
    case Extra::State: return valid ? 0 : 7;
    case Extra::Code: case Extra::Code16: case Extra::Status: return valid ? 0 : 1;
    case Extra::None: break;
    }
    return 0;
}

} // namespace

namespace MqttPayload {

bool canCarry(quint32 type)
{
    return carrierOf(type).form != Form::None;
}

int elementBytes(quint32 type)
{
    return bytesOf(carrierOf(type));
}

void append(QByteArray &out, const BaseTieParam &param, qint64 timeMsecs)
{
    const Carrier c = carrierOf(param.metatype());
    const int need = bytesOf(c);
    const uchar *p = param.values();
    const bool stored = p && need > 0 && param.size() >= static_cast<size_t>(need);

    out += "{\"value\":";
    const bool isValue = stored ? appendValue(out, c.form, p) : (out += "null", false);
    out += ",\"valid\":";
    out += isValue && param.isValid(0) ? "true" : "false";
    if (stored) {
        switch (c.extra) {
        case Extra::State: case Extra::Status: out += ",\"state\":"; appendNumber(out, get<quint32>(p, 4)); break;
        case Extra::Code: out += ",\"code\":"; appendNumber(out, get<quint32>(p, 4)); break;
        case Extra::Code16: out += ",\"code\":"; appendNumber(out, unsigned(get<quint16>(p, 2))); break;
        case Extra::Valid: case Extra::None: break;
        }
    }
    out += ",\"time\":\"";
    appendIsoTime(out, timeMsecs);
    out += "\"}";
}

bool write(const QByteArray &payload, BaseTieParam &param, QString *reason)
{
    QString ignored;
    if (!reason)
        reason = &ignored;
    const quint32 type = param.metatype();
    const Carrier c = carrierOf(type);
    const int need = bytesOf(c);
    uchar *storage = param.valuesForWrite();
    if (c.form == Form::None || !storage || param.size() < static_cast<size_t>(need)) {
        *reason = QStringLiteral("type %1 cannot be set").arg(typeName(type));
        return false;
    }
    Input in;
    if (!parseInput(payload, c, in, reason))
        return false;
    // A type that is never valid (seconds of the day) is published as not
    // valid: the mark says nothing of its value, which is written as given.
    const bool neverValid = paramTypeTraits(type).validity == ParamTypeTraits::Validity::Never;
    const bool valid = (in.valid || neverValid) && in.kind != Input::Null;
    uchar element[16];
    std::memcpy(element, storage, static_cast<size_t>(need));
    if (!valid && c.extra == Extra::None && !neverValid) {
        // A value that reads as invalid by itself (an error code, a state
        // within the value) is its own mark: it is written as given. One
        // that does not fit the type is voided as before.
        uchar given[16];
        std::memcpy(given, element, static_cast<size_t>(need));
        QString unfit;
        if (in.kind != Input::Null && encodeValue(in, c.form, type, given, &unfit)) {
            std::memcpy(storage, given, static_cast<size_t>(need));
            if (!param.elementValid(0))
                return true;
        }
        param.reset(); // no sign: the type's invalid pattern
        // A float's pattern is a NaN, which is published as invalid though
        // the type counts it valid; the others that still read as valid
        // have none (a time, a bool, an integer): the value would stand as
        // valid, refreshed by the command that meant to void it.
        if (param.elementValid(0) && c.form != Form::F32 && c.form != Form::F64) {
            std::memcpy(storage, element, static_cast<size_t>(need));
            *reason = QStringLiteral("%1 has no invalid value").arg(typeName(type));
            return false;
        }
        return true;
    }
    if (in.kind == Input::Null)
        std::memset(element, 0xFF, static_cast<size_t>(valueBytes(c.form)));
    else if (!encodeValue(in, c.form, type, element, reason))
        return false;
    const quint32 sign = in.hasSign ? in.sign : signFor(c.extra, valid);
    if (c.extra == Extra::Code16)
        put(element, 2, static_cast<quint16>(sign));
    else if (c.extra != Extra::None)
        put(element, 4, sign);
    std::memcpy(storage, element, static_cast<size_t>(need));
    if (!valid && in.hasSign && param.elementValid(0)) {
        // Marked invalid (or null): a sign that reads as valid does not
        // make it so. The gateway's own messages carry such pairs, e.g. a
        // value of no number with state 0.
        const quint32 invalid = signFor(c.extra, false);
        if (c.extra == Extra::Code16)
            put(storage, 2, static_cast<quint16>(invalid));
        else
            put(storage, 4, invalid);
    }
    return true;
}

void appendIsoTime(QByteArray &out, qint64 msecs)
{
    if (msecs < kFirstIsoMsecs || msecs > kLastIsoMsecs) {
        out += QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
        return;
    }
    // Civil date from days since 1970 (proleptic Gregorian calendar).
    const qint64 days = floorDiv(msecs, 86400000);
    qint64 ms = msecs - days * 86400000;
    const qint64 z = days + 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    const int hour = static_cast<int>(ms / 3600000);
    ms %= 3600000;
    const int minute = static_cast<int>(ms / 60000);
    ms %= 60000;
    const int second = static_cast<int>(ms / 1000);
    const int milli = static_cast<int>(ms % 1000);

    char buf[24];
    auto two = [](char *p, int v) { p[0] = char('0' + v / 10); p[1] = char('0' + v % 10); };
    buf[0] = char('0' + year / 1000);
    buf[1] = char('0' + year / 100 % 10);
    two(buf + 2, year % 100);
    buf[4] = '-';
    two(buf + 5, month);
    buf[7] = '-';
    two(buf + 8, day);
    buf[10] = 'T';
    two(buf + 11, hour);
    buf[13] = ':';
    two(buf + 14, minute);
    buf[16] = ':';
    two(buf + 17, second);
    buf[19] = '.';
    buf[20] = char('0' + milli / 100);
    two(buf + 21, milli % 100);
    buf[23] = 'Z';
    out.append(buf, 24);
}

} // namespace MqttPayload
