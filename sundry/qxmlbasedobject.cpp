#include "qxmlbasedobject.h"

#include <QDomElement>
#include <QDomNamedNodeMap>
#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
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

// Where the depth scan of `data` stopped and how deep it was then.
struct DepthScan {
    int depth = 0;          // open elements when the scan ended
    bool tooDeep = false;   // an element opened past the limit
    bool failed = false;    // the text is not well-formed for the scanner
    qint64 offset = 0;      // character offset where the scan ended
    qint64 line = 0;
    qint64 column = 0;
    QString reason;
};

// Counts element nesting with the stream reader, which keeps no stack of its
// own beyond the element names, so it measures any depth safely. Namespaces
// are not checked, as the DOM parser does not check them.
DepthScan scanDepth(const QByteArray &data, int maxDepth)
{
    DepthScan result;
    QXmlStreamReader scan(data);
    scan.setNamespaceProcessing(false);
    while (!scan.atEnd()) {
        const QXmlStreamReader::TokenType token = scan.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++result.depth > maxDepth) {
                result.tooDeep = true;
                break;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            --result.depth;
        }
    }
    result.failed = scan.hasError();
    result.offset = scan.characterOffset();
    result.line = scan.lineNumber();
    result.column = scan.columnNumber();
    result.reason = scan.errorString();
    return result;
}

// Length of the well-formed UTF-8 sequence at `p` (before `end`), 0 when
// the bytes there are not one (overlong forms and surrogates included).
int utf8SequenceLength(const unsigned char *p, const unsigned char *end)
{
    const unsigned char c = p[0];
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

// A copy of `data` in which what the stream reader refuses as characters
// but the DOM parser takes (control characters, U+FFFE and U+FFFF, bytes
// that are no UTF-8) is blanked out. Only bytes that cannot be markup
// change, so the copy nests exactly as the text does. Empty for texts not
// in an 8-bit encoding (UTF-16 and UTF-32 begin with a zero byte or a
// byte order mark), which are left as they are.
QByteArray blankedForScan(const QByteArray &data)
{
    const auto *begin = reinterpret_cast<const unsigned char *>(data.constData());
    const auto *end = begin + data.size();
    const bool wide = (data.size() >= 2 && ((begin[0] == 0xFE && begin[1] == 0xFF) || (begin[0] == 0xFF && begin[1] == 0xFE)))
                      || std::find(begin, begin + std::min<qint64>(4, data.size()), 0) != begin + std::min<qint64>(4, data.size());
    if (wide)
        return QByteArray();
    QByteArray copy = data;
    char *out = copy.data();
    for (const unsigned char *p = begin; p < end;) {
        const int length = utf8SequenceLength(p, end);
        const bool control = length == 1 && *p < 0x20 && *p != '\t' && *p != '\n' && *p != '\r';
        const bool nonCharacter = length == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] >= 0xBE;
        const int span = length == 0 ? 1 : length;
        if (length == 0 || control || nonCharacter)
            std::fill(out + (p - begin), out + (p - begin) + span, ' ');
        p += span;
    }
    return copy;
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
    // "nan" and "inf" parse, but are no numbers.
    return ok && std::isfinite(value) ? value : def;
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
    const DepthScan first = scanDepth(data, maxDepth);
    DepthScan scan = first;
    // The DOM parser takes characters the stream reader refuses; the scan
    // then goes on over a copy with them blanked out, so such a text is
    // measured to its end.
    if (scan.failed && !scan.tooDeep) {
        const QByteArray blanked = blankedForScan(data);
        if (!blanked.isEmpty() && blanked != data) {
            const DepthScan second = scanDepth(blanked, maxDepth);
            if (second.tooDeep || second.offset > scan.offset)
                scan = second;
        }
    }
    if (scan.tooDeep)
        return fail(QStringLiteral("elements nested deeper than %1 levels").arg(maxDepth), scan.line, scan.column);
    // Where the scan stopped at an error the DOM parser may still go on
    // (the two differ in what they accept): it gets the text only when what
    // follows cannot nest past the limit, each "<" opening at most one
    // level. The character offset is at most the byte offset, so the count
    // covers all that follows.
    // Entities defined in the text nest without a "<" where they are used,
    // so a text with them that the stream reader refused is refused.
    // The refusal names the first thing the stream reader refused.
    if (scan.failed) {
        const qint64 from = qBound<qint64>(0, scan.offset, data.size());
        const qint64 opens = std::count(data.constBegin() + from, data.constEnd(), '<');
        if (scan.depth + opens > maxDepth || data.contains("<!ENTITY"))
            return fail(first.reason, first.line, first.column);
    }
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(data, &message, &line, &column))
        return fail(message, line, column);
    return true;
}
