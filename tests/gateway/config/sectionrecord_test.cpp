#include "config/sectionrecord.h"

#include "core/basetieunit.h"
#include "core/paramswitch.h"
#include "gateway/links/tiefixture.h"
#include "links/de/deprotocolclienttie.h"
#include "links/de/qdeprotocol.h"

#include <QDomDocument>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>

#include <mqueue.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray digestOf(const QByteArray &xml)
{
    QDomDocument doc;
    doc.setContent(xml);
    return sectionElementDigest(doc.documentElement());
}

// A configuration loaded as at a start with its records, and configurations
// built beside it from changed texts as a reload does.
struct BesideFixture : TieFixture {
    SectionRecords records;

    struct Beside {
        GateConfig staged;
        SectionRecords fresh;
        FerroxXmlConfig loader{staged, nullptr, ferroxSectionTable()};
        bool ok = false;
        // What is not applied stays with the running configuration.
        ~Beside()
        {
            for (BaseTie *tie : loader.keptTies())
                staged.ties().removeAll(tie);
        }
    };

    BesideFixture() { loader.setRecords(&records); }

    std::unique_ptr<Beside> beside(const QByteArray &body)
    {
        std::unique_ptr<Beside> b(new Beside);
        b->loader.setRecords(&b->fresh);
        b->loader.buildBeside(&records);
        b->ok = b->loader.loadConf(write("ferrox.cfg", "<config><misc><locale lang='en'/><times/></misc>" + body
                                                           + "</config>"));
        return b;
    }

    // Puts `b` in place of the running configuration, as a reload does.
    void apply(Beside &b)
    {
        b.loader.repointKeptTies();
        config.replaceWith(b.staged, &makeConverter);
        b.loader.startNewTies();
        records = b.fresh;
    }

    QByteArray textIn(const char *attributes = "") const
    {
        return QByteArray("<textfilein id='in' ") + attributes
            + "><csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/><infile filename='"
            + dir.filePath("in.txt").toUtf8() + "'/></textfilein>";
    }
    QByteArray textOut(const char *id, const char *list, const char *attributes = "") const
    {
        return QByteArray("<textfileout id='") + id + "' " + attributes + "><csvlist file='" + list
            + "' kks='0' index='1' type='2' direction='out'/><outfile filename='" + dir.filePath(id).toUtf8()
            + ".txt'/></textfileout>";
    }
};

} // namespace

TEST(SectionDigest, CountsWhatTheLoaderReadsAndNothingElse)
{
    const QByteArray base = digestOf("<s a='1' b='2'><c x='y'>text  here</c><d/></s>");
    // Attribute order, white space between and around, comments: the same.
    EXPECT_EQ(digestOf("<s  b='2'\n a='1'>\n  <!-- note -->\n  <c x='y'> text\n here </c>\n  <d></d>\n</s>"), base);
    // A value, a name, the order of children, white space inside a value: not.
    EXPECT_NE(digestOf("<s a='1' b='3'><c x='y'>text  here</c><d/></s>"), base);
    EXPECT_NE(digestOf("<s a='1' bb='2'><c x='y'>text  here</c><d/></s>"), base);
    EXPECT_NE(digestOf("<s a='1' b='2'><d/><c x='y'>text  here</c></s>"), base);
    EXPECT_NE(digestOf("<s a='1' b='2'><c x='y '>text  here</c><d/></s>"), base);
    // A piece cannot pass for two: lengths are part of the digest.
    EXPECT_NE(digestOf("<s a='1' b='2=x'/>"), digestOf("<s a='1' b='2' x=''/>"));

    QTemporaryDir dir;
    const QString path = dir.filePath("f");
    const QByteArray missing = sectionFileDigest(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_NE(sectionFileDigest(path), missing);
    const QString pipe = dir.filePath("pipe");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_EQ(sectionFileDigest(pipe), missing); // and no wait for a writer
}

TEST_F(BesideFixture, AnUnchangedSectionKeepsItsTieWhileAChangedOneIsBuiltAnew)
{
    write("in.csv", "kks,index,type\nT1,1,FLOATVALID\n");
    write("a.csv", "kks,index,type\nT1,1,FLOATVALID\n");
    write("b.csv", "kks,index,type\nT1,1,FLOATVALID\n");
    ASSERT_TRUE(load(textIn() + textOut("a", "a.csv") + textOut("b", "b.csv") + textOut("c", "a.csv")));
    BaseTie *in = config.ties().at(0);
    BaseTie *a = config.ties().at(1);

    // Written differently but the same; a changed list file; a changed attribute.
    write("b.csv", "kks,index,type\nT1,1,FLOATVALID\nT9,2,FLOATVALID\n");
    const auto b = beside(textIn("  ").replace("<csvlist ", "<csvlist\n   ") + textOut("a", "a.csv")
                          + textOut("b", "b.csv") + textOut("c", "a.csv", "timeout='4000'"));
    ASSERT_TRUE(b->ok);
    EXPECT_EQ(b->loader.keptTies(), QList<BaseTie *>({in, a}));
    ASSERT_EQ(b->staged.ties().size(), 4);
    EXPECT_EQ(b->staged.ties().at(0), in);
    EXPECT_NE(b->staged.ties().at(2), config.ties().at(2));
    EXPECT_NE(b->staged.ties().at(3), config.ties().at(3));
    // The kept tie's providers are in the new index, its record comes along.
    EXPECT_EQ(b->staged.paramsHash().find("T1"), config.paramsHash().find("T1"));
    EXPECT_EQ(b->fresh.value(in).position, 2);
    EXPECT_EQ(b->fresh.value(in).files.size(), 1);
}

TEST_F(BesideFixture, AKeptTieFollowsItsSwitchIntoARebuiltSectionAndFailsWithoutIt)
{
    write("in.csv", "kks,index,type\nSW,1,FLOATVALID\n");
    write("a.csv", "kks,index,type\nSW,1,FLOATVALID\n");
    const QByteArray out = textOut("a", "a.csv", "switchparam='SW' switchcondition='plus'");
    ASSERT_TRUE(load(textIn() + out));
    BaseTie *kept = config.ties().at(1);

    write("in.csv", "kks,index,type\nSW,1,FLOATVALID\nT2,2,FLOATVALID\n");
    auto b = beside(textIn() + out);
    ASSERT_TRUE(b->ok);
    ASSERT_EQ(b->loader.keptTies(), QList<BaseTie *>({kept}));
    apply(*b);
    b.reset();
    EXPECT_EQ(kept->paramsSwitch().switchParam(), config.paramsHash().find("SW"));
    EXPECT_EQ(kept->paramsSwitch().switchParam()->myUnit()->myTie(), config.ties().at(0));

    // Without its switch parameter the section is built anew, and fails as at a start.
    write("in.csv", "kks,index,type\nT2,2,FLOATVALID\n");
    messages.clear();
    b = beside(textIn() + out);
    EXPECT_FALSE(b->ok);
    EXPECT_TRUE(b->loader.keptTies().isEmpty());
    expectReported("Error loading config: Cannot find param for switchparam SW");
    b.reset();
    EXPECT_EQ(config.ties().at(1), kept);
    EXPECT_EQ(kept->paramsSwitch().switchParam(), config.paramsHash().find("SW"));
}

TEST_F(BesideFixture, TiesBuiltBesideConnectAndOpenQueuesOnlyWhenApplied)
{
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    const QByteArray queue = "/ferrox-beside-" + QByteArray::number(::getpid());
    struct Unlink {
        QByteArray name;
        ~Unlink() { ::mq_unlink(name.constData()); }
    } unlink{queue};
    write("in.csv", "kks,index,type\nT1,1,FLOATVALID\n");
    write("area.def", "OUT\n8\nT1,type_rval,0,1,1,1\n");
    const auto sections = [&](const char *timeout) {
        return "<deprotocolclient id='de' timeout='" + QByteArray(timeout)
            + "'><csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/><connection host='127.0.0.1' "
              "port='"
            + QByteArray::number(peer.serverPort()) + "'/></deprotocolclient><mqueue timeout='" + timeout
            + "'><defarea file='area.def' direction='out'/><connection filename='" + queue
            + "' direction='out'/></mqueue>";
    };
    ASSERT_TRUE(load(sections("3000")));
    // At a start, at once.
    EXPECT_EQ(qobject_cast<DEProtocolClientTie *>(config.ties().at(0))->protocol()->sockets().size(), 1);
    ::mq_unlink(queue.constData());

    auto b = beside(sections("4000"));
    ASSERT_TRUE(b->ok);
    ASSERT_TRUE(b->loader.keptTies().isEmpty());
    auto *de = qobject_cast<DEProtocolClientTie *>(b->staged.ties().at(0));
    ASSERT_NE(de, nullptr);
    EXPECT_TRUE(de->protocol()->sockets().isEmpty());
    EXPECT_EQ(::mq_open(queue.constData(), O_RDONLY), mqd_t(-1));
    apply(*b);
    EXPECT_EQ(de->protocol()->sockets().size(), 1);
    const mqd_t opened = ::mq_open(queue.constData(), O_RDONLY);
    EXPECT_NE(opened, mqd_t(-1));
    ::mq_close(opened);
}

TEST_F(BesideFixture, ALuaTieIsBuiltAnewWhenAModuleItRequiredChanges)
{
    write("in.csv", "kks,index,type\nX,1,FLOATVALID\n");
    write("out.csv", "kks,index,type\nY,1,FLOATVALID\n");
    write("calc.lua", "local m = require('helper')\nfunction calculate() Y = m.k end\n");
    write("helper.lua", "return { k = 1 }\n");
    const QByteArray section = "<luacalc id='calc'><params file='in.csv' kks='0' index='1' type='2'/>"
                               "<results file='out.csv' kks='0' index='1' type='2'/><calcfile file='calc.lua'/>"
                               "</luacalc>";
    ASSERT_TRUE(load(section));
    BaseTie *calc = config.ties().at(0);
    EXPECT_EQ(beside(section)->loader.keptTies(), QList<BaseTie *>({calc}));
    write("helper.lua", "return { k = 2 }\n");
    EXPECT_TRUE(beside(section)->loader.keptTies().isEmpty());
}

TEST_F(BesideFixture, AnMqttTieIsBuiltAnewWhenItsPasswordFileChanges)
{
    write("out.csv", "kks,index,type\nT1,1,FLOATVALID\n");
    write("secret", "one\n");
    const QByteArray section = "<mqtt id='m' host='127.0.0.1' topicprefix='plant' username='gate' passwordfile='secret'>"
                               "<csvlist file='out.csv' kks='0' index='1' type='2' direction='out'/></mqtt>";
    ASSERT_TRUE(load(section));
    BaseTie *mqtt = config.ties().at(0);
    EXPECT_EQ(beside(section)->loader.keptTies(), QList<BaseTie *>({mqtt}));
    write("secret", "two\n");
    EXPECT_TRUE(beside(section)->loader.keptTies().isEmpty());
}
