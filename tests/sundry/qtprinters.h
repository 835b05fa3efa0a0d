#ifndef QTPRINTERS_H
#define QTPRINTERS_H

#include <QString>
#include <QStringList>

#include <ostream>

// Readable test failure output for Qt text types (found by argument-dependent
// lookup from the test framework's printers).
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << '{';
    for (int i = 0; i < list.size(); ++i) {
        if (i)
            *os << ", ";
        PrintTo(list.at(i), os);
    }
    *os << '}';
}

#endif // QTPRINTERS_H
