#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/basetieunit.h"
#include "links/calc/luacalctie.h"

#include "gateway/links/tiefixture.h"
#include "support/fixedclock.h"

#include <QDir>

#include <ostream>
#include <string>
#include <vector>

namespace {

// A configuration loaded through the real loader with the program's
// sections: a text file input of T (FLOATVALID) and P (SDWORDVALID), the
// calculation, and a table output of its results F and S.
struct LuaCalcSection : TieFixture {

    LuaCalcSection()
    {
        write("in.csv", "index,type,kks\n1,FLOATVALID,T\n2,SDWORDVALID,P\n");
        write("results.csv", "index,type,kks\n1,FLOATVALID,F\n2,SDWORDVALID,S\n");
        write("calc.lua", "function calculate() F = T * 2; S = P + 1 end");
    }

    static QByteArray lists()
    {
        return "<params file='in.csv' index='0' type='1' kks='2'/>"
               "<results file='results.csv' index='0' type='1' kks='2'/>";
    }
    QByteArray read(const QString &name) const
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

struct SectionError {
    const char *name;
    const char *body; // LISTS stands for a valid params and results list
    const char *warning;
    const char *logLine; // null: the same as the warning
};

void PrintTo(const SectionError &row, std::ostream *os)
{
    *os << row.name;
}

const char kScript[] = "<calcfile file='calc.lua'/>";

const std::vector<SectionError> kErrors = {
    {"ParamsAfterResults",
     "<luacalc><results file='results.csv' index='0' type='1' kks='2'/><params file='in.csv' index='0' type='1' "
     "kks='2'/></luacalc>",
     "Error loading config: one or more \"params\" tag may be at start of section \"luacalc\"", nullptr},
    {"ResultsAfterScript", "<luacalc>LISTS<calcfile file='calc.lua'/><results file='results.csv' index='0' type='1' kks='2'/></luacalc>",
     "Error loading config: one or more \"results\" tag may be at start of section \"luacalc\" or just after "
     "\"params\" tag",
     nullptr},
    {"Empty", "<luacalc/>",
     "Error loading config: section \"luacalc\" may contain one or more \"params\" tag and should contain one or more "
     "results tag and a caclulation tag",
     nullptr},
    {"OnlyParams", "<luacalc><params file='in.csv' index='0' type='1' kks='2'/></luacalc>",
     "Error loading config: section \"luacalc\" should contain one or more results tag and a caclulation tag", nullptr},
    {"NoScript", "<luacalc>LISTS</luacalc>", "Error loading config: section \"luacalc\" should contain a \"calcfile\" tag",
     nullptr},
    {"BadParamsList", "<luacalc><params file='absent.csv' index='0' kks='1' typevalue='A'/></luacalc>",
     "Error loading config: Error loading params for section \"luacalc\"",
     "Error loading config: Error parsing params for section \"luacalc\""},
    {"BadResultsList", "<luacalc><results file='absent.csv' index='0' kks='1' typevalue='A'/></luacalc>",
     "Error loading config: Error loading results for section \"luacalc\"",
     "Error loading config: Error parsing results for section \"luacalc\""},
    {"ScriptMissing", "<luacalc>LISTS<calcfile file='absent.lua'/></luacalc>",
     "Error loading config: Error loading calcfile with file: \"absent.lua\" for section \"luacalc\"",
     "Error loading config: Error parsing calcfile with file: \"absent.lua\" for section \"luacalc\""},
    {"BadInstructionLimit", "<luacalc instructionlimit='lots'>LISTS<calcfile file='calc.lua'/></luacalc>",
     "Error loading config: attribute \"instructionlimit\" of \"luacalc\" is \"lots\", not a whole number from 0 to "
     "1000000000000000",
     nullptr},
};

struct LuaCalcSectionErrors : LuaCalcSection, ::testing::WithParamInterface<SectionError> {
};

} // namespace

TEST_P(LuaCalcSectionErrors, FailTheLoadWithTheirMessageOnBothChannels)
{
    QByteArray body(GetParam().body);
    body.replace("LISTS", lists());
    EXPECT_FALSE(load(body));
    const QString warning = QString::fromUtf8(GetParam().warning);
    if (GetParam().logLine) {
        EXPECT_TRUE(messages.warnings().contains(warning)) << qPrintable(messages.warnings().join('\n'));
        EXPECT_TRUE(log.contains(QString::fromUtf8(GetParam().logLine))) << qPrintable(log.lines().join('\n'));
    } else {
        expectReported(warning);
    }
    EXPECT_TRUE(config.ties().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sections, LuaCalcSectionErrors, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<SectionError> &info) { return std::string(info.param.name); });

TEST_F(LuaCalcSection, ScriptLoadFailureCarriesLuasMessage)
{
    write("calc.lua", "function calculate(\n");
    EXPECT_FALSE(load("<luacalc>" + lists() + kScript + "</luacalc>"));
    // Lua's message (position included) follows the section's own line.
    EXPECT_TRUE(log.lines().last().startsWith("Error loading config: the script says: "));
    EXPECT_TRUE(log.lines().last().contains("calc.lua:2:")) << qPrintable(log.lines().join('\n'));
    // The results stay usable providers of the unlisted tie.
    EXPECT_NE(config.paramsHash().find("F"), nullptr);
}

// Values of a text file go through the script into a table file, with
// their validity; the script's module lies beside it in its own directory.
TEST_F(LuaCalcSection, CalculatesBetweenTwoRealTies)
{
    QDir(dir.path()).mkpath("scripts");
    write("scripts/twice.lua", "return function(v) return v * 2 end");
    write("scripts/calc.lua", "local twice = require('twice')\nfunction calculate() F = twice(T); S = P + 1 end");
    const QByteArray input = dir.filePath("values.txt").toUtf8();
    const QByteArray output = dir.filePath("out_%1.txt").toUtf8();
    ASSERT_TRUE(load("<textfilein id='in'><csvlist file='in.csv' index='0' type='1' kks='2' direction='in'/>"
                     "<infile filename='" + input + "'/></textfilein>"
                     "<luacalc id='calc' timeout='4000' instructionlimit='5000000' memorylimit='33554432'>" + lists()
                     + "<calcfile file='scripts/calc.lua'/></luacalc>"
                     "<textfileout id='out' outfields='kks,value,validity' writeinvalid='true'>"
                       "<csvlist file='results.csv' index='0' type='1' kks='2' direction='out'/>"
                       "<outfile filename='" + output + "'/></textfileout>"))
        << qPrintable(messages.texts().join('\n'));
    ASSERT_EQ(config.ties().size(), 3);
    auto *calc = qobject_cast<LuaCalcTie *>(config.ties().at(1));
    ASSERT_NE(calc, nullptr);
    EXPECT_EQ(calc->id(), "calc");
    EXPECT_EQ(calc->timeout(), 4000u);
    EXPECT_EQ(calc->instructionLimit(), 5000000u);
    EXPECT_EQ(calc->memoryLimit(), 33554432u);
    EXPECT_EQ(calc->nameFlags(), static_cast<quint32>(LuaCalcTie::nfAll));
    EXPECT_EQ(calc->moduleDirs(), QStringList({dir.path(), dir.filePath("scripts")}));
    EXPECT_EQ(calc->units().at(0)->direction(), 6u);
    EXPECT_EQ(calc->units().at(1)->direction(), 5u);

    write("values.txt", "T;20.5\nP;3\n");
    tick();
    write("values.txt", "P;4\n"); // T absent: invalid
    clock.advance(1000);
    tick();
    EXPECT_EQ(read("out_2024-05-01.txt"), QByteArray("43200\nF;41;+\nS;4;+\n43201\nF;0;-\nS;5;+\n"));
    EXPECT_FALSE(calc->failing());
    EXPECT_TRUE(messages.warnings().isEmpty()) << qPrintable(messages.warnings().join('\n'));
}

TEST_F(LuaCalcSection, WarnsAboutWhatMisleadsTheScript)
{
    QDir(dir.path()).mkpath("odd;dir");
    write("odd;dir/calc.lua", "function calculate() end");
    write("in.csv", "index,type,kks\n1,FLOATVALID,math\n");
    write("results.csv", "index,type,kks\n1,FLOATVALID,F\n2,SDWORD,S\n");
    ASSERT_TRUE(load("<luacalc>" + lists() + "<calcfile file='odd;dir/calc.lua' function='compute'/></luacalc>"
                     + "<luacalc><calcfile file='odd;dir/calc.lua'/></luacalc>"));
    // A script without inputs is never called, one without results gives nothing.
    expectReported("Warning loading config file: section \"luacalc\" has no \"params\" tag: its script is never called");
    expectReported("Warning loading config file: section \"luacalc\" has no \"results\" tag: its script gives nothing");
    expectReported("Warning loading config: the module directory \"" + dir.filePath("odd;dir")
                   + "\" of section \"luacalc\" holds \";\" or \"?\", which change the meaning of the module search "
                     "path");
    expectReported("Warning loading config: the script \"odd;dir/calc.lua\" defines no function \"compute\"; its "
                   "calculations do nothing");
    expectReported("Warning loading config: parameter kks=math is published as \"math\", which hides the script's "
                   "global table of that name");
    expectReported("Warning loading config: parameter kks=S of section luacalc has type SDWORD, which calculations "
                   "neither read nor write");
}
