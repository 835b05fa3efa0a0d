#include "config/sectionrecord.h"

#include "core/regularfile.h"

#include <QCryptographicHash>
#include <QDomElement>
#include <QDomNamedNodeMap>
#include <QFile>

#include <algorithm>

namespace {

// Each piece of the canonical form is written with its length, so that no
// two different elements can give the same stream.
void addPiece(QCryptographicHash &hash, char kind, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const QByteArray head = kind + QByteArray::number(bytes.size()) + ':';
    hash.addData(head);
    hash.addData(bytes);
}

void addElement(QCryptographicHash &hash, const QDomElement &element)
{
    addPiece(hash, '<', element.tagName());
    const QDomNamedNodeMap attributes = element.attributes();
    QVector<QPair<QString, QString>> sorted;
    sorted.reserve(attributes.count());
    for (int i = 0; i < attributes.count(); ++i) {
        const QDomAttr attribute = attributes.item(i).toAttr();
        sorted.append({attribute.name(), attribute.value()});
    }
    std::sort(sorted.begin(), sorted.end());
    for (const auto &attribute : qAsConst(sorted)) {
        addPiece(hash, '@', attribute.first);
        addPiece(hash, '=', attribute.second);
    }
    for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.isElement()) {
            addElement(hash, child.toElement());
        } else if (child.isText()) {
            // CDATA sections are text nodes too.
            const QString text = child.nodeValue().simplified();
            if (!text.isEmpty())
                addPiece(hash, 't', text);
        }
    }
    addPiece(hash, '>', element.tagName());
}

} // namespace

bool SectionRecord::filesUnchanged() const
{
    for (const File &file : files)
        if (sectionFileDigest(file.path) != file.digest)
            return false;
    return true;
}

QByteArray sectionElementDigest(const QDomElement &element)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addElement(hash, element);
    return hash.result();
}

QByteArray sectionFileDigest(const QString &path)
{
    QFile file(path);
    QString reason;
    if (!openRegularFileForReading(file, &reason))
        return QByteArrayLiteral("no file");
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QByteArrayLiteral("no file");
    return hash.result();
}
