#include "config/qdeffilestruct.h"

#include "config/configreport.h"
#include "core/diag.h"
#include "core/regularfile.h"

#include <csvfunctions.h>
#include <dpdatatype.h>

#include <QFile>
#include <QTextCodec>
#include <QTextStream>

#include <limits>

namespace {

constexpr quint64 kSaturated = std::numeric_limits<quint64>::max();

// One row per type code: keyword, element bytes, parameter data type.
struct DefType {
    const char *keyword;
    int elementBytes;
    DPDataType dataType;
};

constexpr DefType kDefTypes[] = {
    {"", 0, dpdtNone},                                   // 0: unsupported
    {"type_timeval", 8, dpdtTimeVal},                    // 1
    {"type_rval", 8, dpdtFloatValid},                    // 2
    {"type_ival", 8, dpdtSDWordValid},                   // 3
    {"type_srval", 8, dpdtFloatState},                   // 4
    {"type_sival", 8, dpdtSDWordState},                  // 5
    {"type_longint", 4, dpdtSDWord},                     // 6
    {"type_float", 4, dpdtFloat},                        // 7
    {"type_shortint", 2, dpdtSWord},                     // 8
    {"type_binshortint", 2, dpdtWordDiscrete},           // 9
    {"type_double", 8, dpdtDouble},                      // 10
    {"type_errshortintval", 4, dpdtSWordErrCode},        // 11
    {"type_errival", 8, dpdtSDWordErrCode},              // 12
    {"type_errrval", 8, dpdtFloatErrCode},               // 13
    {"type_sbyte", 1, dpdtSByte},                        // 14
    {"type_binbyte", 1, dpdtBool},                       // 15
    {"type_timespec", 8, dpdtTimeSpec},                  // 16
    {"type_doubledaysecsuts", 8, dpdtDoubleDaySecsUTC},  // 17
    {"type_doubledaysecslocal", 8, dpdtDoubleDaySecsLocal}, // 18
    {"type_longuint", 4, dpdtDWord},                     // 19
    {"type_timespec64", 16, dpdtTimeSpec64},             // 20
    {"type_int64", 8, dpdtSQWord},                       // 21
    {"type_uint64", 8, dpdtQWord},                       // 22
};
constexpr int kDefTypeCount = static_cast<int>(sizeof kDefTypes / sizeof kDefTypes[0]);

const DefType &defType(int code)
{
    return (code > 0 && code < kDefTypeCount) ? kDefTypes[code] : kDefTypes[0];
}

// a * b, or kSaturated when the product does not fit 64 bits.
quint64 saturatedMul(quint64 a, quint64 b)
{
    if (a != 0 && b > kSaturated / a)
        return kSaturated;
    return a * b;
}

// The fields of the next line that gives any: the line is trimmed, text from
// the first "#" on is a comment. Empty at the end of the stream. `lineNo`
// counts the lines read.
QStringList nextFields(QTextStream &in, int &lineNo)
{
    while (!in.atEnd()) {
        ++lineNo;
        QString line = in.readLine().trimmed();
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList fields = csvParseString(line, CommaSeparated);
        if (!fields.isEmpty())
            return fields;
    }
    return QStringList();
}

// An unsigned number starting with a digit, in `base` (0: C notation).
bool parseUnsigned(const QString &text, int base, quint64 *value)
{
    if (text.isEmpty() || !text.at(0).isDigit())
        return false;
    if (base == 10) {
        for (const QChar c : text) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
    }
    bool ok = false;
    *value = text.toULongLong(&ok, base);
    return ok;
}

} // namespace

quint64 QDefRecord::count() const
{
    return saturatedMul(saturatedMul(dim1, dim2), dim3);
}

quint64 QDefRecord::size() const
{
    return saturatedMul(static_cast<quint64>(QDefFileStruct::elementBytesOf(type)), count());
}

bool QDefRecord::fitsInto(quint64 areaSize) const
{
    const quint64 bytes = size();
    return offset <= areaSize && bytes <= areaSize - offset;
}

QDefFileStruct::QDefFileStruct()
    : m_areaSize(0)
{
}

QDefFileStruct::~QDefFileStruct()
{
    qDeleteAll(m_records);
}

int QDefFileStruct::LoadFromStream(QTextStream &stream)
{
    GATE_DEBUG(3, "QDefFileStruct::LoadFromStream() was called");
    m_errorText.clear();
    const quint64 base = m_areaSize;
    int lineNo = 0;
    const auto formatError = [&](const QString &what) {
        m_errorText = QStringLiteral("line %1: %2").arg(lineNo).arg(what);
        return int(dfrFormatError);
    };
    if (stream.atEnd()) {
        m_errorText = QStringLiteral("the file is empty");
        return dfrEmptyFile;
    }

    const QStringList nameLine = nextFields(stream, lineNo);
    if (nameLine.size() != 1 || stream.atEnd())
        return formatError(QStringLiteral("the area's name alone is expected, followed by its size"));
    const QStringList sizeLine = nextFields(stream, lineNo);
    if (sizeLine.size() != 1 || stream.atEnd())
        return formatError(QStringLiteral("the area's size alone is expected, followed by the records"));
    quint64 bytes = 0;
    if (!parseUnsigned(sizeLine.first(), 0, &bytes) || bytes > kSaturated - base)
        return formatError(QStringLiteral("the area's size \"%1\" is not a whole number of bytes").arg(sizeLine.first()));
    m_areaSize = base + bytes;

    while (true) {
        const QStringList fields = nextFields(stream, lineNo);
        if (fields.isEmpty())
            return dfrOk;
        if (fields.size() < 6)
            return formatError(QStringLiteral("%1 fields, a record has 6 (name, type, offset, three dimensions)")
                                   .arg(fields.size()));
        auto record = new QDefRecord;
        record->name = fields.at(0);
        record->type = defFileTypeFromString(fields.at(1));
        quint64 offset = 0;
        if (!parseUnsigned(fields.at(2), 10, &offset) || offset > kSaturated - base
            || !parseUnsigned(fields.at(3), 10, &record->dim1) || !parseUnsigned(fields.at(4), 10, &record->dim2)
            || !parseUnsigned(fields.at(5), 10, &record->dim3)) {
            delete record;
            return formatError(QStringLiteral("the offset and dimensions of \"%1\" are not all decimal whole numbers")
                                   .arg(fields.at(0)));
        }
        record->offset = base + offset;
        m_records.append(record);
        if (debugEnabled(2)) {
            GATE_WARN("Added record for \"%s\" with type %s(%u) offset: %zu(0x%zX) size %zu x %zu x %zu = %zu",
                      qUtf8Printable(record->name), qUtf8Printable(fields.at(1)), static_cast<unsigned>(record->type),
                      static_cast<size_t>(record->offset), static_cast<size_t>(record->offset),
                      static_cast<size_t>(record->dim1), static_cast<size_t>(record->dim2),
                      static_cast<size_t>(record->dim3), static_cast<size_t>(record->size()));
        }
        if (!record->fitsInto(m_areaSize)) {
            reportConfigError("QDefFileStruct",
                              "Definition record \"%1\" at offset %2 with size %3 lies outside the area of %4 bytes; "
                              "its parameter gets no storage",
                              {record->name, QString::number(record->offset), QString::number(record->size()),
                               QString::number(m_areaSize)});
        }
        m_byName.insert(record->name, record);
    }
}

int QDefFileStruct::loadFile(const QString &path, QTextCodec *codec)
{
    QFile file(path);
    QString reason;
    if (!openRegularFileForReading(file, &reason, QIODevice::ReadOnly | QIODevice::Text)) {
        m_errorText = reason;
        reportConfigError("QDefFileStruct", "Error opening file %1 (%2)", {path, reason});
        return dfrCannotOpen;
    }
    QTextStream in(&file);
    QTextCodec *koi8r = QTextCodec::codecForName("KOI8-R");
    in.setCodec(codec ? codec : (koi8r ? koi8r : QTextCodec::codecForLocale()));
    const int result = LoadFromStream(in);
    if (result != dfrOk)
        reportConfigError("QDefFileStruct", "Error reading definition file %1, %2", {path, m_errorText});
    return result;
}

QDefRecord *QDefFileStruct::record(const QString &name) const
{
    return m_byName.value(name, nullptr);
}

void QDefFileStruct::clear()
{
    m_byName.clear();
    qDeleteAll(m_records);
    m_records.clear();
    m_areaSize = 0;
}

int QDefFileStruct::defFileTypeFromString(const QString &keyword)
{
    for (int code = 1; code < kDefTypeCount; ++code) {
        if (keyword == QLatin1String(kDefTypes[code].keyword))
            return code;
    }
    GATE_DEBUG(3, "QDefFileStruct::defFileTypeFromString: Unsupported type: %s", qUtf8Printable(keyword));
    return 0;
}

QString QDefFileStruct::keywordOf(int code)
{
    return QString::fromLatin1(defType(code).keyword);
}

int QDefFileStruct::elementBytesOf(int code)
{
    return defType(code).elementBytes;
}

quint32 QDefFileStruct::dataTypeOf(int code)
{
    return static_cast<quint32>(defType(code).dataType);
}
