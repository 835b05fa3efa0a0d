#include "qdatapacketinternal.h"

#include "templateparse_p.h"

#include <qxmlbasedobject.h>

#include <QDomImplementation>

#include <algorithm>

namespace {

// What parsing one copy of `element` costs besides its child nodes, in
// steps of about one visit or one character: each attribute and child
// element is looked at again for every copy, and each copy gets names and
// translations of its own.
qint64 copyWork(const QDomElement &element)
{
    qint64 work = 1 + element.attributes().length();
    if (element.hasAttribute(QStringLiteral("joker")))
        work += element.attribute(QStringLiteral("name")).size();
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        ++work;
        if (child.tagName() == QLatin1String("translation"))
            work += child.attributes().length() + child.text().size();
    }
    return work;
}

// Counts the nodes that parsing `element` would create below it, for one
// copy of it at `depth`, into `total`, and the steps it would take into
// `work`, before any node is created. False, with the reason in `parse`,
// when the tree would be deeper than MaxDepth, larger than MaxNodes, or
// take more than MaxWork steps.
bool countNodes(const QDomElement &element, int depth, qint64 &total, qint64 &work, TemplateParse &parse)
{
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (!isNodeElement(child))
            continue;
        qint64 count = 1;
        if (readCount(child, count) == NumberRead::TooLarge)
            return parse.fail(child, QStringLiteral("attribute count=\"%1\" of <%2> does not fit an int")
                                         .arg(child.attribute(QStringLiteral("count")).trimmed(), child.tagName()));
        if (count == 0)
            continue;
        if (depth + 1 > QDataPacketInternal::MaxDepth)
            return parse.fail(child, QStringLiteral("<%1> \"%2\" is nested deeper than %3 levels below the root")
                                         .arg(child.tagName(), child.attribute(QStringLiteral("name")),
                                              QString::number(QDataPacketInternal::MaxDepth)));
        qint64 perCopy = 1;
        qint64 workPerCopy = copyWork(child);
        if (!countNodes(child, depth + 1, perCopy, workPerCopy, parse))
            return false;
        // Each per-copy figure is bounded by its limit or by the length of
        // the text, and a count by an int, so neither product overflows.
        total += count * perCopy;
        work += count * workPerCopy;
        if (total > QDataPacketInternal::MaxNodes)
            return parse.fail(child, QStringLiteral("the template has more than %1 nodes (<%2> \"%3\" with count %4)")
                                         .arg(QString::number(QDataPacketInternal::MaxNodes), child.tagName(),
                                              child.attribute(QStringLiteral("name")), QString::number(count)));
        if (work > QDataPacketInternal::MaxWork)
            return parse.fail(child,
                              QStringLiteral("parsing the template would take more than %1 steps (<%2> \"%3\" with "
                                             "count %4 repeats its attributes, children, name and translations)")
                                  .arg(QString::number(QDataPacketInternal::MaxWork), child.tagName(),
                                       child.attribute(QStringLiteral("name")).left(64), QString::number(count)));
    }
    return true;
}

} // namespace

QDataPacketInternal::QDataPacketInternal()
    : QDataPacketNodeInternal(nullptr, nullptr)
{
    m_packet = this;
    reset();
}

QDataPacketInternal::~QDataPacketInternal() = default;

void QDataPacketInternal::reset()
{
    deleteChildNodes();
    m_kksIndex.clear();
    m_rtmIndex.clear();
    m_iidIndex.clear();
    m_codedNodes.clear();
    m_type = DPDataTypeStruct();
    m_tag = QStringLiteral("packet");
    m_name.clear();
    m_id.clear();
    m_kks.clear();
    m_rtm.clear();
    m_iid.clear();
    m_extentEnd = 0;
    m_bufferSize = 0;
    m_nodeCount = 1;
}

bool QDataPacketInternal::fail(const QString &reason, int line, int column)
{
    reset();
    m_errorReason = reason;
    m_errorLine = line;
    m_errorColumn = column;
    return false;
}

QString QDataPacketInternal::errorText() const
{
    if (m_errorLine > 0)
        return QStringLiteral("%1 at line %2, column %3")
            .arg(m_errorReason, QString::number(m_errorLine), QString::number(m_errorColumn));
    return m_errorReason;
}

void QDataPacketInternal::indexNode(QDataPacketNodeInternal *node)
{
    if (!node->m_kks.isEmpty())
        m_kksIndex.insert(node->m_kks, node);
    if (!node->m_rtm.isEmpty())
        m_rtmIndex.insert(node->m_rtm, node);
    if (!node->m_iid.isEmpty())
        m_iidIndex.insert(node->m_iid, node);
    if (!node->m_kks.isEmpty() || !node->m_rtm.isEmpty() || !node->m_iid.isEmpty())
        m_codedNodes.append(node);
}

bool QDataPacketInternal::parseXML(const QDomDocument &doc, QChar joker)
{
    reset();
    m_errorReason.clear();
    m_errorLine = -1;
    m_errorColumn = -1;
    const QDomElement root = doc.firstChildElement(QStringLiteral("packet"));
    if (root.isNull())
        return fail(QStringLiteral("the document has no <packet> element"), -1, -1);

    TemplateParse parse;
    parse.root = this;
    qint64 nodes = 1;
    qint64 work = 0;
    if (!countNodes(root, 0, nodes, work, parse))
        return fail(parse.error, parse.line, parse.column);
    qint64 byteOffset = 0;
    qint64 bitOffset = 0;
    if (!parseXMLSubTree(root, byteOffset, bitOffset, !joker.isNull(), joker, 0, parse))
        return fail(parse.error, parse.line, parse.column);
    m_nodeCount = parse.nextIndex;
    m_bufferSize = std::max<qint64>(0, m_extentEnd);
    return true;
}

bool QDataPacketInternal::parseXML(const QByteArray &xml, QString *errorMessage, int *errorLine, int *errorColumn,
                                   QChar joker)
{
    QDomDocument doc;
    QString reason;
    int line = -1;
    int column = -1;
    bool ok = QXmlBasedObject::setXMLContentChecked(doc, xml, &reason, &line, &column);
    if (!ok)
        fail(reason, line, column);
    else
        ok = parseXML(doc, joker);
    if (!ok) {
        if (errorMessage)
            *errorMessage = m_errorReason;
        if (errorLine)
            *errorLine = m_errorLine;
        if (errorColumn)
            *errorColumn = m_errorColumn;
    }
    return ok;
}

QDomDocument QDataPacketInternal::getPacketStructToFile(DOMstyle style) const
{
    QDomImplementation dom;
    QDomDocument doc(dom.createDocumentType(QStringLiteral("packet"), QString(), QStringLiteral("packet.dtd")));
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                    QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    doc.appendChild(toDomElement(doc, 0, 0, style));
    return doc;
}
