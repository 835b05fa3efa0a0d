#include "links/files/outfieldformat.h"

#include "core/basetieparam.h"

#include <dpdatatype.h>

#include <QLocale>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <locale>
#include <sstream>

namespace {

// How the value column shows element 0.
enum class ValueForm : quint8 {
    Unknown,    // "?"
    U8,
    S8,
    U16,
    S16,        // the first 16 bits, signed
    U32,
    S32,        // the first 32 bits, signed
    U64,
    S64,
    F32,
    F64,
    Extended,   // extended precision, standard stream formatting
    Bool,       // 1 or 0
    TimeVal,    // seconds "," microseconds (6 digits)
    TimeSpec,   // seconds "," nanoseconds (9 digits)
    TimeSpec64  // 64-bit seconds "," nanoseconds (9 digits)
};

// How the validity-code column shows element 0.
enum class CodeForm : quint8 {
    Unknown,     // "?"
    Validity,    // the validity text
    SecondWord,  // the second 32-bit word
    FirstWord,   // the first 32-bit word, signed
    First16,     // the first 16 bits, signed
    FirstByte,   // the first byte, signed
    Second16     // the second 16-bit word, signed
};

struct TypeForms {
    ValueForm value;
    CodeForm code;
};

using V = ValueForm;
using C = CodeForm;

// Forms by data type (DPDataType value 0..43).
constexpr TypeForms kTypeForms[] = {
    {V::Unknown, C::Unknown},      // 0 -
    {V::U8, C::Validity},          // 1 BYTE
    {V::S8, C::Validity},          // 2 SBYTE
    {V::U16, C::Validity},         // 3 WORD
    {V::S16, C::Validity},         // 4 SWORD
    {V::U32, C::Validity},         // 5 DWORD
    {V::S32, C::Validity},         // 6 SDWORD
    {V::U64, C::Validity},         // 7 QWORD
    {V::S64, C::Validity},         // 8 SQWORD
    {V::F32, C::Validity},         // 9 FLOAT
    {V::F64, C::Validity},         // 10 DOUBLE
    {V::Extended, C::Validity},    // 11 extended precision
    {V::Unknown, C::Unknown},      // 12 BIT
    {V::Unknown, C::Unknown},      // 13
    {V::Unknown, C::Unknown},      // 14
    {V::Bool, C::Validity},        // 15 BOOL
    {V::Unknown, C::Unknown},      // 16 ASCIIZ
    {V::Unknown, C::Unknown},      // 17 SM2MCODE
    {V::F32, C::SecondWord},       // 18 FLOATVALID
    {V::S32, C::SecondWord},       // 19 SDWORDVALID
    {V::U32, C::Validity},         // 20 TIME_T32
    {V::F32, C::SecondWord},       // 21 FLOATSTATE
    {V::S32, C::SecondWord},       // 22 SDWORDSTATE
    {V::TimeVal, C::Validity},     // 23 TIMEVAL
    {V::Unknown, C::Unknown},      // 24 BLOBQSTRING
    // KIVALID and KISTATE elements are one word: the word is the code.
    {V::S32, C::FirstWord},        // 25 KIVALID
    {V::S32, C::FirstWord},        // 26 KISTATE
    {V::S32, C::FirstWord},        // 27 ERRCODEDWORD
    {V::S16, C::First16},          // 28 TAVRIKDWORD
    {V::S8, C::FirstByte},         // 29 TAVRIKBYTE
    {V::F32, C::SecondWord},       // 30 FLOATERRCODE
    {V::S32, C::SecondWord},       // 31 SDWORDERRCODE
    {V::S16, C::First16},          // 32 WORDDISCRETE
    {V::F32, C::SecondWord},       // 33 DTSFLOAT
    {V::S32, C::SecondWord},       // 34 DTSSDWORD
    {V::S32, C::SecondWord},       // 35 DTSSDWORDDISCRETE
    {V::S16, C::Second16},         // 36 SWORDERRCODE
    // ERRCODEWORD elements are 16 bits wide: the code is those 16 bits.
    {V::S16, C::First16},          // 37 ERRCODEWORD
    {V::TimeSpec, C::Unknown},     // 38 TIMESPEC
    {V::Unknown, C::Unknown},      // 39 TIMEWITHMSECS
    {V::F64, C::Validity},         // 40 DOUBLEDAYSECSUTC
    {V::F64, C::Validity},         // 41 DOUBLEDAYSECSLOCAL
    {V::Unknown, C::Unknown},      // 42 DOUBLEVALID
    {V::TimeSpec64, C::Unknown},   // 43 TIMESPEC64
};

static_assert(sizeof kTypeForms / sizeof kTypeForms[0] == DPDataTypeCount, "one row per data type");

TypeForms formsOf(quint32 type)
{
    return type < static_cast<quint32>(DPDataTypeCount) ? kTypeForms[type] : TypeForms{V::Unknown, C::Unknown};
}

// Bytes of element 0 that each form reads.
size_t bytesFor(ValueForm form)
{
    switch (form) {
    case V::U8: case V::S8: case V::Bool: return 1;
    case V::U16: case V::S16: return 2;
    case V::U32: case V::S32: case V::F32: return 4;
    case V::U64: case V::S64: case V::F64: case V::TimeVal: case V::TimeSpec: return 8;
    case V::Extended: case V::TimeSpec64: return 16;
    case V::Unknown: break;
    }
    return 0;
}

size_t bytesFor(CodeForm form)
{
    switch (form) {
    case C::FirstByte: return 1;
    case C::First16: return 2;
    case C::FirstWord: case C::Second16: return 4;
    case C::SecondWord: return 8;
    case C::Validity: case C::Unknown: break;
    }
    return 0;
}

template<typename T>
T read(const uchar *data, size_t offset = 0)
{
    T v;
    std::memcpy(&v, data + offset, sizeof v);
    return v;
}

// Storage of `param` when it holds at least `bytes` bytes, else null.
const uchar *storageFor(const BaseTieParam *param, size_t bytes)
{
    if (!param || bytes == 0 || param->size() < bytes)
        return nullptr;
    return param->values();
}

// The shortest text that reads back as `v`, in the C locale's form
// ("0.1", "1234567.5", "1e+20").
QString doubleText(double v)
{
    return QLocale::c().toString(v, 'g', QLocale::FloatingPointShortest);
}

// The shortest text that reads back as the float `v`: its shortest digits
// are found for a float (a float widened to double would show digits the
// float does not hold, 0.1f as 0.10000000149011612), then written in the
// same form as a double.
QString floatText(float v)
{
    if (!std::isfinite(v))
        return doubleText(static_cast<double>(v));
    char digits[32];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::scientific);
    double shortest = static_cast<double>(v);
    if (end.ec == std::errc())
        std::from_chars(digits, end.ptr, shortest);
    return doubleText(shortest);
}

void writeSecondsAndFraction(QTextStream &out, qint64 seconds, quint64 fraction, int digits)
{
    out << seconds << ',' << QStringLiteral("%1").arg(fraction, digits, 10, QLatin1Char('0'));
}

void writeExtended(QTextStream &out, const uchar *data)
{
    if (sizeof(long double) > 16) {
        out << '?';
        return;
    }
    long double v = 0;
    std::memcpy(&v, data, sizeof v);
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << v;
    out << QString::fromStdString(s.str());
}

struct ColumnToken {
    const char *text;
    OutFieldFormat::Column column;
};

constexpr ColumnToken kColumnTokens[] = {
    {"none", OutFieldFormat::colEmpty}, {"empty", OutFieldFormat::colEmpty},
    {"id", OutFieldFormat::colId}, {"prefferdid", OutFieldFormat::colId}, {"someid", OutFieldFormat::colId},
    {"bestdid", OutFieldFormat::colId}, {"prefferdcode", OutFieldFormat::colId},
    {"iid", OutFieldFormat::colIID}, {"kks", OutFieldFormat::colKKS}, {"rtm", OutFieldFormat::colRTM},
    {"extid", OutFieldFormat::colExtID}, {"value", OutFieldFormat::colValue},
    {"validity", OutFieldFormat::colValidity},
    {"validitycode", OutFieldFormat::colValidityCode}, {"validcode", OutFieldFormat::colValidityCode},
};

} // namespace

QVector<OutFieldFormat::Column> OutFieldFormat::parseColumns(const QString &text, QStringList *unknown)
{
    static const QRegularExpression nonWord(QStringLiteral("\\W+"));
    QVector<Column> columns;
    const QStringList pieces = text.split(nonWord, Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QString token = piece.toLower();
        const auto known = std::find_if(std::begin(kColumnTokens), std::end(kColumnTokens),
                                        [&token](const ColumnToken &t) { return token == QLatin1String(t.text); });
        if (known != std::end(kColumnTokens))
            columns << known->column;
        else if (unknown)
            unknown->append(piece);
    }
    return columns.isEmpty() ? defaultColumns() : columns;
}

QVector<OutFieldFormat::Column> OutFieldFormat::defaultColumns()
{
    return {colId, colValue};
}

QString OutFieldFormat::preferredId(const BaseTieParam *param)
{
    if (!param)
        return QString();
    QString id = param->extID();
    if (id.isEmpty())
        id = param->KKS();
    if (id.isEmpty())
        id = param->RTM();
    if (id.isEmpty())
        id = param->IID();
    return id;
}

void OutFieldFormat::writeValue(QTextStream &out, const BaseTieParam *param)
{
    const ValueForm form = formsOf(param ? param->metatype() : 0).value;
    const uchar *p = storageFor(param, bytesFor(form));
    if (!p) {
        out << '?';
        return;
    }
    switch (form) {
    case V::U8: out << uint(read<quint8>(p)); break;
    case V::S8: out << int(read<qint8>(p)); break;
    case V::U16: out << uint(read<quint16>(p)); break;
    case V::S16: out << int(read<qint16>(p)); break;
    case V::U32: out << read<quint32>(p); break;
    case V::S32: out << read<qint32>(p); break;
    case V::U64: out << read<quint64>(p); break;
    case V::S64: out << read<qint64>(p); break;
    case V::F32: out << floatText(read<float>(p)); break;
    case V::F64: out << doubleText(read<double>(p)); break;
    case V::Extended: writeExtended(out, p); break;
    case V::Bool: out << (read<quint8>(p) ? 1 : 0); break;
    case V::TimeVal: writeSecondsAndFraction(out, read<quint32>(p), read<quint32>(p, 4), 6); break;
    case V::TimeSpec: writeSecondsAndFraction(out, read<quint32>(p), read<quint32>(p, 4), 9); break;
    case V::TimeSpec64: writeSecondsAndFraction(out, read<qint64>(p), read<quint64>(p, 8), 9); break;
    case V::Unknown: out << '?'; break;
    }
}

void OutFieldFormat::writeValidityCode(QTextStream &out, const BaseTieParam *param, const QString &validityText)
{
    const CodeForm form = formsOf(param ? param->metatype() : 0).code;
    if (form == C::Validity) {
        out << validityText;
        return;
    }
    const uchar *p = storageFor(param, bytesFor(form));
    if (!p) {
        out << '?';
        return;
    }
    switch (form) {
    case C::SecondWord: out << read<quint32>(p, 4); break;
    case C::FirstWord: out << read<qint32>(p); break;
    case C::First16: out << int(read<qint16>(p)); break;
    case C::FirstByte: out << int(read<qint8>(p)); break;
    case C::Second16: out << int(read<qint16>(p, 2)); break;
    case C::Validity: case C::Unknown: out << '?'; break;
    }
}
