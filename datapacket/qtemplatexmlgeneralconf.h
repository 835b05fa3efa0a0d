#ifndef QTEMPLATEXMLGENERALCONF_H
#define QTEMPLATEXMLGENERALCONF_H

#include "korvadatapacket_export.h"

#include <qxmlbasedobject.h>

#include <QDir>
#include <QFile>
#include <QDomDocument>
#include <QDomNode>
#include <QString>

// Base of XML configuration loaders: opens the main configuration file
// relative to a base directory, checks for the `config` root element and
// hands it to the derived loader's parseConfRoot(). Further XML files
// (packet templates, definition files) are opened relative to the directory
// of the main file.
class KORVADATAPACKET_EXPORT QTemplateXmlGeneralConf : public QXmlBasedObject
{
    Q_OBJECT
public:
    explicit QTemplateXmlGeneralConf(QObject *parent = nullptr);
    ~QTemplateXmlGeneralConf() override;

    // Loads the main file `fileName` (relative to baseDir(), or absolute).
    // True only when it was read, parsed and accepted by parseConfRoot();
    // otherwise false with a warning. confDir() becomes the file's absolute
    // directory as soon as the file is open.
    virtual bool loadConf(const QString &fileName);
    // Hands the `config` element of `doc` to parseConfRoot(); false with a
    // warning when there is none.
    bool loadConf(const QDomDocument &doc);
    // Reads the whole configuration from the `config` element.
    virtual bool parseConfRoot(const QDomNode &root) = 0;

    // Parses `fileName` (relative to confDir(), or absolute) into `doc`.
    // False, with a debug message, when it cannot be opened or is not
    // well-formed XML.
    bool loadXMLtoDOM(QDomDocument &doc, const QString &fileName) const;
    // loadXMLtoDOM(), then the element of `doc` named `rootName`; a null node
    // when loading fails (with a debug message) or there is no such element.
    QDomNode loadXMLAndGetRoot(QDomDocument &doc, const QString &fileName, const QString &rootName) const;

    // Sets both the base and the configuration directory to `dir`.
    void setBaseDir(const QDir &dir);
    // Changes the base directory to `path` as a shell "cd" does (relative to
    // the current base directory, or absolute); the configuration directory
    // follows. False, with both unchanged, when there is no such directory.
    bool setBaseDir(const QString &path);

    // Where loadConf(fileName) looks for the main file; initially ".".
    QDir baseDir() const;
    // Against which loadXMLtoDOM() resolves further files; initially ".".
    QDir confDir() const;

protected:
    // Opens `file` (its name set) for reading, for loadConf() and
    // loadXMLtoDOM(); false when it cannot be. A loader may refuse more
    // (what is not a regular file, say), reporting why itself.
    virtual bool openConfFile(QFile &file) const;

    QDir m_baseDir;
    QDir m_confDir;
};

#endif // QTEMPLATEXMLGENERALCONF_H
