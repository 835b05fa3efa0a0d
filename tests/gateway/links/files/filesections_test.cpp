#include "links/files/filesections.h"
#include "links/files/plottextfileouttie.h"
#include "links/files/textfileintie.h"
#include "links/files/textfileouttie.h"

#include "gateway/links/files/filesfixture.h"

#include <ostream>
#include <string>
#include <vector>

namespace {

struct SectionError {
    const char *name;
    const char *body; // the section; "IN" and "OUT" stand for a valid input and output list
    const char *warning;
    const char *logLine; // null: the same as the warning
};

const char kIn[] = "<csvlist file='in.csv' index='0' type='1' extid='2' kks='3' direction='in'/>";
const char kOut[] = "<csvlist file='out.csv' index='0' type='1' kks='2' direction='out'/>";

const char kInListsFirst[] =
    "Error loading config: one or more \"csvlist\" tag should be at start of section \"textfilein\"";
const char kInFileAfter[] = "Error loading config: a \"infile\" tag should be just after \"csvlist\" in section \"textfilein\"";
const char kOutListsFirst[] =
    "Error loading config: one or more \"csvlist\" tag should be at start of section \"textfileout\"";
const char kOutFileAfter[] =
    "Error loading config: a \"outfile\" tag should be just after \"csvlist\" in section \"textfileout\"";
const char kGmt[] = "Error loading config file: Error getting value \"zone\" attribute of \"outfile\" tag in section "
                    "\"textfileout\". Value is gmt due UTC or local are permitted";

const std::vector<SectionError> kErrors = {
    {"InWithoutChildren", "<textfilein/>", kInListsFirst, nullptr},
    {"InListAfterFile", "<textfilein>IN<infile filename='a.txt'/>IN</textfilein>", kInListsFirst, nullptr},
    {"InFileFirst", "<textfilein><infile filename='a.txt'/>IN</textfilein>", kInFileAfter, nullptr},
    {"InWithoutFile", "<textfilein>IN</textfilein>", kInFileAfter, nullptr},
    {"InTwoFiles", "<textfilein>IN<infile filename='a.txt'/><infile filename='b.txt'/></textfilein>", kInFileAfter,
     nullptr},
    {"InEmptyFileName", "<textfilein>IN<infile filename=''/></textfilein>",
     "Error loading config: empty \"filename\" attribute of \"infile\" tag in section \"textfilein\"", nullptr},
    {"InOnlyColons", "<textfilein>IN<infile filename='::'/></textfilein>",
     "Error loading config: empty \"filename\" attribute of \"infile\" tag in section \"textfilein\"", nullptr},
    {"InTimeoutBeyond32Bits", "<textfilein timeout='4294967296'>IN<infile filename='a.txt'/></textfilein>",
     "Error loading config: attribute \"timeout\" of \"textfilein\" is \"4294967296\", not a whole number from 0 "
     "to 4294967295",
     nullptr},
    {"InNegativeTimeout", "<textfilein timeout='-1'>IN<infile filename='a.txt'/></textfilein>",
     "Error loading config: attribute \"timeout\" of \"textfilein\" is \"-1\", not a whole number from 0 to "
     "4294967295",
     nullptr},
    {"InBadList", "<textfilein><csvlist file='absent.csv' index='0' kks='1' typevalue='A'/><infile filename='a'/></textfilein>",
     "Error loading config: Error loading csvlist for section textfilein",
     "Error loading config: Error parsing csvlist for section textfilein"},
    {"OutWithoutChildren", "<textfileout/>", kOutListsFirst, nullptr},
    {"OutListAfterFile", "<textfileout>OUT<outfile filename='a.txt'/>OUT</textfileout>", kOutListsFirst, nullptr},
    {"OutFileFirst", "<textfileout><outfile filename='a.txt'/></textfileout>", kOutFileAfter, nullptr},
    {"OutWithoutFile", "<textfileout>OUT</textfileout>", kOutFileAfter, nullptr},
    {"OutEmptyFileName", "<textfileout>OUT<outfile/></textfileout>",
     "Error loading config: empty \"filename\" attribute of \"outfile\" tag in section \"textfileout\"", nullptr},
    {"OutBadList", "<textfileout><csvlist file='absent.csv' index='0' kks='1' typevalue='A'/><outfile filename='a'/></textfileout>",
     "Error loading config: Error loading csvlist for section ", "Error loading config: Error parsing csvlist for section "},
    {"OutGmtZone", "<textfileout>OUT<outfile filename='a.txt' zone='gmt'/></textfileout>", kGmt, nullptr},
    {"OutIntervalBeyond32Bits", "<textfileout minwriteinterval='4294967296'>OUT<outfile filename='a.txt'/></textfileout>",
     "Error loading config: attribute \"minwriteinterval\" of \"textfileout\" is \"4294967296\", not a whole "
     "number from 0 to 4294967295",
     nullptr},
    {"OutUnknownSwitchParam", "<textfileout switchparam='NOPE'>OUT<outfile filename='a.txt'/></textfileout>",
     "Error loading config: error parsing \"switchparam\" tag of section \"textfileout\"", nullptr},
    {"PlotWithoutChildren", "<plottextfileout/>", kOutListsFirst, nullptr},
    {"PlotFileFirst", "<plottextfileout><outfile filename='a.txt'/>OUT</plottextfileout>", kOutFileAfter, nullptr},
    {"PlotWithoutFile", "<plottextfileout>OUT</plottextfileout>", kOutFileAfter, nullptr},
    {"PlotGmtZone", "<plottextfileout>OUT<outfile filename='a.txt' zone='gmt'/></plottextfileout>", kGmt, nullptr},
    {"PlotIntervalNotANumber", "<plottextfileout minwriteinterval='2s'>OUT<outfile filename='a.txt'/></plottextfileout>",
     "Error loading config: attribute \"minwriteinterval\" of \"plottextfileout\" is \"2s\", not a whole number "
     "from 0 to 4294967295",
     nullptr},
    {"PlotBadList", "<plottextfileout><csvlist file='absent.csv'/><outfile filename='a'/></plottextfileout>",
     "Error loading config: Error loading csvlist for section ", "Error loading config: Error parsing csvlist for section "},
};

void PrintTo(const SectionError &row, std::ostream *os)
{
    *os << row.name;
}

struct FileSectionErrors : FilesFixture, ::testing::WithParamInterface<SectionError> {
    FileSectionErrors()
    {
        write("in.csv", kInputList);
        write("out.csv", "index,type,kks\n1,FLOATVALID,T1\n");
    }
};

} // namespace

TEST_P(FileSectionErrors, FailTheLoadWithTheirMessageOnBothChannels)
{
    QByteArray body(GetParam().body);
    body.replace("IN", kIn).replace("OUT", kOut);
    EXPECT_FALSE(load(body));
    const QString warning = QString::fromUtf8(GetParam().warning);
    if (GetParam().logLine) {
        EXPECT_TRUE(messages.warnings().contains(warning)) << qPrintable(messages.warnings().join('\n'));
        EXPECT_TRUE(log.contains(QString::fromUtf8(GetParam().logLine))) << qPrintable(log.lines().join('\n'));
    } else {
        expectReported(warning);
    }
    EXPECT_TRUE(config.ties().isEmpty()); // a failed section's tie is not listed
}

INSTANTIATE_TEST_SUITE_P(Sections, FileSectionErrors, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<SectionError> &info) { return std::string(info.param.name); });

TEST_F(FileSectionErrors, ProvidersOfAFailedSectionStayUsable)
{
    EXPECT_FALSE(load(QByteArray("<textfilein>") + kIn + "</textfilein>"));
    BaseTieParam *param = provider("T1");
    ASSERT_NE(param, nullptr); // kept alive by the configuration although the tie is not listed
    EXPECT_EQ(param->KKS(), QStringLiteral("T1"));
    EXPECT_TRUE(config.ties().isEmpty());
}

TEST_F(FileSectionErrors, TextFileInAttributesAndItsFirstFileName)
{
    ASSERT_TRUE(load(QByteArray("<textfilein id='src' timeout='1500' prevforabsent='yes'><note/>") + kIn
                     + "<infile filename='/data/a\\:b.txt:/data/c.txt'/><other/></textfilein>"));
    auto *in = tie<TextFileInTie>(0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->id(), QStringLiteral("src"));
    EXPECT_EQ(in->timeout(), 1500u);
    EXPECT_TRUE(in->prevForAbsent());
    EXPECT_EQ(in->fileName(), QStringLiteral("/data/a:b.txt"));
    EXPECT_EQ(in->readPosition(), 0);
    EXPECT_EQ(in->state(), 0);
    ASSERT_EQ(in->units().size(), 1);
    EXPECT_EQ(in->units().at(0)->params().size(), 6);
    EXPECT_EQ(provider("T1"), in->units().at(0)->params().at(0)); // merged as providers
    // A type the file's records cannot be stored into would stay invalid unsaid.
    EXPECT_TRUE(messages.containsPart("of section textfilein has type FLOAT, which text input does not read"))
        << qPrintable(messages.warnings().join('\n'));
}

TEST_F(FileSectionErrors, TextFileInDefaults)
{
    ASSERT_TRUE(load(QByteArray("<textfilein>") + kIn + kIn + "<infile filename='x.txt'/></textfilein>"));
    auto *in = tie<TextFileInTie>(0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->id(), QString());
    EXPECT_EQ(in->timeout(), 3000u);
    EXPECT_FALSE(in->prevForAbsent());
    EXPECT_EQ(in->units().size(), 2);
}

TEST_F(FileSectionErrors, TextFileOutAttributes)
{
    ASSERT_TRUE(load(QByteArray("<textfilein>") + kIn + "<infile filename='x.txt'/></textfilein>"
                     + "<textfileout id='dst' timeout='2000' syncbytimepoint='yes' minwriteinterval='7' "
                       "outfields='kks,value,valeu,validitycode' defvalidstring='good' definvalidstring='poor' "
                       "writeinvalid='true' switchparam='T4' switchcondition='>0' switchtype='no'>"
                     + kOut + "<outfile filename='a_%1.txt:b.txt' date='dd.MM.yyyy' zone='LOCAL'/></textfileout>"));
    auto *out = tie<TextFileOutTie>(1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->id(), QStringLiteral("dst"));
    EXPECT_EQ(out->timeout(), 2000u);
    EXPECT_TRUE(out->syncByTimePoint());
    EXPECT_EQ(out->minWriteInterval(), 7u);
    EXPECT_EQ(out->columns(), QVector<OutFieldFormat::Column>({OutFieldFormat::colKKS, OutFieldFormat::colValue,
                                                               OutFieldFormat::colValidityCode}));
    // A misspelt column is left out, but said: the table lacks what was asked for.
    EXPECT_TRUE(messages.containsPart("\"outfields\" of section \"textfileout\" names no column valeu: left out"));
    EXPECT_EQ(out->validString(), QStringLiteral("good"));
    EXPECT_EQ(out->invalidString(), QStringLiteral("poor"));
    EXPECT_TRUE(out->writeInvalid());
    EXPECT_TRUE(out->secondsLine());
    EXPECT_EQ(out->paramsSwitch().switchParam(), provider("T4"));
    EXPECT_EQ(out->paramsSwitch().switchCondition(), 0x100u);
    EXPECT_EQ(out->paramsSwitch().switchType(), 2);
    EXPECT_EQ(out->fileNames(), QStringList({"a_%1.txt", "b.txt"}));
    EXPECT_EQ(out->datePattern(), QStringLiteral("dd.MM.yyyy"));
    EXPECT_FALSE(out->zoneUtc());
    EXPECT_EQ(out->dateText(QDate(2024, 5, 1)), QStringLiteral("01.05.2024"));
    EXPECT_EQ(out->fileNameFor(0, utc(2024, 5, 1, 12)), QStringLiteral("a_01.05.2024.txt"));
    EXPECT_EQ(out->fileNameFor(1, utc(2024, 5, 1, 12)), QStringLiteral("b.txt"));
    EXPECT_EQ(out->fileNameFor(2, utc(2024, 5, 1, 12)), QString());
}

TEST_F(FileSectionErrors, TextFileOutDefaults)
{
    // A second section writing the same file would mix records into it.
    ASSERT_TRUE(load(QByteArray("<textfileout>") + kOut + "<outfile filename='a.txt'/></textfileout><plottextfileout>"
                     + kOut + "<outfile filename='./a.txt'/></plottextfileout>"));
    EXPECT_TRUE(messages.containsPart("/a.txt is claimed by more than one section"));
    auto *out = tie<TextFileOutTie>(0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->timeout(), 3000u);
    EXPECT_FALSE(out->syncByTimePoint());
    EXPECT_EQ(out->minWriteInterval(), 1u);
    EXPECT_EQ(out->columns(), OutFieldFormat::defaultColumns());
    EXPECT_EQ(out->validString(), QStringLiteral("+"));
    EXPECT_EQ(out->invalidString(), QStringLiteral("-"));
    EXPECT_FALSE(out->writeInvalid());
    EXPECT_TRUE(out->paramsSwitch().isOpen());
    EXPECT_EQ(out->paramsSwitch().switchParam(), nullptr);
    EXPECT_EQ(out->dateKind(), BaseFileOutTie::dkIso);
    EXPECT_EQ(out->datePattern(), QString());
    EXPECT_TRUE(out->zoneUtc());
    EXPECT_EQ(out->delimiter(), QLatin1Char(';'));
    EXPECT_EQ(provider("T1"), nullptr); // consumers are not providers
}

TEST_F(FileSectionErrors, PlotTextFileOutReadsOnlyItsOwnAttributes)
{
    write("sw.csv", "index,type,kks\n1,SDWORDVALID,SW\n");
    ASSERT_TRUE(load(QByteArray("<plottextfileout id='plot' timeout='900' minwriteinterval='2' outfields='kks' "
                                "writeinvalid='no' syncbytimepoint='yes' switchparam='NOPE'>")
                     + kOut + "<outfile filename='p_%1.txt' date='textdate' zone='utc'/></plottextfileout>"));
    auto *plot = tie<PlotTextFileOutTie>(0);
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->id(), QStringLiteral("plot"));
    EXPECT_EQ(plot->timeout(), 900u);
    EXPECT_EQ(plot->minWriteInterval(), 2u);
    EXPECT_EQ(plot->columns(), OutFieldFormat::defaultColumns());
    EXPECT_TRUE(plot->writeInvalid());
    EXPECT_FALSE(plot->syncByTimePoint());
    EXPECT_FALSE(plot->secondsLine());
    EXPECT_EQ(plot->paramsSwitch().switchParam(), nullptr);
    EXPECT_EQ(plot->dateKind(), BaseFileOutTie::dkText);
    EXPECT_EQ(plot->fileNameFor(0, utc(2024, 5, 1)), QStringLiteral("p_Wed May 1 2024.txt"));
}

TEST_F(FileSectionErrors, UnknownDelimiterKindIsRefused)
{
    TextFileOutTie out;
    out.setDelimiterKind(2);
    EXPECT_EQ(out.delimiter(), QLatin1Char('\t'));
    out.setDelimiterKind(7);
    EXPECT_TRUE(messages.contains("Unknown field delimiter type"));
    EXPECT_EQ(out.delimiterKind(), 2);
}
