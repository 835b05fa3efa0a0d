#ifndef TEMPLATEPARSE_P_H
#define TEMPLATEPARSE_P_H

// Shared by the template parser of the root and of the nodes; not installed.

#include <QDomElement>
#include <QHash>
#include <QString>

class QDataPacketInternal;

// State of one template parse.
struct TemplateParse {
    QDataPacketInternal *root = nullptr;
    qint64 nextIndex = 1;       // document index of the next node created
    QString error;              // why the parse failed
    int line = -1;
    int column = -1;
    QHash<QString, QString> tags; // one shared copy of each tag text

    // Records `reason` at `where`; returns false for the caller to pass on.
    bool fail(const QDomNode &where, const QString &reason);
    QString intern(const QString &tag);
};

// How a number attribute was read.
enum class NumberRead { Absent, Value, TooLarge };

// A decimal attribute text (surrounding blanks and a sign allowed): Absent
// when empty or not a decimal number, TooLarge when it does not fit an int.
NumberRead readDecimal(const QString &text, qint64 &value);
// The `count` attribute of `element` in C notation ("0x" hexadecimal, a
// leading "0" octal): 1 when absent, empty or not a number; TooLarge when it
// does not fit an int.
NumberRead readCount(const QDomElement &element, qint64 &count);
// True for the elements that become nodes (`section` and `data`).
bool isNodeElement(const QDomElement &element);

#endif // TEMPLATEPARSE_P_H
