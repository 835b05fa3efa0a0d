#include <qtemplatexmlgeneralconf.h>

#include "sundry/qtprinters.h"
#include "support/messagecapture.h"

#include <QDir>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A loader that remembers what it was handed.
class TinyConf : public QTemplateXmlGeneralConf
{
public:
    bool parseConfRoot(const QDomNode &root) override
    {
        ++calls;
        rootTag = root.toElement().tagName();
        value = getXMLLongAttrDef(root, QStringLiteral("value"), -1);
        return accept;
    }

    int calls = 0;
    QString rootTag;
    long value = 0;
    bool accept = true;
};

class ConfTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("sub")));
        write(QStringLiteral("sub/main.cfg"), "<?xml version=\"1.0\"?><config value=\"0x10\"><misc/></config>");
        write(QStringLiteral("sub/packet.xml"), "<packet name=\"p\"/>");
        write(QStringLiteral("packet.xml"), "<packet name=\"top\"/>");
        write(QStringLiteral("sub/bad.xml"), "<packet><unclosed></packet>");
        write(QStringLiteral("template.cfg"), "<packet name=\"not a config\"/>");
    }

    void write(const QString &name, const char *content)
    {
        QFile f(m_dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    QString absolute(const QString &name) const { return QDir(m_dir.path()).absoluteFilePath(name); }

    QTemporaryDir m_dir;
    TinyConf m_conf;
};

TEST_F(ConfTest, StartsInCurrentDirectory)
{
    EXPECT_EQ(m_conf.baseDir(), QDir(QStringLiteral(".")));
    EXPECT_EQ(m_conf.confDir(), QDir(QStringLiteral(".")));
}

TEST_F(ConfTest, LoadsMainFileAndResolvesFurtherFilesBesideIt)
{
    m_conf.setBaseDir(QDir(m_dir.path()));
    MessageCapture capture;
    ASSERT_TRUE(m_conf.loadConf(QStringLiteral("sub/main.cfg")));
    EXPECT_EQ(m_conf.calls, 1);
    EXPECT_EQ(m_conf.rootTag, QStringLiteral("config"));
    EXPECT_EQ(m_conf.value, 16);
    EXPECT_EQ(m_conf.confDir().absolutePath(), absolute(QStringLiteral("sub")));
    EXPECT_EQ(m_conf.baseDir(), QDir(m_dir.path()));

    QDomDocument doc;
    ASSERT_TRUE(m_conf.loadXMLtoDOM(doc, QStringLiteral("packet.xml")));
    EXPECT_EQ(doc.documentElement().attribute(QStringLiteral("name")), QStringLiteral("p"));

    QDomDocument top;
    ASSERT_TRUE(m_conf.loadXMLtoDOM(top, absolute(QStringLiteral("packet.xml"))));
    EXPECT_EQ(top.documentElement().attribute(QStringLiteral("name")), QStringLiteral("top"));
    EXPECT_TRUE(capture.messages().isEmpty());
}

TEST_F(ConfTest, AbsoluteMainFileIgnoresBaseDirectory)
{
    ASSERT_TRUE(m_conf.loadConf(absolute(QStringLiteral("sub/main.cfg"))));
    EXPECT_EQ(m_conf.confDir().absolutePath(), absolute(QStringLiteral("sub")));
}

TEST_F(ConfTest, MissingMainFile)
{
    m_conf.setBaseDir(QDir(m_dir.path()));
    MessageCapture capture;
    EXPECT_FALSE(m_conf.loadConf(QStringLiteral("nothing.cfg")));
    EXPECT_EQ(capture.warnings(),
              QStringList(QStringLiteral("Error loading config: error opening ")
                          + QDir(m_dir.path()).filePath(QStringLiteral("nothing.cfg"))));
    EXPECT_EQ(m_conf.calls, 0);
    EXPECT_EQ(m_conf.confDir(), QDir(m_dir.path()));
}

TEST_F(ConfTest, MalformedMainFileStillMovesConfDir)
{
    m_conf.setBaseDir(QDir(m_dir.path()));
    MessageCapture capture;
    EXPECT_FALSE(m_conf.loadConf(QStringLiteral("sub/bad.xml")));
    const QString joined = QDir(m_dir.path()).filePath(QStringLiteral("sub/bad.xml"));
    EXPECT_EQ(capture.warnings(), QStringList(QStringLiteral("Error loading config: error parsing %1 (%2): tag mismatch at line 1, column 27")
                                                  .arg(joined, absolute(QStringLiteral("sub/bad.xml")))));
    EXPECT_EQ(m_conf.calls, 0);
    EXPECT_EQ(m_conf.confDir().absolutePath(), absolute(QStringLiteral("sub")));
    EXPECT_EQ(m_conf.baseDir(), QDir(m_dir.path()));
}

TEST_F(ConfTest, RootMustBeConfig)
{
    m_conf.setBaseDir(QDir(m_dir.path()));
    MessageCapture capture;
    EXPECT_FALSE(m_conf.loadConf(QStringLiteral("template.cfg")));
    EXPECT_EQ(capture.warnings(),
              QStringList(QStringLiteral("Error loading config: error parsing xml: cannot find root (<config> node)")));
    EXPECT_EQ(m_conf.calls, 0);

    // A processing instruction called config is no root element.
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(QStringLiteral("<?config x?><other/>")));
    EXPECT_FALSE(m_conf.loadConf(doc));
    EXPECT_EQ(m_conf.calls, 0);
    EXPECT_FALSE(m_conf.loadConf(QDomDocument()));
}

TEST_F(ConfTest, LoaderVerdictIsTheResult)
{
    m_conf.setBaseDir(QDir(m_dir.path()));
    m_conf.accept = false;
    EXPECT_FALSE(m_conf.loadConf(QStringLiteral("sub/main.cfg")));
    EXPECT_EQ(m_conf.calls, 1);

    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(QStringLiteral("<config value=\"7\"/>")));
    m_conf.accept = true;
    EXPECT_TRUE(m_conf.loadConf(doc));
    EXPECT_EQ(m_conf.value, 7);
}

TEST_F(ConfTest, FurtherFileFailures)
{
    m_conf.setBaseDir(QDir(absolute(QStringLiteral("sub"))));
    MessageCapture capture;
    QDomDocument doc;
    EXPECT_FALSE(m_conf.loadXMLtoDOM(doc, QStringLiteral("missing.xml")));
    EXPECT_FALSE(m_conf.loadXMLtoDOM(doc, QStringLiteral("bad.xml")));
    EXPECT_EQ(capture.debugs(),
              (QStringList{QStringLiteral("QTemplateXmlGeneralConf::loadXMLtoDOM(): error loading file \"missing.xml\""),
                           QStringLiteral("QTemplateXmlGeneralConf::loadXMLtoDOM(): error setting xml content "
                                          "\"bad.xml\": tag mismatch at line 1, column 27")}));
    EXPECT_TRUE(capture.warnings().isEmpty());
}

TEST_F(ConfTest, LoadAndGetRoot)
{
    m_conf.setBaseDir(QDir(absolute(QStringLiteral("sub"))));
    QDomDocument doc;
    const QDomNode root = m_conf.loadXMLAndGetRoot(doc, QStringLiteral("packet.xml"), QStringLiteral("packet"));
    ASSERT_FALSE(root.isNull());
    EXPECT_EQ(root.toElement().attribute(QStringLiteral("name")), QStringLiteral("p"));

    QDomDocument other;
    EXPECT_TRUE(m_conf.loadXMLAndGetRoot(other, QStringLiteral("packet.xml"), QStringLiteral("config")).isNull());

    MessageCapture capture;
    QDomDocument failed;
    EXPECT_TRUE(m_conf.loadXMLAndGetRoot(failed, QStringLiteral("gone.xml"), QStringLiteral("packet")).isNull());
    EXPECT_EQ(capture.debugs(),
              (QStringList{QStringLiteral("QTemplateXmlGeneralConf::loadXMLtoDOM(): error loading file \"gone.xml\""),
                           QStringLiteral("QTemplateXmlGeneralConf::loadXMLAndGetRoot(): error loading file "
                                          "\"gone.xml\"")}));
}

TEST_F(ConfTest, SetBaseDirByPathWorksLikeCd)
{
    m_conf.setBaseDir(QDir(m_dir.path()));
    EXPECT_TRUE(m_conf.setBaseDir(QStringLiteral("sub")));
    EXPECT_EQ(m_conf.baseDir().absolutePath(), absolute(QStringLiteral("sub")));
    EXPECT_EQ(m_conf.confDir().absolutePath(), absolute(QStringLiteral("sub")));
    EXPECT_TRUE(m_conf.setBaseDir(QStringLiteral("..")));
    EXPECT_EQ(m_conf.baseDir().absolutePath(), QDir(m_dir.path()).absolutePath());

    const QDir before = m_conf.baseDir();
    EXPECT_FALSE(m_conf.setBaseDir(QStringLiteral("no/such/dir")));
    EXPECT_FALSE(m_conf.setBaseDir(QStringLiteral("template.cfg"))); // a file, no directory
    EXPECT_EQ(m_conf.baseDir(), before);
    EXPECT_EQ(m_conf.confDir(), before);

    EXPECT_TRUE(m_conf.setBaseDir(absolute(QStringLiteral("sub"))));
    EXPECT_EQ(m_conf.baseDir().absolutePath(), absolute(QStringLiteral("sub")));
    ASSERT_TRUE(m_conf.loadConf(QStringLiteral("main.cfg")));
}

TEST_F(ConfTest, BaseObjectBehaviourIsKept)
{
    EXPECT_TRUE(m_conf.parseXMLSubTree(QDomNode()));
    EXPECT_TRUE(m_conf.translatedName().isEmpty());
}

} // namespace
