#ifndef CSVLISTLOADER_H
#define CSVLISTLOADER_H

#include <QString>
#include <QtGlobal>

class CsvTieUnit;
class QTextCodec;

// Column numbers (0-based) of a parameter list; -1 means the list has no
// such column.
struct CsvListColumns {
    int type = -1;
    int index = -1;
    int extid = -1;
    int iid = -1;
    int kks = -1;
    int rtm = -1;

    // The largest configured column number (-1 when none is set).
    int largest() const;
};

// The data type of a list's type code: "A"/"R" analog, "I"/"N" integer,
// "D"/"B" discrete (letter case ignored); any other text is taken as a data
// type name, extended names included. Unknown codes give 0.
quint32 csvTypeFromCode(const QString &code);

// The codec for a list's encoding name: the system locale's codec when the
// name is empty or names no known codec. Never null.
QTextCodec *csvCodecForName(const QString &name);

// Reads the parameter list at `path` into `unit`: the first non-empty line
// is a header, every further non-empty line one parameter, added to the
// unit (and its indexes). A comma that ends a row closes one more, empty
// field, so an empty last column counts as present. The data type comes
// from the `type` column, or is `typeValue` without one; a type name that
// names no data type is reported (file and line) and gives a parameter of
// type 0. A null `codec` means the system locale's codec. Every failure is
// reported as a warning and a log line (a short row with its file and line)
// and returns false; the parameters of the rows before the failure stay in
// the unit.
bool loadCsvList(CsvTieUnit *unit, const QString &path, const CsvListColumns &columns, quint32 typeValue,
                 QTextCodec *codec);

#endif // CSVLISTLOADER_H
