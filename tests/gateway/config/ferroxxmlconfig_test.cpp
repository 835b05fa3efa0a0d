#include "config/ferroxxmlconfig.h"

#include "app/sectiontable.h"

#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "gateway/config/loaderfixture.h"

#include <QLocale>

namespace {

// The loader's tests take the program's section table; the loader itself
// knows only what it is handed.
struct Loader : LoaderFixture {
    FerroxXmlConfig loader{config, &makeConverter, ferroxSectionTable()};

    Loader() { FerroxXmlConfig::setLanguage(QString()); }
    bool load(const QByteArray &text) { return loader.loadConf(write("ferrox.cfg", text)); }
};

} // namespace

TEST_F(Loader, EmptyRootWarnsAboutMiscAndTheLogFileOnly)
{
    ASSERT_TRUE(load("<config/>"));
    EXPECT_EQ(messages.warnings(),
              QStringList({"Warning loading config file: Can't get \"misc\" section, using default values",
                           "Using logfile " + FerroxXmlConfig::defaultLogFile()}));
    EXPECT_EQ(FerroxXmlConfig::language(), QLocale::system().name());
    EXPECT_EQ(log.fileName(), FerroxXmlConfig::defaultLogFile());
    EXPECT_TRUE(config.ties().isEmpty());
}

TEST_F(Loader, LogFileGivenBeforeLoadingWins)
{
    log.setFileName("/elsewhere/given.log");
    ASSERT_TRUE(load("<config><misc><locale lang='de'/><log file='mine.log'/><times/></misc></config>"));
    EXPECT_EQ(log.fileName(), QStringLiteral("/elsewhere/given.log"));
    EXPECT_TRUE(messages.warnings().isEmpty()) << qPrintable(messages.warnings().join('\n'));
    EXPECT_EQ(FerroxXmlConfig::language(), QStringLiteral("de"));
}

TEST_F(Loader, MiscLogIsResolvedAgainstTheConfigurationDirectory)
{
    ASSERT_TRUE(load("<config><misc><locale/><log file='logs/gate.log'/><times maincycle='250'/></misc></config>"));
    EXPECT_EQ(log.fileName(), dir.filePath("logs/gate.log"));
    EXPECT_EQ(config.mainCycle(), 250u);
    EXPECT_EQ(config.timeout(), 3000u);
    EXPECT_TRUE(messages.warnings().isEmpty()) << qPrintable(messages.warnings().join('\n'));
    EXPECT_EQ(FerroxXmlConfig::language(), QLocale::system().name()); // `locale` without `lang`
}

TEST_F(Loader, MissingMiscFieldsTakeTheirDefaultsWithWarnings)
{
    ASSERT_TRUE(load("<config><misc/></config>"));
    EXPECT_TRUE(messages.warnings().contains(
        QStringLiteral("Warning loading config file: Can't get \"locale\" field of \"misc\" section, using system locale (%1)")
            .arg(QLocale::system().name())));
    EXPECT_TRUE(messages.warnings().contains(
        "Warning loading config file: Can't get \"log\" field of \"misc\" section, using default ("
        + FerroxXmlConfig::defaultLogFile() + ")"));
    EXPECT_TRUE(messages.warnings().contains(
        "Warning loading config file: Can't get \"times\" field of \"misc\" section, using default main cycle (1000 msec)"));
    EXPECT_EQ(config.mainCycle(), 1000u);
}

TEST_F(Loader, TimesOutsideThirtyTwoBitsFailTheLoad)
{
    EXPECT_FALSE(load("<config><misc><times maincycle='4294967296'/></misc><service/></config>"));
    expectReported("Error loading config: attribute \"maincycle\" of \"times\" is \"4294967296\", not a whole number "
                   "from 0 to 4294967295");
    EXPECT_FALSE(load("<config><misc><times timeout='-1'/></misc></config>"));
    EXPECT_TRUE(messages.containsPart("attribute \"timeout\" of \"times\" is \"-1\""));
    EXPECT_TRUE(config.ties().isEmpty());
}

TEST_F(Loader, DeeplyNestedFileIsRefusedBeforeItIsParsed)
{
    const QByteArray deep = QByteArray("<config>") + QByteArray("<a>").repeated(100000)
        + QByteArray("</a>").repeated(100000) + "</config>";
    EXPECT_FALSE(load(deep));
    EXPECT_TRUE(messages.containsPart("elements nested deeper than")) << qPrintable(messages.texts().join('\n'));
}

TEST_F(Loader, UnknownSectionStopsTheLoad)
{
    EXPECT_FALSE(load("<config><service/><modbus/><service/></config>"));
    expectReported("Error loading config: not supposed section \"modbus\" occurred");
    EXPECT_EQ(config.ties().size(), 1); // what was built before stays
}

TEST_F(Loader, TextAndCommentNodesAreSkipped)
{
    EXPECT_TRUE(load("<config>text<!-- a comment --><service/></config>"));
    EXPECT_EQ(config.ties().size(), 1);
}

TEST_F(Loader, RootThatIsNotConfigFails)
{
    EXPECT_FALSE(load("<packet/>"));
    EXPECT_TRUE(messages.warnings().contains("Error loading config: error parsing xml: cannot find root (<config> node)"));
}

TEST_F(Loader, SectionsOfFamiliesNotInThisBuildFailClearly)
{
    FerroxXmlConfig partial{config, &makeConverter, {{"modbus", &FerroxXmlConfig::unavailableSection}}};
    EXPECT_FALSE(partial.loadConf(write("ferrox.cfg", "<config><modbus/></config>")));
    expectReported("Error loading config: section \"modbus\" is not available in this build");
    EXPECT_NE(partial.sectionReader("modbus"), nullptr);
    EXPECT_EQ(partial.sectionReader("service"), nullptr);
    EXPECT_EQ(loader.sectionReader("misc"), nullptr);
}

TEST_F(Loader, ServiceSectionProvidesTheClockParameters)
{
    ASSERT_TRUE(load("<config><service/></config>"));
    ASSERT_EQ(config.ties().size(), 1);
    const QList<BaseTieUnit *> &units = config.ties().at(0)->units();
    ASSERT_EQ(units.size(), 1);
    ASSERT_EQ(units.at(0)->params().size(), 5);
    const QStringList ids = {"@INIT_DATETIME_UTC", "@INIT_DATETIME_LOCAL", "@CURRENT_DATETIME_UTC",
                             "@CURRENT_DATETIME_LOCAL", "@CURRENT_TIMESPEC"};
    for (int i = 0; i < ids.size(); ++i) {
        BaseTieParam *p = units.at(0)->params().at(i);
        EXPECT_EQ(config.paramsHash().kks().value(ids.at(i)), p) << qPrintable(ids.at(i));
        EXPECT_EQ(config.paramsHash().iid().value(ids.at(i)), p);
        EXPECT_EQ(config.paramsHash().extId().value(ids.at(i)), p);
        EXPECT_EQ(p->description(), "kks/iid=" + ids.at(i));
    }
}

TEST_F(Loader, TwoServiceSectionsClaimTheSameIdentifiersTwice)
{
    ASSERT_TRUE(load("<config><service/><service/></config>"));
    EXPECT_EQ(config.ties().size(), 2);
    EXPECT_FALSE(config.checkConfig());
    EXPECT_TRUE(log.contains("2 source params for KKS = @CURRENT_TIMESPEC found"));
}

TEST_F(Loader, MalformedXmlIsReportedWithThePath)
{
    const QString path = write("ferrox.cfg", "<config><service></config>");
    EXPECT_FALSE(loader.loadConf(path));
    EXPECT_TRUE(messages.containsPart("Error loading config: error parsing " + path));
    EXPECT_FALSE(loader.loadConf(dir.filePath("absent.cfg")));
    EXPECT_TRUE(messages.containsPart("Error loading config: error opening " + dir.filePath("absent.cfg")));
}
