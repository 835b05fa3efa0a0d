#include "config/gatexmlconfigloadertemplate.h"

#include "config/csvtieunit.h"
#include "config/deftieunit.h"
#include "conversion/singleproviderconverter.h"
#include "core/baseconverter.h"
#include "core/basetieparam.h"
#include "core/paramswitch.h"
#include "gateway/config/loaderfixture.h"
#include "support/memoryparam.h"

#include <dpdatatype.h>

#include <QDomDocument>
#include <QTextCodec>

#include <sys/stat.h>

namespace {

QDomElement element(const QString &xml)
{
    static QDomDocument doc; // keeps the nodes alive for the test
    doc.setContent(xml);
    return doc.documentElement();
}

template<typename Row>
std::string rowName(const ::testing::TestParamInfo<Row> &info)
{
    return info.param.name;
}

struct KeywordRow {
    const char *name;
    const char *xml;
    int expected;
};

class Direction : public ::testing::TestWithParam<KeywordRow> {};
TEST_P(Direction, Keyword)
{
    MessageCapture messages;
    EXPECT_EQ(GateXmlConfigLoaderTemplate::parseDirection(element(GetParam().xml), "direction"), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Vocabulary, Direction,
                         ::testing::Values(KeywordRow{"In", "<a direction='in'/>", 1},
                                           KeywordRow{"InputCapitals", "<a direction='INPUT'/>", 1},
                                           KeywordRow{"Output", "<a direction='output'/>", 2},
                                           KeywordRow{"BothMixedCase", "<a direction='Both'/>", 3},
                                           KeywordRow{"InOut", "<a direction='inout'/>", 3},
                                           KeywordRow{"UpIsDisabled", "<a direction='up'/>", 0},
                                           KeywordRow{"Absent", "<a/>", 0}),
                         rowName<KeywordRow>);

class ElementSize : public ::testing::TestWithParam<KeywordRow> {};
TEST_P(ElementSize, Keyword)
{
    EXPECT_EQ(GateXmlConfigLoaderTemplate::parseElementSize(element(GetParam().xml), "elementsize"), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Vocabulary, ElementSize,
                         ::testing::Values(KeywordRow{"Absent", "<a/>", 4}, KeywordRow{"Empty", "<a elementsize=''/>", 4},
                                           KeywordRow{"Mixed", "<a elementsize='MIX'/>", 0},
                                           KeywordRow{"Char", "<a elementsize='char'/>", 1},
                                           KeywordRow{"Short", "<a elementsize='short'/>", 2},
                                           KeywordRow{"Float", "<a elementsize='float'/>", 4},
                                           KeywordRow{"Int64", "<a elementsize='int64'/>", 8},
                                           KeywordRow{"Unknown", "<a elementsize='3'/>", 0}),
                         rowName<KeywordRow>);

class SwitchType : public ::testing::TestWithParam<KeywordRow> {};
TEST_P(SwitchType, Keyword)
{
    MessageCapture messages;
    EXPECT_EQ(GateXmlConfigLoaderTemplate::parseSwitchType(element(GetParam().xml), "switchtype", 1), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Vocabulary, SwitchType,
                         ::testing::Values(KeywordRow{"EmptyGivesDefault", "<a switchtype=''/>", 1},
                                           KeywordRow{"Never", "<a switchtype='never'/>", 0},
                                           KeywordRow{"OnYes", "<a switchtype='onyes'/>", 1},
                                           KeywordRow{"ByNo", "<a switchtype='byno'/>", 2},
                                           KeywordRow{"AlwaysCapitals", "<a switchtype='ALWAYS'/>", 3},
                                           KeywordRow{"Maybe", "<a switchtype='maybe'/>", -1}),
                         rowName<KeywordRow>);

TEST(SwitchTypeWarning, NamesTheValueAndTheAttribute)
{
    MessageCapture messages;
    GateXmlConfigLoaderTemplate::parseSwitchType(element("<a switchtype='maybe'/>"), "switchtype", 1);
    EXPECT_TRUE(messages.warnings().contains("Unknown switch type \"maybe\" while parsing attribute switchtype"));
}

// A misspelt direction leaves the list unused: it must be told, not an absent one.
TEST(DirectionWarning, NamesAnUnknownValueAndItsTag)
{
    MessageCapture messages;
    GateXmlConfigLoaderTemplate::parseDirection(element("<csvlist direction='ouput'/>"), "direction");
    GateXmlConfigLoaderTemplate::parseDirection(element("<csvlist/>"), "direction");
    EXPECT_EQ(messages.warnings(), QStringList{QStringLiteral("Warning loading config file: direction \"ouput\" of "
                                                              "\"csvlist\" tag is not in, out or both: the tag is "
                                                              "neither read nor written")});
}

struct ConditionRow {
    const char *name;
    const char *value;
    quint64 expected;
};
class SwitchCondition : public ::testing::TestWithParam<ConditionRow> {};
TEST_P(SwitchCondition, Pieces)
{
    MessageCapture messages;
    const QString xml = QStringLiteral("<a switchcondition='%1'/>").arg(QString::fromLatin1(GetParam().value).toHtmlEscaped());
    EXPECT_EQ(GateXmlConfigLoaderTemplate::parseSwitchCondition(element(xml), "switchcondition", 0), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Vocabulary, SwitchCondition,
                         ::testing::Values(ConditionRow{"AllButZero", "all,!zero", 0x331},
                                           ConditionRow{"NegatedInvalidAlone", "!inv", 0},
                                           ConditionRow{"Empty", "", 0},
                                           ConditionRow{"ZeroAndNone", "zero, none", 0x40},
                                           ConditionRow{"GreaterOrEqual", ">=0", 0x140},
                                           ConditionRow{"LessOrEqualAndInvalid", " <=0 ,Invalid", 0x241},
                                           ConditionRow{"TildeNegation", ">=0,~0", 0x100},
                                           ConditionRow{"NegatedAll", "zero,-all", 0},
                                           ConditionRow{"EmptyPiecesDropped", ",,plus,,", 0x100},
                                           ConditionRow{"Unknown", "plus,sometimes", ~quint64(0)}),
                         rowName<ConditionRow>);

TEST(SwitchConditionWarning, NamesThePieceTheAttributeAndTheValue)
{
    MessageCapture messages;
    GateXmlConfigLoaderTemplate::parseSwitchCondition(element("<a switchcondition='plus,sometimes'/>"), "switchcondition", 0);
    EXPECT_TRUE(messages.warnings().contains(
        "Unknown condition \"sometimes\" while parsing attribute switchcondition=\"plus,sometimes\""));
}

struct TimePointRow {
    const char *name;
    const char *keyword;
    int type;
};
class TimePointType : public ::testing::TestWithParam<TimePointRow> {};
TEST_P(TimePointType, Keyword)
{
    EXPECT_EQ(GateXmlConfigLoaderTemplate::timePointTypeFromString(GetParam().keyword), GetParam().type);
}
INSTANTIATE_TEST_SUITE_P(Vocabulary, TimePointType,
                         ::testing::Values(TimePointRow{"Empty", "", 0}, TimePointRow{"Raw", "raw", 1},
                                           TimePointRow{"UtcUnixTime", "utcunixtime", 2},
                                           TimePointRow{"LocalUnixTime", "localunixtime", 3},
                                           TimePointRow{"Ki", "ki", 4}, TimePointRow{"TimeValMixedCase", "TimeVal", 5},
                                           TimePointRow{"UtcUtmsec", "utcutmsec", 6},
                                           TimePointRow{"LocalUtmsec", "localutmsec", 7},
                                           TimePointRow{"UtcDoubleUt", "utcdoubleut", 8},
                                           TimePointRow{"LocalDoubleUt", "localdoubleut", 9},
                                           TimePointRow{"Timespec32", "timespec32", 10},
                                           TimePointRow{"Timespec64", "utctimespec64", 11},
                                           TimePointRow{"Unknown", "epoch", -1}),
                         [](const ::testing::TestParamInfo<TimePointRow> &info) { return std::string(info.param.name); });

TEST(TimePointUpdate, Keywords)
{
    EXPECT_EQ(GateXmlConfigLoaderTemplate::timePointUpdateFromString(""), 0);
    EXPECT_EQ(GateXmlConfigLoaderTemplate::timePointUpdateFromString("Send"), 1);
    EXPECT_EQ(GateXmlConfigLoaderTemplate::timePointUpdateFromString("conversion"), 2);
    EXPECT_EQ(GateXmlConfigLoaderTemplate::timePointUpdateFromString("source"), 3);
    EXPECT_EQ(GateXmlConfigLoaderTemplate::timePointUpdateFromString("always"), -1);
}

TEST(SplitEscapedList, ColonsBackslashesAndEmptyPieces)
{
    using L = GateXmlConfigLoaderTemplate;
    EXPECT_EQ(L::splitEscapedList("a.txt:b.txt"), QStringList({"a.txt", "b.txt"}));
    EXPECT_EQ(L::splitEscapedList("::a::"), QStringList({"a"}));
    EXPECT_EQ(L::splitEscapedList("c\\:/data:x"), QStringList({"c:/data", "x"}));
    EXPECT_EQ(L::splitEscapedList("a\\\\b"), QStringList({"a\\b"}));
    EXPECT_EQ(L::splitEscapedList("a\\:b\\:c"), QStringList({"a:b:c"}));
    EXPECT_EQ(L::splitEscapedList("end\\"), QStringList({"end\\"}));
    EXPECT_EQ(L::splitEscapedList(""), QStringList());
}

// A loader whose configuration is a list of `list` elements, each one unit of
// one tie, for testing the shared readers on their own.
class ListLoader : public GateXmlConfigLoaderTemplate
{
public:
    using GateXmlConfigLoaderTemplate::GateXmlConfigLoaderTemplate;

    bool parseConfRoot(const QDomNode &root) override
    {
        for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            auto *tie = new TestTie;
            parseTieID(e, tie);
            addTie(tie);
            if (e.tagName() == QLatin1String("defarea")) {
                auto *unit = new DefTieUnit(tie);
                tie->addUnit(unit);
                if (!parseDefarea(e, unit))
                    return false;
                mergeProviders(unit);
            } else {
                auto *unit = new CsvTieUnit(tie);
                tie->addUnit(unit);
                if (!parseCsvlist(e, unit) || !parseSwitch(e, tie))
                    return false;
                mergeProviders(unit);
            }
        }
        config().bind(&makeConverter);
        return true;
    }
};

struct SharedReaders : LoaderFixture {
    ListLoader loader{config};

    SharedReaders()
    {
        write("in.csv", "kks,index,type\nA1,1,FLOAT\nA2,2,SDWORD\nSTAMP,3,TIME_T32\n");
        write("out.csv", "kks,index,type\nA1,1,FLOATVALID\nA2,2,SDWORDVALID\nOWN,3,DWORD\n");
    }
    bool load(const QByteArray &body) { return loader.loadConf(write("ferrox.cfg", "<config>" + body + "</config>")); }
    BaseTieParam *param(int tie, int index) const { return config.ties().at(tie)->units().at(0)->params().at(index); }
};

} // namespace

TEST_F(SharedReaders, ListsBecomeProvidersAndConsumersBoundThroughTheIndex)
{
    ASSERT_TRUE(load("<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                     "<list file='out.csv' kks='0' index='1' type='2' direction='Out' elementsize='byte'/>"));
    ASSERT_EQ(config.ties().size(), 2);
    BaseTieUnit *out = config.ties().at(1)->units().at(0);
    EXPECT_EQ(out->direction(), 2u);
    EXPECT_EQ(out->elementSize(), 1);
    EXPECT_EQ(config.paramsHash().find("A1"), param(0, 0));
    EXPECT_EQ(config.paramsHash().find("OWN"), nullptr); // consumers are not providers
    ASSERT_NE(param(1, 0)->inputConverter(), nullptr);
    ASSERT_NE(param(1, 1)->inputConverter(), nullptr);
    EXPECT_EQ(param(1, 2)->inputConverter(), nullptr);
    EXPECT_EQ(param(0, 0)->outConverters().size(), 1);
    EXPECT_TRUE(messages.contains("  binding ferroxConfig.ties[1]->units()[0]"));
}

TEST_F(SharedReaders, MissingListFileIsReportedWithItsFullPath)
{
    EXPECT_FALSE(load("<list file='nothere.csv' kks='0' index='1' type='2'/>"));
    expectReported(QStringLiteral("Error loading config: Error loading csvlist file ") + dir.filePath("nothere.csv"));
    config.clear();
    EXPECT_FALSE(load("<list kks='0' index='1' type='2'/>"));
    expectReported("Error loading config: \"list\" has no \"file\" attribute");
}

TEST_F(SharedReaders, TimePointFindsTheUnitsOwnParameterFirst)
{
    ASSERT_TRUE(load("<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                     "<list file='out.csv' kks='0' index='1' type='2' direction='out' timepoint='OWN' "
                     "timepointtype='UnixTime' timepointupdate='send'/>"));
    const TimePoint &tp = config.ties().at(1)->units().at(0)->timePoint();
    EXPECT_EQ(tp.param(), param(1, 2));
    EXPECT_EQ(tp.type(), 2);
    EXPECT_EQ(tp.updateMode(), 1);
}

TEST_F(SharedReaders, TimePointMayNameAnEarlierProvider)
{
    ASSERT_TRUE(load("<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                     "<list file='out.csv' kks='0' index='1' type='2' direction='out' timepoint='STAMP'/>"));
    EXPECT_EQ(config.ties().at(1)->units().at(0)->timePoint().param(), param(0, 2));
}

// A stamp that can never be written or read loads, but is warned about:
// no encoding named, or a parameter too small for its encoding.
TEST_F(SharedReaders, TimePointThatCannotBeEncodedIsWarnedAbout)
{
    const QString list = "<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                         "<list file='out.csv' kks='0' index='1' type='2' direction='out' timepoint='OWN' %1/>";
    ASSERT_TRUE(load(list.arg("timepointtype='kiutc'").toUtf8()));
    expectReported("Warning loading config file: timepoint OWN (timepointtype \"kiutc\", 4 bytes) is never written "
                   "or read");
    config.clear();
    ASSERT_TRUE(load(list.arg("").toUtf8()));
    expectReported("Warning loading config file: timepoint OWN (timepointtype \"\", 4 bytes) is never written or "
                   "read");
    config.clear();
    messages.clear();
    ASSERT_TRUE(load(list.arg("timepointtype='UnixTime'").toUtf8()));
    EXPECT_FALSE(messages.texts().join('\n').contains("timepoint OWN"));
}

TEST_F(SharedReaders, TimePointErrors)
{
    EXPECT_FALSE(load("<list file='out.csv' kks='0' index='1' type='2' direction='out' timepoint='LATER'/>"));
    expectReported("Error loading config: Cannot find param for timepoint LATER");
    config.clear();
    log.clear();
    EXPECT_FALSE(load("<list file='out.csv' kks='0' index='1' type='2' direction='out' timepoint='OWN' "
                      "timepointtype='epoch'/>"));
    expectReported("Error loading config: Unknown timepoint type epoch");
    config.clear();
    EXPECT_FALSE(load("<list file='out.csv' kks='0' index='1' type='2' direction='out' timepoint='OWN' "
                      "timepointupdate='often'/>"));
    expectReported("Error loading config: Unknown timepoint update type often");
}

TEST_F(SharedReaders, SwitchNeedsAProviderDefinedEarlier)
{
    EXPECT_FALSE(load("<list file='out.csv' kks='0' index='1' type='2' direction='out' switchparam='A1'/>"
                      "<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"));
    expectReported("Error loading config: Cannot find param for switchparam A1");
}

TEST_F(SharedReaders, SwitchWithoutConditionNeverHoldsSoTheDefaultTypeIsClosed)
{
    ASSERT_TRUE(load("<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                     "<list file='out.csv' kks='0' index='1' type='2' direction='out' switchparam='A2'/>"));
    const ParamSwitch &sw = config.ties().at(1)->paramsSwitch();
    EXPECT_EQ(sw.switchParam(), param(0, 1));
    EXPECT_EQ(sw.switchCondition(), 0u);
    EXPECT_EQ(sw.switchType(), 1);
    EXPECT_FALSE(sw.isOpen());
    EXPECT_TRUE(config.ties().at(0)->paramsSwitch().isOpen()); // no switchparam: defaults
    expectReported("Warning loading config file: switchparam A2 of section \"list\" is given without "
                   "switchcondition, so its output stays closed");
    // A type that opens whatever the condition says needs none.
    log.clear();
    ASSERT_TRUE(load("<list file='out.csv' kks='0' index='1' type='2' direction='out' switchparam='A2' "
                     "switchtype='always'/>"));
    EXPECT_TRUE(log.lines().isEmpty()) << qPrintable(log.lines().join('\n'));
}

TEST_F(SharedReaders, ListColumnsOutsideTheirRangeFailTheList)
{
    for (const char *column : {"kks='4294967296'", "index='-2'", "rtm='x'"}) {
        config.clear();
        messages.clear();
        EXPECT_FALSE(load(QByteArray("<list file='in.csv' type='2' index='1' kks='0' ") + column + "/>")) << column;
        EXPECT_TRUE(messages.containsPart("Error loading config: attribute \"" + QString::fromLatin1(column).section('=', 0, 0)
                                          + "\" of \"list\" is "))
            << qPrintable(messages.texts().join('\n'));
    }
    EXPECT_TRUE(messages.containsPart("not a whole number from -1 to 2147483647"));
}

TEST_F(SharedReaders, TieIdsGivenTwiceAreReported)
{
    ASSERT_TRUE(load("<list id='src' file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                     "<list id='other' file='out.csv' kks='0' index='1' type='2' direction='out'/>"
                     "<list id='src' file='out.csv' kks='0' index='1' type='2' direction='out'/>"));
    expectReported("Warning loading config file: tie id \"src\" is used by more than one section");
    EXPECT_EQ(log.lines().size(), 1);
}

TEST_F(SharedReaders, WrongSwitchKeywordsFailWithTheAttributeText)
{
    EXPECT_FALSE(load("<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                      "<list file='out.csv' kks='0' index='1' type='2' direction='out' switchparam='A2' "
                      "switchcondition='plus,odd'/>"));
    expectReported("Error loading config: Wrong switchcondition plus,odd");
    config.clear();
    EXPECT_FALSE(load("<list file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                      "<list file='out.csv' kks='0' index='1' type='2' direction='out' switchparam='A2' "
                      "switchtype='maybe'/>"));
    expectReported("Error loading config: Wrong switchtype maybe");
}

TEST_F(SharedReaders, DefinitionAreaIsReadAsKoi8r)
{
    QTextCodec *koi8 = QTextCodec::codecForName("KOI8-R");
    write("area.def", koi8->fromUnicode(QStringLiteral("AREA\n0x10\nДавление, type_float, 4, 1, 1, 1\n")));
    ASSERT_TRUE(load("<defarea file='area.def' direction='in' elementsize='mixed'/>"));
    BaseTieUnit *unit = config.ties().at(0)->units().at(0);
    ASSERT_EQ(unit->params().size(), 1);
    EXPECT_EQ(unit->params().at(0)->KKS(), QStringLiteral("Давление"));
    EXPECT_EQ(unit->elementSize(), 0);
    EXPECT_EQ(config.paramsHash().find(QStringLiteral("Давление")), unit->params().at(0));
}

TEST_F(SharedReaders, BrokenDefinitionFileIsReportedWithItsFullPath)
{
    write("bad.def", "AREA\n16\nx, type_float, 0, 1, 1\n");
    EXPECT_FALSE(load("<defarea file='bad.def' direction='in'/>"));
    expectReported(QStringLiteral("Error loading config: Error loading defarea file ") + dir.filePath("bad.def"));
    // What is wrong, and where: the loader's own line names neither.
    expectReported("Error reading definition file " + dir.filePath("bad.def")
                   + ", line 3: 5 fields, a record has 6 (name, type, offset, three dimensions)");
}

// A FIFO, as anything but a regular file, is refused without waiting for a
// writer that may never come.
TEST_F(SharedReaders, ConfigurationListAndDefinitionFilesMustBeRegularFiles)
{
    const QString pipe = dir.filePath("pipe");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_FALSE(loader.loadConf(pipe));
    EXPECT_TRUE(messages.contains("Error loading config: cannot read " + pipe + " (not a regular file)"))
        << qPrintable(messages.texts().join('\n'));
    EXPECT_FALSE(load("<list file='pipe' kks='0' index='1' type='2'/>"));
    expectReported("Error opening file " + pipe + " (not a regular file)");
    EXPECT_FALSE(load("<defarea file='pipe' direction='in'/>"));
    expectReported("Error loading config: Error loading defarea file " + pipe);
}

// A number out of its range or not a number at all is an error that names the
// attribute; nothing wraps into range and nothing falls back to the default.
TEST_F(SharedReaders, IntegerAttributesOutsideTheirRangeAreErrors)
{
    quint32 u = 7;
    EXPECT_TRUE(GateXmlConfigLoaderTemplate::readUInt32Attr(element("<s/>"), "timeout", 3000, u));
    EXPECT_EQ(u, 3000u);
    EXPECT_TRUE(GateXmlConfigLoaderTemplate::readUInt32Attr(element("<s timeout='0x10'/>"), "timeout", 3000, u));
    EXPECT_EQ(u, 16u);
    for (const char *text : {"4294967296", "-1", "12x"}) {
        const QString xml = QStringLiteral("<csvlist kks='%1'/>").arg(QLatin1String(text));
        EXPECT_FALSE(GateXmlConfigLoaderTemplate::readUInt32Attr(element(xml), "kks", 0, u)) << text;
        expectReported(QStringLiteral("Error loading config: attribute \"kks\" of \"csvlist\" is \"%1\", not a whole "
                                      "number from 0 to 4294967295")
                           .arg(QLatin1String(text)));
    }
    EXPECT_EQ(u, 16u);
    qint64 s = 0;
    EXPECT_FALSE(GateXmlConfigLoaderTemplate::readSignedAttr(element("<s index='-3'/>"), "index", 0, -2, 5, s));
    EXPECT_TRUE(GateXmlConfigLoaderTemplate::readSignedAttr(element("<s index='-2'/>"), "index", 0, -2, 5, s));
    EXPECT_EQ(s, -2);
}
