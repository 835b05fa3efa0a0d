#include "installationtree.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

const QByteArray kServiceConfig = "<config><misc><locale lang='en'/><times maincycle='2000'/></misc><service/></config>";

} // namespace

TEST(Program, StartsLogsItsStartAndKeepsTicking)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", kServiceConfig));
    QProcess process;
    tree.start(process, {"-D", "6"});
    ASSERT_TRUE(process.waitForStarted(5000));
    // The default log file is ../log/ferrox.log beside the program.
    EXPECT_TRUE(waitFor([&] { return tree.readLog().contains("\tApplication was started"); }, 10000));
    // Ticks run every 500 ms: the service tie's unit is polled again and again.
    QByteArray err;
    EXPECT_TRUE(waitFor(
        [&] {
            err += process.readAllStandardError();
            return err.count("FuncTieUnit::pollData() was called") >= 3;
        },
        10000));
    EXPECT_EQ(process.state(), QProcess::Running);
    process.kill();
    process.waitForFinished(5000);
    EXPECT_TRUE(err.contains("Debuglevel is 6"));
    EXPECT_TRUE(err.contains("FerroxApplication::FerroxApplication() was called"));
}

TEST(Program, ConfigurationErrorEndsTheProcessWithMinusOne)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><service/><modbus/></config>"));
    const InstallationTree::Run run = tree.runForeground({}, 15000);
    ASSERT_TRUE(run.finished) << run.err.constData();
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_TRUE(run.err.contains("Error loading config: not supposed section \"modbus\" occurred")) << run.err.constData();
    EXPECT_TRUE(run.err.contains("Error loading config\n")) << run.err.constData();
    EXPECT_TRUE(tree.readLog().contains("\tError loading config: not supposed section \"modbus\" occurred"));
}

TEST(Program, MissingConfigurationEndsTheProcessWithMinusOne)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const InstallationTree::Run run = tree.runForeground({}, 15000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_TRUE(run.err.contains("Error loading config: error opening")) << run.err.constData();
}

TEST(Program, WrongArgumentEndsTheProcessWithMinusOne)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", kServiceConfig));
    const InstallationTree::Run run = tree.runForeground({"-X"}, 15000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.err.count("Wrong argument -X"), 1) << run.err.constData();

    const InstallationTree::Run missing = tree.runForeground({"-D"}, 15000);
    ASSERT_TRUE(missing.finished);
    EXPECT_EQ(missing.exitCode, 255);
}

TEST(Program, LogFileOnTheCommandLineWinsOverTheConfiguration)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><misc><log file='../log/fromconfig.log'/></misc>"
                                               "<service/></config>"));
    QProcess process;
    tree.start(process, {"-L", "../log/given.log"});
    ASSERT_TRUE(process.waitForStarted(5000));
    EXPECT_TRUE(waitFor([&] { return tree.readLog("given.log").contains("\tApplication was started"); }, 10000));
    process.kill();
    process.waitForFinished(5000);
    EXPECT_TRUE(tree.readLog("fromconfig.log").isEmpty());
}
