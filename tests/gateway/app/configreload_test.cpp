#include "app/configreload.h"

#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A running configuration loaded from a file as at a start, and its reload.
struct ReloadFixture : ::testing::Test {
    QTemporaryDir dir;
    LogCapture log;
    MessageCapture messages;
    GateConfig config;
    QString file = dir.filePath("ferrox.cfg");
    std::unique_ptr<ConfigReload> reload;

    ReloadFixture()
    {
        ConversionRegistry::fillGlobal();
        log.setFileName(dir.filePath("gate.log"));
        write("clock.csv", "kks,index,type\n@CURRENT_DATETIME_UTC,1,SDWORD\n");
        write("local.csv", "kks,index,type\n@CURRENT_DATETIME_LOCAL,1,SDWORD\n");
        write("in.csv", "kks,index,type\nT1,1,FLOATVALID\n");
    }

    void write(const QString &name, const QByteArray &text) const
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(text), text.size());
    }
    void writeConfig(const QByteArray &body) const
    {
        write("ferrox.cfg", "<config><misc><locale lang='en'/><times/></misc>" + body + "</config>");
    }
    QByteArray out(const char *id, const char *list = "clock.csv") const
    {
        return QByteArray("<textfileout id='") + id + "'><csvlist file='" + list
            + "' kks='0' index='1' type='2' direction='out'/><outfile filename='" + dir.filePath(id).toUtf8()
            + ".txt'/></textfileout>";
    }
    QByteArray in() const
    {
        return "<textfilein id='in'><csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/>"
               "<infile filename='"
            + dir.filePath("in.txt").toUtf8() + "'/></textfilein>";
    }

    void start(const QByteArray &body)
    {
        writeConfig(body);
        reload.reset(new ConfigReload(config, file, &makeConverter));
        FerroxXmlConfig loader(config, &makeConverter, ferroxSectionTable());
        loader.setRecords(&reload->records());
        ASSERT_TRUE(loader.loadConf(file));
        for (BaseTie *tie : config.ties())
            tie->init();
        log.clear();
    }

    struct Verdict {
        int calls = 0;
        bool ok = false;
        QStringList lines;
    };
    ConfigReload::Done into(Verdict &verdict)
    {
        return [&verdict](bool ok, const QStringList &lines) {
            ++verdict.calls;
            verdict.ok = ok;
            verdict.lines = lines;
        };
    }
};

} // namespace

TEST_F(ReloadFixture, TheLogNamesWhatWasKeptChangedAddedAndRemoved)
{
    start("<service/>" + out("a") + in());
    BaseTie *service = config.ties().at(0);
    writeConfig("<service/>" + out("a", "local.csv") + out("b"));
    Verdict verdict;
    reload->request(into(verdict));

    ASSERT_EQ(verdict.calls, 1);
    EXPECT_TRUE(verdict.ok) << qPrintable(verdict.lines.join('\n'));
    ASSERT_EQ(config.ties().size(), 3);
    EXPECT_EQ(config.ties().at(0), service);
    ASSERT_EQ(log.lines().size(), 5) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(log.lines().at(0).startsWith("Configuration reloaded in ")) << qPrintable(log.lines().at(0));
    EXPECT_TRUE(log.lines().at(0).endsWith(" ms: 1 ties kept, 1 changed, 1 added, 1 removed"));
    EXPECT_EQ(log.lines().mid(1, 4), QStringList({"  kept: service (section 2)", "  changed: textfileout \"a\"",
                                                  "  added: textfileout \"b\"", "  removed: textfilein \"in\""}));
    EXPECT_EQ(verdict.lines.mid(0, 5), log.lines().mid(0, 5));
    EXPECT_EQ(reload->tieSections(), QStringList({"service", "textfileout", "textfileout"}));
    EXPECT_EQ(reload->stats().count, 1u);
    EXPECT_TRUE(reload->stats().lastOk);
}

TEST_F(ReloadFixture, AFailedReloadChangesNothingAndSaysWhy)
{
    start("<service/>" + out("a"));
    const QList<BaseTie *> before = config.ties();
    BaseTieParam *clock = config.paramsHash().find("@CURRENT_DATETIME_UTC");
    const SectionRecords records = reload->records();
    // The first section is unchanged (its tie is taken over); the second fails.
    writeConfig("<service/>" + out("a", "missing.csv") + out("b"));
    Verdict verdict;
    reload->request(into(verdict));

    ASSERT_EQ(verdict.calls, 1);
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(config.ties(), before);
    EXPECT_EQ(config.paramsHash().find("@CURRENT_DATETIME_UTC"), clock);
    EXPECT_EQ(reload->records().keys().size(), records.keys().size());
    ASSERT_FALSE(verdict.lines.isEmpty());
    EXPECT_TRUE(verdict.lines.at(0).startsWith("Configuration not reloaded ("));
    EXPECT_TRUE(verdict.lines.contains("Error loading config: Error loading csvlist file " + dir.filePath("missing.csv")))
        << qPrintable(verdict.lines.join('\n'));
    EXPECT_TRUE(log.contains("Error loading config: Error loading csvlist file " + dir.filePath("missing.csv")));
    EXPECT_EQ(reload->stats().failed, 1u);
    EXPECT_FALSE(QFile::exists(dir.filePath("b.txt")));

    // The configuration that runs on is still the one reloads start from.
    writeConfig("<service/>" + out("a"));
    reload->request(into(verdict));
    EXPECT_TRUE(verdict.ok);
    EXPECT_EQ(config.ties(), before);
}

TEST_F(ReloadFixture, ARequestDuringAMainCycleWaitsForItsEndWaitingOnesShareOneReloadAndAStopRefusesThem)
{
    start("<service/>");
    Verdict first, second;
    {
        const ConfigReload::CycleScope cycle(reload.get());
        reload->request(into(first));
        reload->request(into(second));
        QCoreApplication::processEvents();
        EXPECT_EQ(first.calls, 0);
    }
    EXPECT_EQ(first.calls, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(reload->stats().count, 1u);

    // Once the service stops, a waiting request and a later one are refused
    // and nothing is loaded.
    const QList<BaseTie *> before = config.ties();
    writeConfig("<service/>" + out("a"));
    Verdict waiting, late;
    {
        const ConfigReload::CycleScope cycle(reload.get());
        reload->request(into(waiting));
        reload->close();
    }
    reload->request(into(late));
    for (const Verdict *v : {&waiting, &late}) {
        EXPECT_EQ(v->calls, 1);
        EXPECT_FALSE(v->ok);
        EXPECT_EQ(v->lines, QStringList{"the service is stopping"});
    }
    EXPECT_EQ(config.ties(), before);
    EXPECT_EQ(reload->stats().count, 1u);
}
