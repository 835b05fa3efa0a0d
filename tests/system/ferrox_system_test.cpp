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
    // SIGTERM stops it as "terminate" does: cleanly, and the log says so.
    process.terminate();
    EXPECT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(err.contains("Debuglevel is 6"));
    EXPECT_TRUE(err.contains("FerroxApplication::FerroxApplication() was called"));
    EXPECT_TRUE(tree.readLog().endsWith("\tApplication was stopped\n")) << tree.readLog().constData();
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
    // The error is in the log once, the failure last, and no start.
    const QByteArray log = tree.readLog();
    EXPECT_EQ(log.count("\tError loading config: not supposed section \"modbus\" occurred\n"), 1) << log.constData();
    EXPECT_TRUE(log.endsWith("\tError loading config\n")) << log.constData();
    EXPECT_FALSE(log.contains("Application was started"));
}

TEST(Program, MissingConfigurationEndsTheProcessWithMinusOne)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const InstallationTree::Run run = tree.runForeground({}, 15000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_TRUE(run.err.contains("Error loading config: error opening")) << run.err.constData();
    // No configuration names a log file: the default one gets the reason,
    // and a log file on the command line gets it instead.
    const QByteArray log = tree.readLog();
    EXPECT_TRUE(log.contains("\tError loading config: error opening " + tree.configPath().toUtf8() + "\n")) << log.constData();
    EXPECT_TRUE(log.endsWith("\tError loading config\n")) << log.constData();

    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><misc>"));
    ASSERT_TRUE(tree.runForeground({"-L", "../log/given.log"}, 15000).finished);
    EXPECT_TRUE(tree.readLog("given.log").contains("\tError loading config: error parsing ")) << tree.readLog("given.log").constData();
}

TEST(Program, WrongArgumentEndsTheProcessWithMinusOne)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", kServiceConfig));
    const InstallationTree::Run run = tree.runForeground({"-X"}, 15000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.err.count("Wrong argument -X (see -h"), 1) << run.err.constData();
    EXPECT_TRUE(tree.readLog().contains("\tWrong argument -X (see -h"));
    EXPECT_FALSE(tree.readLog().contains("Application was started"));

    const InstallationTree::Run missing = tree.runForeground({"-D"}, 15000);
    ASSERT_TRUE(missing.finished);
    EXPECT_EQ(missing.exitCode, 255);
    EXPECT_TRUE(missing.err.contains("Debuglevel is 0 (the value of -D is missing)")) << missing.err.constData();
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
