#ifndef PACKETTESTING_H
#define PACKETTESTING_H

#include <qdatapacket.h>

#include "sundry/qtprinters.h"

#include <QStringList>

#include <gtest/gtest.h>

// Parses `xml` into `packet`, reporting the parser's reason on failure.
inline ::testing::AssertionResult parsed(QDataPacket &packet, const QByteArray &xml, QChar joker = QChar())
{
    if (packet.parseXML(xml, nullptr, nullptr, nullptr, joker))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << packet.errorText().toStdString();
}

// One line per node of the subtree: path, place, types, byte order, codes
// and names; two trees that describe alike lay out packets alike.
inline void describeTree(const QDataPacketNodeInternal *n, QStringList &out)
{
    const DPDataTypeStruct &t = n->type();
    QString names;
    const QMap<QString, QString> tr = n->nameTranslation().translations();
    for (auto it = tr.begin(); it != tr.end(); ++it)
        names += QStringLiteral(" %1=%2").arg(it.key(), it.value());
    out << QStringLiteral("%1 @%2.%3 +%4 %5/%6 e%7 r%8 s%9 [%10|%11|%12] %13%14")
               .arg(n->fullPath())
               .arg(t.offset)
               .arg(t.bitOffset)
               .arg(t.size)
               .arg(t.dataType)
               .arg(t.metaType)
               .arg(t.endian)
               .arg(t.reverse)
               .arg(t.isSigned)
               .arg(n->kks(), n->rtm(), n->iid(), n->name(), names);
    for (const QDataPacketNodeInternal *child : n->childNodes())
        describeTree(child, out);
}

inline QStringList describeTree(const QDataPacket &packet)
{
    QStringList out;
    if (packet.templateInternal())
        describeTree(packet.templateInternal(), out);
    return out;
}

#endif // PACKETTESTING_H
