#ifndef FAULTSUPPORT_H
#define FAULTSUPPORT_H

// Helpers of the fault tests: the program's clock written into a table file,
// and reading that table back record by record.

#include "installationtree.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

// A `textfileout` section writing `rows` parameters fed by the service
// clock (@CURRENT_DATETIME_UTC) into `table`, a record per second; the
// list goes into the tree as clock.csv.
inline QByteArray clockTableSection(const InstallationTree &tree, const QString &table, int rows = 1)
{
    QByteArray list = "kks,index,type\n";
    for (int i = 1; i <= rows; ++i)
        list += "@CURRENT_DATETIME_UTC," + QByteArray::number(i) + ",SDWORD\n";
    tree.writeConfig("clock.csv", list);
    return "<textfileout><csvlist file='clock.csv' kks='0' index='1' type='2' direction='out'/><outfile filename='"
        + table.toUtf8() + "'/></textfileout>";
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Records in a clock table (each has a seconds line first).
inline int clockRecords(const QByteArray &table, int rows = 1)
{
    return table.count("@CURRENT_DATETIME_UTC;") / rows;
}

// True when `table` holds whole clock records of `rows` lines only.
inline bool wholeClockRecords(const QByteArray &table, int rows = 1)
{
    if (!table.isEmpty() && !table.endsWith('\n'))
        return false;
    static const QRegularExpression seconds(QStringLiteral("^\\d+$"));
    static const QRegularExpression clock(QStringLiteral("^@CURRENT_DATETIME_UTC;\\d+$"));
    const QList<QByteArray> lines = table.split('\n');
    // The last piece is the empty one after the final line end.
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QRegularExpression &expected = i % (rows + 1) == 0 ? seconds : clock;
        if (!expected.match(QString::fromLatin1(lines.at(i))).hasMatch())
            return false;
    }
    return (lines.size() - 1) % (rows + 1) == 0;
}

#endif // FAULTSUPPORT_H
