#include "qtemplatexmlgeneralconf.h"

#include <QDomElement>
#include <QFile>
#include <QFileInfo>

QTemplateXmlGeneralConf::QTemplateXmlGeneralConf(QObject *parent)
    : QXmlBasedObject(parent)
    , m_baseDir(QStringLiteral("."))
    , m_confDir(QStringLiteral("."))
{
}

QTemplateXmlGeneralConf::~QTemplateXmlGeneralConf() = default;

bool QTemplateXmlGeneralConf::openConfFile(QFile &file) const
{
    return file.open(QIODevice::ReadOnly);
}

bool QTemplateXmlGeneralConf::loadConf(const QString &fileName)
{
    QDomDocument doc(QStringLiteral("rootdocument"));
    const QString path = m_baseDir.filePath(fileName);
    QFile file(path);
    if (!openConfFile(file)) {
        qWarning("Error loading config: error opening %s", qUtf8Printable(path));
        return false;
    }
    const QFileInfo info(path);
    m_confDir = QDir(info.absolutePath());
    const QByteArray data = file.readAll();
    file.close();
    QString reason;
    if (!setXMLContentChecked(doc, data, &reason)) {
        qWarning("Error loading config: error parsing %s (%s): %s", qUtf8Printable(path),
                 qUtf8Printable(info.absoluteFilePath()), qUtf8Printable(reason));
        return false;
    }
    return loadConf(doc);
}

bool QTemplateXmlGeneralConf::loadConf(const QDomDocument &doc)
{
    // Only an element counts as the root: a processing instruction or other
    // node that happens to be called "config" does not.
    const QDomElement root = doc.firstChildElement(QStringLiteral("config"));
    if (root.isNull()) {
        qWarning("Error loading config: error parsing xml: cannot find root (<config> node)");
        return false;
    }
    return parseConfRoot(root);
}

bool QTemplateXmlGeneralConf::loadXMLtoDOM(QDomDocument &doc, const QString &fileName) const
{
    QFile file(m_confDir.filePath(fileName));
    if (!openConfFile(file)) {
        qDebug("%s \"%s\"", "QTemplateXmlGeneralConf::loadXMLtoDOM(): error loading file",
               fileName.toLocal8Bit().constData());
        return false;
    }
    const QByteArray data = file.readAll();
    file.close();
    QString reason;
    if (!setXMLContentChecked(doc, data, &reason)) {
        qDebug("%s \"%s\": %s", "QTemplateXmlGeneralConf::loadXMLtoDOM(): error setting xml content",
               fileName.toLocal8Bit().constData(), qUtf8Printable(reason));
        return false;
    }
    return true;
}

QDomNode QTemplateXmlGeneralConf::loadXMLAndGetRoot(QDomDocument &doc, const QString &fileName,
                                                    const QString &rootName) const
{
    if (!loadXMLtoDOM(doc, fileName)) {
        qDebug("%s \"%s\"", "QTemplateXmlGeneralConf::loadXMLAndGetRoot(): error loading file",
               fileName.toLocal8Bit().constData());
        return QDomNode();
    }
    return doc.firstChildElement(rootName);
}

void QTemplateXmlGeneralConf::setBaseDir(const QDir &dir)
{
    m_baseDir = dir;
    m_confDir = dir;
}

bool QTemplateXmlGeneralConf::setBaseDir(const QString &path)
{
    QDir dir(m_baseDir);
    if (!dir.cd(path))
        return false;
    m_baseDir = dir;
    m_confDir = dir;
    return true;
}

QDir QTemplateXmlGeneralConf::baseDir() const
{
    return m_baseDir;
}

QDir QTemplateXmlGeneralConf::confDir() const
{
    return m_confDir;
}
