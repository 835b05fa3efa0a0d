#ifndef SECTIONRECORD_H
#define SECTIONRECORD_H

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

class BaseTie;
class BaseTieUnit;
class QDomElement;

// What the loader knows of the section that built one tie: enough to tell
// on a later load whether the same section would build the same tie again,
// and to enter that tie into a new configuration without building it.
struct SectionRecord {
    // One file the section's reader read, with a digest of its content as it
    // was just before the reading (a change made meanwhile makes the file
    // look changed later, never unchanged).
    struct File {
        QString path;
        QByteArray digest;
    };
    // What the section did to the provider index of the configuration, in
    // the order it happened: the parameters of a unit were merged into it,
    // or a name was looked up in it for the tie's switch or a unit's time
    // point.
    struct IndexUse {
        enum Kind { Merge, SwitchParam, TimePointParam };
        Kind kind = Merge;
        BaseTieUnit *unit = nullptr; // Merge, TimePointParam (the tie's own unit)
        QString name;                // SwitchParam, TimePointParam
    };

    QString tag;
    // Position of the section among the children of the root, from 1.
    int position = 0;
    QByteArray elementDigest;
    QVector<File> files;
    QVector<IndexUse> indexUses;

    // True when every file still has the digest recorded.
    bool filesUnchanged() const;
};

// The records of the ties of one configuration, by tie (the ties are not owned).
using SectionRecords = QHash<BaseTie *, SectionRecord>;

// A digest of `element` as the loader reads it: its tag, its attributes by
// name with their values as written, its text with runs of white space
// made one space and white space at either end dropped, and its child
// elements in order, likewise. Comments, processing instructions, the order
// of attributes and the white space between elements and attributes do not
// count.
QByteArray sectionElementDigest(const QDomElement &element);

// A digest of the content of the file at `path`; one that cannot be read
// has the digest of no file, which no content has.
QByteArray sectionFileDigest(const QString &path);

#endif // SECTIONRECORD_H
