#include "config/csvlistloader.h"

#include "config/configreport.h"
#include "config/csvtieparam.h"
#include "config/csvtieunit.h"
#include "core/diag.h"
#include "core/regularfile.h"

#include <csvfunctions.h>
#include <dpdatatype.h>

#include <QFile>
#include <QTextCodec>
#include <QTextStream>

#include <algorithm>
#include <limits>

namespace {

// Translation context of the list loader's messages (it is part of the
// configuration loader).
const char *kContext = "GateXmlConfigLoaderTemplate";

// The numeric index of a row: an unsigned decimal number that fits a
// positive signed 32-bit value; false for anything else ("12a", "-1", "").
bool parseIndex(const QString &text, qint32 *index)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    if (!ok || value > static_cast<qulonglong>(std::numeric_limits<qint32>::max()))
        return false;
    *index = static_cast<qint32>(value);
    return true;
}

// The field of `column`, empty when the column is not set.
QString field(const QStringList &fields, int column)
{
    return (column >= 0 && column < fields.size()) ? fields.at(column) : QString();
}

// The fields of the next line that has any, counting every line read into
// *lineNo; empty at the end of the stream. Unlike the plain comma dialect, a
// separator that ends the line (outside quotes) closes one more, empty
// field: in "I1,2,SDWORDVALID," the last, optional column is present and
// empty, so the row is not short of it.
QStringList nextRow(QTextStream &in, int *lineNo)
{
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++*lineNo;
        QStringList fields = csvParseString(line, CommaSeparated);
        if (fields.isEmpty())
            continue;
        // Whether that comma is a separator or part of an open quoted field,
        // the dialect itself tells: a separator lets a following character
        // start a field of its own.
        const QString text = line.trimmed();
        if (text.endsWith(QLatin1Char(','))
            && csvParseString(text + QChar(0x1F), CommaSeparated).size() == fields.size() + 1)
            fields << QString();
        return fields;
    }
    return QStringList();
}

} // namespace

int CsvListColumns::largest() const
{
    return std::max({type, index, extid, iid, kks, rtm, -1});
}

quint32 csvTypeFromCode(const QString &code)
{
    const QString c = code.trimmed().toUpper();
    if (c == QLatin1String("A") || c == QLatin1String("R"))
        return dpdtDTSFloat;
    if (c == QLatin1String("I") || c == QLatin1String("N"))
        return dpdtDTSSDWord;
    if (c == QLatin1String("D") || c == QLatin1String("B"))
        return dpdtDTSSDWordDiscrete;
    return static_cast<quint32>(StringToDPDataType(c, true));
}

QTextCodec *csvCodecForName(const QString &name)
{
    QTextCodec *codec = name.isEmpty() ? nullptr : QTextCodec::codecForName(name.toLatin1());
    return codec ? codec : QTextCodec::codecForLocale();
}

bool loadCsvList(CsvTieUnit *unit, const QString &path, const CsvListColumns &columns, quint32 typeValue,
                 QTextCodec *codec)
{
    if (!unit) {
        GATE_WARN("loadCsvList(): no unit to load %s into", qUtf8Printable(path));
        return false;
    }
    QFile file(path);
    QString reason;
    if (!openRegularFileForReading(file, &reason, QIODevice::ReadOnly | QIODevice::Text)) {
        reportConfigError(kContext, "Error opening file %1 (%2)", {path, reason});
        return false;
    }
    QTextStream in(&file);
    in.setCodec(codec ? codec : QTextCodec::codecForLocale());
    int lineNo = 0;
    nextRow(in, &lineNo);

    if (columns.type < 0 && typeValue == 0) {
        reportConfigError(kContext, "Error loading cvs file (DataType value and column are not set)");
        return false;
    }
    if (columns.index < 0) {
        reportConfigError(kContext, "Error loading cvs file (column for id (index) is not set)");
        return false;
    }
    if (columns.iid < 0 && columns.kks < 0 && columns.rtm < 0) {
        reportConfigError(kContext, "Error loading cvs file (column(s) for at least one from IID, KKS, RTM should be set)");
        return false;
    }

    const int largest = columns.largest();
    while (true) {
        const QStringList fields = nextRow(in, &lineNo);
        if (fields.isEmpty())
            break;
        if (fields.size() <= largest) {
            GATE_DEBUG(1, "loadCsvList(): line %i of %s has %i fields, column %i is needed", lineNo,
                       qUtf8Printable(path), static_cast<int>(fields.size()), largest);
            reportConfigError(kContext, "Error loading cvs file (line foo short): %1, line %2",
                              {path, QString::number(lineNo)});
            return false;
        }
        const quint32 type = columns.type >= 0 ? csvTypeFromCode(fields.at(columns.type)) : typeValue;
        // A type without an element size gives no storage, and the parameter
        // takes type 0: it is never bound, and it is indexed under 0.
        const bool sized = DPDataTypeElementSize(static_cast<int>(type)) > 0;
        const quint32 heldType = sized ? type : 0;
        if (type == 0) {
            reportConfigError(kContext,
                              "Warning loading cvs file: unknown data type \"%1\" in %2, line %3; the parameter has "
                              "no value and is never bound",
                              {fields.at(columns.type), path, QString::number(lineNo)});
        } else if (!sized) {
            reportConfigError(kContext,
                              "Warning loading cvs file: data type %1 in %2, line %3 has no element size; the "
                              "parameter has no value and is never bound",
                              {DPDataTypeToString(static_cast<int>(type)), path, QString::number(lineNo)});
        }
        qint32 index = -1;
        if (columns.index >= 0 && !parseIndex(fields.at(columns.index), &index)) {
            reportConfigError(kContext, "Error loading cvs file (wrong id: \"%1\")", {fields.at(columns.index)});
            return false;
        }
        if (unit->csvParamsHash().contains(index, heldType)) {
            reportConfigError(kContext, "Error loading cvs file (parameter with type: %1 id: %2 already exist)",
                              "Error loading cvs file (parameter with type: %1 and id: %2 already exist)",
                              {DPDataTypeToString(static_cast<int>(type)), QString::number(index)});
            return false;
        }
        const QString extId = field(fields, columns.extid);
        const QString iid = field(fields, columns.iid);
        const QString kks = field(fields, columns.kks);
        const QString rtm = field(fields, columns.rtm);
        auto *param = new CsvTieParam(unit, type, index, extId, iid, kks, rtm);
        unit->addParam(param);
        unit->csvParamsHash().add(param);
        GATE_DEBUG(4, "Added parameter with type %s(%i) index=%i IID=%s ExtID=%s KKS=%s RTM=%s%s",
                   qUtf8Printable(DPDataTypeToString(static_cast<int>(type))), static_cast<int>(type), index,
                   qUtf8Printable(iid), qUtf8Printable(extId), qUtf8Printable(kks), qUtf8Printable(rtm), "");
    }
    return true;
}
