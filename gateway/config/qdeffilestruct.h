#ifndef QDEFFILESTRUCT_H
#define QDEFFILESTRUCT_H

#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

class QTextCodec;
class QTextStream;

// One record of a definition file: a field of a byte area.
struct QDefRecord {
    QString name;
    qint32 type = 0;      // type code of the keyword (0: unsupported)
    quint64 offset = 0;   // byte offset within the area
    quint64 dim1 = 1;
    quint64 dim2 = 1;
    quint64 dim3 = 1;

    // Element count: the product of the three dimensions; UINT64_MAX when
    // the product does not fit 64 bits.
    quint64 count() const;
    // Bytes: element bytes of the type x count (0 for type 0); UINT64_MAX
    // when the product does not fit 64 bits.
    quint64 size() const;
    // True when the record lies wholly inside an area of `areaSize` bytes.
    bool fitsInto(quint64 areaSize) const;
};

// The layout of a byte area read from a definition file: the area size and
// the records in file order. The structure owns its records.
class QDefFileStruct
{
public:
    // Result codes of loading.
    enum Result {
        dfrOk = 0,
        dfrCannotOpen = 10850,
        dfrEmptyFile = 10951,
        dfrFormatError = 10908
    };

    QDefFileStruct();
    virtual ~QDefFileStruct();
    QDefFileStruct(const QDefFileStruct &) = delete;
    QDefFileStruct &operator=(const QDefFileStruct &) = delete;

    // Reads one definition from `stream`: the name line, the size line (added
    // to the area size) and the records, whose offsets count from the area
    // size on entry. Returns a Result code; records read before a format
    // error stay in the structure, and errorText() says what failed.
    int LoadFromStream(QTextStream &stream);
    // Opens `path` and reads it with `codec` (KOI8-R when null). Returns
    // dfrCannotOpen when the file cannot be opened, else LoadFromStream's
    // code; a failure is reported with the path and errorText().
    int loadFile(const QString &path, QTextCodec *codec = nullptr);
    // Why the last load failed ("line 3: ..."); empty after a good one.
    QString errorText() const { return m_errorText; }

    quint64 areaSize() const { return m_areaSize; }
    void setAreaSize(quint64 bytes) { m_areaSize = bytes; }
    // The records in file order (owned by the structure).
    const QList<QDefRecord *> &records() const { return m_records; }
    // The last record named `name`, or null.
    QDefRecord *record(const QString &name) const;
    // Deletes every record and sets the area size to 0. Parameters made from
    // the records must be rebuilt afterwards (DefTieUnit::refreshParams).
    void clear();

    // Type code of a keyword ("type_float" ...; exact letter case), 0 when
    // unsupported.
    static int defFileTypeFromString(const QString &keyword);
    // Keyword of a type code; empty for 0 and unknown codes.
    static QString keywordOf(int code);
    // Bytes of one element of a type code; 0 for 0 and unknown codes.
    static int elementBytesOf(int code);
    // Data type (DPDataType) of the parameter made from a type code; 0 for
    // 0 and unknown codes.
    static quint32 dataTypeOf(int code);

private:
    QString m_errorText;
    quint64 m_areaSize;
    QList<QDefRecord *> m_records;
    QHash<QString, QDefRecord *> m_byName;
};

#endif // QDEFFILESTRUCT_H
