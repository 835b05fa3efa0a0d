#include "packettesting.h"

#include <QDomDocument>

#include <limits>

namespace {

struct Place {
    const char *path;
    qint64 offset;
    qint64 bit;
    qint64 size;
};

void expectPlaces(QDataPacket &p, std::initializer_list<Place> places)
{
    for (const Place &e : places) {
        const QDataPacketNode n = p.nodeByPath(QString::fromLatin1(e.path));
        ASSERT_FALSE(n.isNull()) << e.path;
        std::unique_ptr<DPDataTypeStruct> t(n.dataType());
        EXPECT_EQ(t->offset, e.offset) << e.path;
        EXPECT_EQ(t->bitOffset, e.bit) << e.path;
        EXPECT_EQ(t->size, e.size) << e.path;
    }
}

TEST(Template, PlacesNodesByRunningOffsetsBitsAndExplicitOffsets)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet>"
                          "<section name='bits'>"
                          "  <data name='b#0' datatype='bit' count='8' joker='#'/>"
                          "  <data name='afterbits' datatype='byte'/>"
                          "  <data name='t#0' datatype='bit' count='3' joker='#'/>"
                          "  <data name='w' datatype='WORD'/>"
                          "  <data name='nine' datatype='bit' bitoffset='9'/>"
                          "  <data name='next' datatype='bit'/>"
                          "</section>"
                          "<section name='dw'><data name='d' datatype='dword'/><data name='w' datatype='word'/></section>"
                          "<section name='at' offset='30'>"
                          "  <data name='both' datatype='byte' offset='10' localoffset='2'/>"
                          "  <data name='local' datatype='byte' localoffset='2'/>"
                          "  <data name='text' datatype='asciiz' size='5'/>"
                          "</section>"
                          "<data name='fv' datatype='floatvalid' metatype='floatvalid' size='8'/>"
                          "</packet>"));
    expectPlaces(p, {{"section[@id='bits']/data[@id='b0']", 0, 0, 1},
                     {"section[@id='bits']/data[@id='b7']", 0, 7, 1},
                     {"section[@id='bits']/data[@id='afterbits']", 1, 0, 1},
                     {"section[@id='bits']/data[@id='t2']", 2, 2, 1},
                     {"section[@id='bits']/data[@id='w']", 3, 0, 2},
                     // A bit number beyond 7 moves on to the byte it falls in.
                     {"section[@id='bits']/data[@id='nine']", 6, 1, 1},
                     {"section[@id='bits']/data[@id='next']", 6, 2, 1},
                     {"section[@id='bits']", 0, 0, 7},
                     {"section[@id='dw']", 7, 0, 6},
                     {"section[@id='at']/data[@id='both']", 10, 0, 1},
                     {"section[@id='at']/data[@id='local']", 32, 0, 1},
                     {"section[@id='at']/data[@id='text']", 33, 0, 5},
                     {"section[@id='at']", 30, 0, 8},
                     {"data[@id='fv']", 38, 0, 8}});
    const QDataPacketNode fv = p.nodeByPath(QStringLiteral("data[@id='fv']"));
    EXPECT_EQ(fv.dataTypeName(), QStringLiteral("-"));
    EXPECT_EQ(fv.metaTypeName(), QStringLiteral("FLOATVALID"));
    EXPECT_EQ(p.buffer().size(), 46);

    // A negative bit number is none: the bit does not land in the byte before.
    ASSERT_TRUE(parsed(p, "<packet><data name='v' datatype='byte'/><data name='f' datatype='bit' bitoffset='-1'/></packet>"));
    expectPlaces(p, {{"data[@id='f']", 1, 0, 1}});
}

TEST(Template, StructureSpansItsFurthestChild)
{
    // The DWORD at 100 stays reachable although the running offset ends at 1.
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet><section name='s'>"
                          "<data name='far' datatype='dword' offset='100'/><data name='near' datatype='byte' offset='0'/>"
                          "</section><data name='after' datatype='byte'/>"
                          "<section name='small' size='1'><data name='d' datatype='dword'/></section></packet>"));
    expectPlaces(p, {{"section[@id='s']", 0, 0, 104}, {"data", 104, 0, 1}, {"section[@id='small']", 105, 0, 4}});
    EXPECT_EQ(p.buffer().size(), 109);
    EXPECT_EQ(p.setULongByPath(7, QStringLiteral("section/data[@id='far']")), 0);
    EXPECT_EQ(p.getULongByPath(QStringLiteral("section/data[@id='far']")), 7u);

    // An explicit size that covers the children stays as given.
    ASSERT_TRUE(parsed(p, "<packet size='16'><data name='d' datatype='dword'/></packet>"));
    EXPECT_EQ(p.buffer().size(), 16);
}

TEST(Template, JokersAndCountsNameTheCopies)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet name='root$0'>"
                          "<data name='in#0' datatype='dword' count='3' joker='#'>"
                          "<translation lang='de'>Ein#1</translation></data>"
                          "<data name='out#1' datatype='dword' count='0x2' joker='#' kks='K#0'/>"
                          "<data name='none' datatype='dword' count='0'/>"
                          "<data name='plain#0' datatype='byte'/>"
                          "</packet>",
                       QLatin1Char('$')));
    QStringList names;
    for (const QDataPacketNode &n : p.childNodes())
        names << QStringLiteral("%1@%2").arg(n.idName()).arg(n.offset());
    EXPECT_EQ(names, QStringList({"in0@0", "in1@4", "in2@8", "out1@12", "out2@16", "plain#0@20"}));
    EXPECT_EQ(p.name(), QStringLiteral("root0"));
    EXPECT_EQ(p.nodeByPath(QStringLiteral("data[3]")).nameTranslation().translate(QStringLiteral("de"), false),
              QStringLiteral("Ein3"));
    // Codes are not expanded: both copies share one.
    EXPECT_EQ(p.nodesByKKS(QStringLiteral("K#0")).size(), 2);
}

TEST(Template, CodeIndexesAreRebuiltByEveryParse)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet><data name='a' datatype='byte' kks='K1' iid='I1'/>"
                          "<data name='b' datatype='byte' kks='K1' rtm='R1'/><data name='c' datatype='byte'/></packet>"));
    EXPECT_EQ(p.nodeByKKS(QStringLiteral("K1")).name(), QStringLiteral("b"));
    const QList<QDataPacketNode> k1 = p.nodesByKKS(QStringLiteral("K1"));
    ASSERT_EQ(k1.size(), 2);
    EXPECT_EQ(k1.at(1).name(), QStringLiteral("a"));
    EXPECT_EQ(p.nodeByRTM(QStringLiteral("R1")).name(), QStringLiteral("b"));
    EXPECT_EQ(p.nodeByIID(QStringLiteral("I1")).name(), QStringLiteral("a"));
    const QList<QDataPacketNode> coded = p.nodesWithCodes();
    ASSERT_EQ(coded.size(), 2);
    EXPECT_EQ(coded.at(0).name(), QStringLiteral("a"));
    EXPECT_TRUE(p.nodeByIID(QStringLiteral("none")).isNull());

    ASSERT_TRUE(parsed(p, "<packet><data name='x' datatype='byte' rtm='R1'/></packet>"));
    EXPECT_TRUE(p.nodesByKKS(QStringLiteral("K1")).isEmpty());
    EXPECT_EQ(p.nodesWithCodes().size(), 1);
}

const char *const kPathTemplate = "<packet>"
                                  "<section name='s' id='dup'><data name='v' datatype='byte'/></section>"
                                  "<section name='t' id='dup'><data name='v' datatype='word'/></section>"
                                  "<section name='u'><data name='x' datatype='byte'/><data name='y' datatype='bit'/>"
                                  "<data name='q\"uote' datatype='byte'/><data name='b&apos;o&quot;th' datatype='byte'/></section>"
                                  "</packet>";

TEST(TemplatePaths, ShortAndFullPathsResolveBackToTheirNodes)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, kPathTemplate));
    const QDataPacketNodeInternal *root = p.templateInternal();
    const QList<QDataPacketNodeInternal *> sections = root->childNodes();
    EXPECT_EQ(root->shortPath(), QStringLiteral("packet"));
    EXPECT_EQ(sections.at(0)->shortPath(), QStringLiteral("section[@id=\"dup\"]"));
    EXPECT_EQ(sections.at(1)->shortPath(), QStringLiteral("section[@id=\"dup\"][2]"));
    EXPECT_EQ(sections.at(1)->childNodes().at(0)->fullPath(),
              QStringLiteral("/packet/section[@id=\"dup\"][2]/data[@id=\"v\"]"));
    QList<const QDataPacketNodeInternal *> all{root};
    for (int i = 0; i < all.size(); ++i) {
        for (const QDataPacketNodeInternal *c : all.at(i)->childNodes())
            all.append(c);
        EXPECT_EQ(sections.at(2)->getNodeInternalByPath(all.at(i)->fullPath()), all.at(i))
            << all.at(i)->fullPath().toStdString();
    }
}

TEST(TemplatePaths, PredicatesStepsAndMalformedPaths)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, kPathTemplate));
    const auto name = [&p](const char *path) {
        const QDataPacketNode n = p.nodeByPath(QString::fromUtf8(path));
        return n.isNull() ? QStringLiteral("<none>") : n.name();
    };
    EXPECT_EQ(name("section[2]/data"), QStringLiteral("v"));
    EXPECT_EQ(p.nodeByPath(QStringLiteral("section[2]/data")).dataTypeName(), QStringLiteral("WORD"));
    EXPECT_EQ(name("section[@id='dup'][2]"), QStringLiteral("t"));
    EXPECT_EQ(name("section[ @name = \"u\" ]/data[3]"), QStringLiteral("q\"uote"));
    EXPECT_EQ(name("section[@id='u']/data[@id='y']/../data[1]"), QStringLiteral("x"));
    EXPECT_EQ(name("/packet/section[3]/./data[2]"), QStringLiteral("y"));
    EXPECT_EQ(name("//section[3]"), QStringLiteral("u"));
    EXPECT_EQ(name("/packet//data[@id='x']"), QStringLiteral("x")); // an empty step is every child
    EXPECT_EQ(name("section/data[@id='x']"), QStringLiteral("x")); // later candidates are tried
    EXPECT_EQ(name("[3]/"), QStringLiteral("u"));
    EXPECT_EQ(name(""), QString());
    EXPECT_EQ(p.nodeByPath(QStringLiteral("section[3]")).nodeByPath(QStringLiteral("..")).tagName(),
              QStringLiteral("packet"));
    for (const char *bad : {"..", "../section", "/other/section", "section[", "section[@id='dup]", "section[0]",
                            "section[-1]", "section[4]", "section[99999999999999999999]", "section[@kks='x']",
                            "section[@id='dup']x", "section[1]]", "missing", "section[@id='u']/data[@id='x']/data"})
        EXPECT_EQ(name(bad), QStringLiteral("<none>")) << bad;
    // Paths that revisit the same nodes over and over, or nest absurdly,
    // end with no node instead of running for ever.
    EXPECT_EQ(name(QStringLiteral("section/../").repeated(40).append(QStringLiteral("nothing")).toUtf8()),
              QStringLiteral("<none>"));
    EXPECT_EQ(name(QStringLiteral("section/..").repeated(2000).toUtf8()), QStringLiteral("<none>"));
}

const char *const kRoundTripTemplate =
    "<packet name='rt' endian='BigEndian' kks='P'>"
    "<translation lang='de'>Paket</translation><translation attribute='other' lang='fr'>x</translation>"
    "<section name='bits' id='B'><data name='b#0' joker='#' count='3' datatype='bit'/>"
    "<data name='hi' datatype='bit' bitoffset='6'/><data name='w' datatype='word' endian='LittleEndian'/></section>"
    "<section name='far'><data name='d' datatype='dword' localoffset='40' rtm='R' iid='I'/>"
    "<data name='n' datatype='byte' offset='0' metatype='tavrikbyte'/></section>"
    "<data name='txt' datatype='asciiz' size='7'/><data name='raw' size='3'/><section name='empty'/>"
    "<section name='typed' datatype='dword'><data name='lo' datatype='bit'/></section>"
    "<data name='f' datatype='double' endian='IgnoreEndian'/><data name='neg' datatype='sword' localoffset='-6'/>"
    "<ignored><data name='hidden' datatype='byte'/></ignored>"
    "</packet>";

TEST(TemplateXml, BothStylesAndTheStreamFormKeepTheLayout)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, kRoundTripTemplate));
    const QStringList original = describeTree(p);
    EXPECT_EQ(original.filter(QStringLiteral("hidden")).size(), 0);
    for (auto style : {QDataPacketNodeInternal::DOMCompact, QDataPacketNodeInternal::DOMFull}) {
        const QByteArray xml = p.getPacketStructToFile(style).toByteArray(1);
        EXPECT_TRUE(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE packet SYSTEM")) << xml.data();
        QDataPacket back;
        ASSERT_TRUE(parsed(back, xml));
        EXPECT_EQ(describeTree(back), original) << xml.data();
    }
    const QByteArray compact = p.getPacketStructToFile(QDataPacketNodeInternal::DOMCompact).toByteArray(1);
    EXPECT_FALSE(compact.contains("bitoffset=\"1\"")) << "a bit the running offsets give is left out";
    EXPECT_TRUE(compact.contains("bitoffset=\"6\""));
    EXPECT_FALSE(compact.contains("id=\"w\""));
}

TEST(TemplateXml, MissingRootAndMalformedXmlFail)
{
    QDataPacket p;
    QString message;
    int line = 0;
    int column = 0;
    EXPECT_FALSE(p.parseXML(QByteArray("<packet>\n<data name='a'></packet>"), &message, &line, &column));
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(line, 2);
    EXPECT_GT(column, 0);
    EXPECT_FALSE(p.parseXML(QByteArray("<config/>")));
    EXPECT_TRUE(p.errorText().contains(QStringLiteral("<packet>")));
    EXPECT_FALSE(p.isNull()) << "a failed parse leaves an empty template";
    EXPECT_EQ(p.buffer().size(), 0);
}

struct LimitRow {
    const char *what;
    QByteArray xml;
    const char *reason;
};

void PrintTo(const LimitRow &r, std::ostream *os)
{
    *os << r.what;
}

class TemplateLimits : public ::testing::TestWithParam<LimitRow> {};

QByteArray nested(int depth)
{
    return "<packet>" + QByteArray("<section>").repeated(depth) + "<data datatype='byte'/>"
        + QByteArray("</section>").repeated(depth) + "</packet>";
}

TEST_P(TemplateLimits, RefuseTheTemplateWithAReason)
{
    QDataPacket p;
    QString message;
    int line = 0;
    EXPECT_FALSE(p.parseXML(GetParam().xml, &message, &line));
    EXPECT_TRUE(message.contains(QLatin1String(GetParam().reason))) << message.toStdString();
    EXPECT_GT(line, 0);
    EXPECT_EQ(p.buffer().size(), 0);
    EXPECT_FALSE(p.isHasChildNodes()) << "nothing of the refused tree stays";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TemplateLimits,
    ::testing::Values(
        // recursion per level would overflow the stack
        LimitRow{"depth", nested(64), "nested deeper than 64"},
        // 10^9 nodes from three nested counts, refused before any is made
        LimitRow{"nested counts", "<packet><section count='1000'><section count='1000'><data count='1000' "
                                  "datatype='bit'/></section></section></packet>",
                 "more than 1000000 nodes"},
        // a buffer of gigabytes from one size
        LimitRow{"size", "<packet><data datatype='asciiz' size='67108865'/></packet>", "beyond the 67108864"},
        // count x size running sum, each copy small
        LimitRow{"count times size", "<packet><data count='80' size='1048576'/></packet>", "beyond the 67108864"},
        // explicit offsets keep the running sum small but a node far away
        LimitRow{"offset", "<packet><data datatype='dword' offset='2147483000'/></packet>", "beyond the 67108864"},
        LimitRow{"bit offset", "<packet><data datatype='bit' bitoffset='2147483647'/></packet>",
                 "beyond the 67108864"},
        // int overflow of the attributes themselves
        LimitRow{"offset overflow", "<packet><data datatype='byte' localoffset='2147483648'/></packet>",
                 "localoffset=\"2147483648\" of <data> does not fit an int"},
        LimitRow{"count overflow", "<packet><data datatype='byte' count='0x100000000'/></packet>",
                 "count=\"0x100000000\""},
        // few nodes, but each copy makes its own long name (10^8 characters)
        LimitRow{"count times name",
                 "<packet><data datatype='byte' joker='#' count='100000' name='#" + QByteArray(1000, 'x')
                     + "'/></packet>",
                 "more than 64000000 steps"},
        // each copy looks at every child element again, nodes or not
        LimitRow{"count times children",
                 "<packet><data datatype='byte' count='100000'>" + QByteArray("<x/>").repeated(1000)
                     + "</data></packet>",
                 "more than 64000000 steps"}));

TEST(TemplateLimits, AcceptTheLargestAllowedTree)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, nested(63)));
    ASSERT_TRUE(parsed(p, "<packet><data datatype='asciiz' size='67108864'/></packet>"));
    EXPECT_EQ(p.buffer().size(), 67108864);
    // 4 * 10^7 steps: wide names on many nodes are still within them.
    ASSERT_TRUE(parsed(p, "<packet><data datatype='bit' joker='#' count='200000' name='#0" + QByteArray(198, 'x')
                              + "'/></packet>"));
    EXPECT_EQ(p.templateInternal()->nodeCount(), 200001);
}

} // namespace
