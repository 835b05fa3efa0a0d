#ifndef QXMLBASEDOBJECT_H
#define QXMLBASEDOBJECT_H

#include "sundry_export.h"

#include <QChar>
#include <QDomDocument>
#include <QDomNode>
#include <QObject>
#include <QString>

// Base of objects built from an XML (DOM) subtree, and home of the attribute
// readers through which every XML reader of the system takes its values.
// "Absent" means the element has no attribute of that name, "empty" that the
// attribute's text has no characters. Integers are read in C notation
// ("0x" hexadecimal, a leading "0" octal, otherwise decimal); booleans are
// false only for "no", "false" and "0" (any letter case).
class SUNDRY_EXPORT QXmlBasedObject : public QObject
{
    Q_OBJECT
public:
    explicit QXmlBasedObject(QObject *parent = nullptr);
    ~QXmlBasedObject() override;

    // Builds the object from `node`. The base reads nothing and succeeds.
    virtual bool parseXMLSubTree(const QDomNode &node);
    // Display name of the object; the base returns the empty string.
    virtual QString translatedName() const;

    // The attribute's text; the empty string when absent or empty.
    static QString getXMLAttrValue(const QDomNode &node, const QString &name);
    // `def` when absent, the empty string when empty, else the text.
    static QString getXMLAttrValueDef(const QDomNode &node, const QString &name, const QString &def);
    // Signed C-notation integer; `def` when absent, empty or unparsable.
    static long getXMLLongAttrDef(const QDomNode &node, const QString &name, long def);
    // Unsigned C-notation integer; `def` when absent, empty or unparsable (a minus sign is unparsable).
    static unsigned long getXMLULongAttrDef(const QDomNode &node, const QString &name, unsigned long def);
    // Floating-point number with a point as decimal separator; `def` when absent, empty or unparsable.
    static double getXMLDoubleAttrDef(const QDomNode &node, const QString &name, double def);
    // First character of the text; `def` when absent or empty.
    static QChar getXMLCharAttrDef(const QDomNode &node, const QString &name, QChar def);
    // false for "no", "false", "0" (any case), true for any other text; `def` when absent or empty.
    static bool getXMLBoolAttrDef(const QDomNode &node, const QString &name, bool def);

    // Reads and parses the whole file into `doc` (through
    // setXMLContentChecked). False when the file cannot be opened or is not
    // well-formed XML; `errorText`, when given, then says why.
    static bool loadXMLFileForParse(QDomDocument &doc, const QString &fileName, QString *errorText = nullptr);

    // Deepest element nesting any XML file of the system may have. The DOM
    // parser recurses once per level, so a hostile file of some ten
    // thousand levels would overflow the stack.
    static constexpr int MaxXMLNestingDepth = 256;
    // Parses `data` into `doc`, after a scan that refuses a nesting deeper
    // than `maxDepth` before the DOM parser sees it. False when the text is
    // too deep or not well-formed; `errorText`, when given, then holds the
    // parser's reason with its line and column ("... at line 3, column 7").
    static bool setXMLContentChecked(QDomDocument &doc, const QByteArray &data, QString *errorText = nullptr,
                                     int maxDepth = MaxXMLNestingDepth);
    // The same, with the parser's reason alone in `errorMessage` and its
    // position in `errorLine` and `errorColumn` (each may be null).
    static bool setXMLContentChecked(QDomDocument &doc, const QByteArray &data, QString *errorMessage,
                                     int *errorLine, int *errorColumn, int maxDepth = MaxXMLNestingDepth);
};

#endif // QXMLBASEDOBJECT_H
