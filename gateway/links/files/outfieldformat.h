#ifndef OUTFIELDFORMAT_H
#define OUTFIELDFORMAT_H

#include <QString>
#include <QStringList>
#include <QVector>

class BaseTieParam;
class QTextStream;

// The columns of an output file line and how each is written for a
// parameter. The value and validity-code forms of every data type are kept
// in one table.
class OutFieldFormat
{
public:
    // One column of a line.
    enum Column {
        colEmpty,        // an empty field
        colId,           // the preferred identifier: ExtID, else KKS, RTM, IID
        colIID,
        colKKS,
        colRTM,
        colExtID,
        colValue,        // the value of the first element
        colValidity,     // the valid or the invalid text
        colValidityCode  // the validity, state or error code
    };

    // The columns named in `text`: it is split at every run of non-word
    // characters, pieces are lower-cased, unknown pieces left out (and
    // appended to `unknown` when given). A text that names no column gives
    // the default columns.
    static QVector<Column> parseColumns(const QString &text, QStringList *unknown = nullptr);
    // Identifier, then value.
    static QVector<Column> defaultColumns();

    // The preferred identifier: the ExtID if not empty, else the KKS, else
    // the RTM, else the IID.
    static QString preferredId(const BaseTieParam *param);
    // Writes the value of element 0 of `param` by its data type ("?" for a
    // type without a text form or a storage too small for it). Floating
    // values get the shortest text that reads back to the same value.
    static void writeValue(QTextStream &out, const BaseTieParam *param);
    // Writes the validity code of element 0 of `param` by its data type;
    // types whose validity has no code write `validityText` ("?" for a type
    // without either or a storage too small for it).
    static void writeValidityCode(QTextStream &out, const BaseTieParam *param, const QString &validityText);
};

#endif // OUTFIELDFORMAT_H
