#ifndef CSVFUNCTIONS_H
#define CSVFUNCTIONS_H

#include "sundry_export.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QTextStream;

// The CSV dialects: field separator and the characters that make a field
// need quoting on output. Stored as 32 bits: any other value is a legal
// value of the type that the functions treat as an invalid dialect.
enum LoadSaveTableFileType : qint32 {
    CommaSeparated = 0,     // ","
    SemicolonSeparated = 1, // ";"
    TabSeparated = 2,       // a tab
    SpaceSeparated = 3      // any run of blanks and tabs
};

// Splits one line into its fields (trimmed; double-quoted fields with doubled
// quotes inside). An empty line gives no field; an invalid dialect gives an
// empty list.
SUNDRY_EXPORT QStringList csvParseString(const QString &line, LoadSaveTableFileType type);

// Reads lines until one yields at least one field and returns its fields;
// an empty list at the end of the stream. Adds 1 to *lineCounter (when not
// null) for every line read, empty ones included.
SUNDRY_EXPORT QStringList csvGetNextLine(QTextStream &in, int *lineCounter, LoadSaveTableFileType type);

// Reads `count` non-empty lines. Returns 0 when all were read, 10952 when the
// stream ended first, 10951 when a line had fewer than `minFields` fields.
SUNDRY_EXPORT int csvSkipLines(unsigned long count, QTextStream &in, int *lineCounter,
                               unsigned long minFields, LoadSaveTableFileType type);

// Returns `text` unchanged unless it holds a character that needs quoting in
// the dialect; then doubles every double quote and encloses it in quotes.
SUNDRY_EXPORT QString csvExcapeStringIfNeed(QString text, LoadSaveTableFileType type);

#endif // CSVFUNCTIONS_H
