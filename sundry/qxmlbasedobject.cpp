#include "qxmlbasedobject.h"

#include <QDomElement>
#include <QDomNamedNodeMap>
#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <limits>

namespace {

// The attribute node of `name`, or a null node when the element has none.
QDomNode attributeNode(const QDomNode &node, const QString &name)
{
    return node.attributes().namedItem(name);
}

// C-notation integer text: "0x"/"0X" hexadecimal, leading "0" octal, else
// decimal; surrounding white space allowed, nothing else.
bool parseCInteger(const QString &text, bool allowMinus, qlonglong *value, qulonglong *uvalue)
{
    QString t = text.trimmed();
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.at(0) == QLatin1Char('-');
        if (negative && !allowMinus)
            return false;
        t.remove(0, 1);
    }
    if (t.isEmpty() || t.at(0).isSpace())
        return false;
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t.remove(0, 2);
        if (t.isEmpty())
            return false;
    } else if (t.size() > 1 && t.at(0) == QLatin1Char('0')) {
        base = 8;
        t.remove(0, 1);
    }
    // Only ASCII digits count: QChar::isDigit() would also accept digits of
    // other scripts, which the number conversion below does not understand.
    for (const QChar c : qAsConst(t)) {
        const ushort u = c.unicode();
        const int digit = (u >= '0' && u <= '9') ? u - '0'
            : (u >= 'a' && u <= 'f') ? u - 'a' + 10
            : (u >= 'A' && u <= 'F') ? u - 'A' + 10
            : -1;
        if (digit < 0 || digit >= base)
            return false;
    }
    bool ok = false;
    const qulonglong magnitude = t.toULongLong(&ok, base);
    if (!ok)
        return false;
    if (value) {
        if (negative) {
            if (magnitude > static_cast<qulonglong>(std::numeric_limits<qlonglong>::max()) + 1)
                return false;
            *value = static_cast<qlonglong>(0 - magnitude);
        } else {
            if (magnitude > static_cast<qulonglong>(std::numeric_limits<qlonglong>::max()))
                return false;
            *value = static_cast<qlonglong>(magnitude);
        }
    }
    if (uvalue)
        *uvalue = magnitude;
    return true;
}

} // namespace

QXmlBasedObject::QXmlBasedObject(QObject *parent)
    : QObject(parent)
{
}

QXmlBasedObject::~QXmlBasedObject() = default;

bool QXmlBasedObject::parseXMLSubTree(const QDomNode &)
{
    return true;
}

QString QXmlBasedObject::translatedName() const
{
    return QString();
}

QString QXmlBasedObject::getXMLAttrValue(const QDomNode &node, const QString &name)
{
    const QDomNode attr = attributeNode(node, name);
    return attr.isNull() ? QString() : attr.nodeValue();
}

QString QXmlBasedObject::getXMLAttrValueDef(const QDomNode &node, const QString &name, const QString &def)
{
    const QDomNode attr = attributeNode(node, name);
    if (attr.isNull())
        return def;
    const QString value = attr.nodeValue();
    return value.isEmpty() ? QString(QLatin1String("")) : value;
}

long QXmlBasedObject::getXMLLongAttrDef(const QDomNode &node, const QString &name, long def)
{
    const QString text = getXMLAttrValue(node, name);
    if (text.isEmpty())
        return def;
    qlonglong value = 0;
    return parseCInteger(text, true, &value, nullptr) ? static_cast<long>(value) : def;
}

unsigned long QXmlBasedObject::getXMLULongAttrDef(const QDomNode &node, const QString &name, unsigned long def)
{
    const QString text = getXMLAttrValue(node, name);
    if (text.isEmpty())
        return def;
    qulonglong value = 0;
    return parseCInteger(text, false, nullptr, &value) ? static_cast<unsigned long>(value) : def;
}

double QXmlBasedObject::getXMLDoubleAttrDef(const QDomNode &node, const QString &name, double def)
{
    const QString text = getXMLAttrValue(node, name);
    if (text.isEmpty())
        return def;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok ? value : def;
}

QChar QXmlBasedObject::getXMLCharAttrDef(const QDomNode &node, const QString &name, QChar def)
{
    const QString text = getXMLAttrValue(node, name);
    return text.isEmpty() ? def : text.at(0);
}

bool QXmlBasedObject::getXMLBoolAttrDef(const QDomNode &node, const QString &name, bool def)
{
    const QString text = getXMLAttrValue(node, name);
    if (text.isEmpty())
        return def;
    const QString lower = text.toLower();
    return !(lower == QLatin1String("no") || lower == QLatin1String("false") || lower == QLatin1String("0"));
}

bool QXmlBasedObject::loadXMLFileForParse(QDomDocument &doc, const QString &fileName, QString *errorText)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = file.errorString();
        return false;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (errorText)
            *errorText = file.errorString();
        return false;
    }
    return setXMLContentChecked(doc, data, errorText);
}

bool QXmlBasedObject::setXMLContentChecked(QDomDocument &doc, const QByteArray &data, QString *errorText,
                                           int maxDepth)
{
    QString reason;
    int line = 0;
    int column = 0;
    if (setXMLContentChecked(doc, data, &reason, &line, &column, maxDepth))
        return true;
    if (errorText)
        *errorText = QStringLiteral("%1 at line %2, column %3").arg(reason, QString::number(line), QString::number(column));
    return false;
}

bool QXmlBasedObject::setXMLContentChecked(QDomDocument &doc, const QByteArray &data, QString *errorMessage,
                                           int *errorLine, int *errorColumn, int maxDepth)
{
    const auto fail = [=](const QString &reason, qint64 line, qint64 column) {
        if (errorMessage)
            *errorMessage = reason;
        if (errorLine)
            *errorLine = static_cast<int>(line);
        if (errorColumn)
            *errorColumn = static_cast<int>(column);
        return false;
    };
    // The stream reader keeps no stack of its own beyond the element names,
    // so it measures any depth safely; well-formedness is left to the DOM
    // parser below, which reports it with its own words. Namespaces are not
    // checked, as the DOM parser does not check them.
    QXmlStreamReader scan(data);
    scan.setNamespaceProcessing(false);
    int depth = 0;
    while (!scan.atEnd()) {
        const QXmlStreamReader::TokenType token = scan.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > maxDepth)
                return fail(QStringLiteral("elements nested deeper than %1 levels").arg(maxDepth), scan.lineNumber(),
                            scan.columnNumber());
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    // Where the scan stopped at an error the DOM parser may still go on
    // (the two differ in what they accept): it gets the text only when what
    // follows cannot nest past the limit, each "<" opening at most one
    // level. The character offset is at most the byte offset, so the count
    // covers all that follows.
    if (scan.hasError()) {
        const qint64 from = qBound<qint64>(0, scan.characterOffset(), data.size());
        const qint64 opens = std::count(data.constBegin() + from, data.constEnd(), '<');
        if (depth + opens > maxDepth)
            return fail(scan.errorString(), scan.lineNumber(), scan.columnNumber());
    }
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(data, &message, &line, &column))
        return fail(message, line, column);
    return true;
}
