#include "installationtree.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <mqueue.h>
#include <unistd.h>

namespace {

// Two queue names of this test, unique on the machine, unlinked afterwards.
struct TestQueues {
    const QString in = QStringLiteral("/ferrox-systest-%1-in").arg(::getpid());
    const QString out = QStringLiteral("/ferrox-systest-%1-out").arg(::getpid());
    ~TestQueues()
    {
        ::mq_unlink(in.toLocal8Bit().constData());
        ::mq_unlink(out.toLocal8Bit().constData());
    }
};

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the queue tool with `arguments` and waits for it (bounded).
// Runs the tool; its standard output goes to `outFile` when one is given.
ToolRun runTool(const QStringList &arguments, const QString &outFile = QString())
{
    ToolRun run;
    QProcess tool;
    if (!outFile.isEmpty())
        tool.setStandardOutputFile(outFile);
    tool.start(QStringLiteral(FERROX_BINARY_DIR "/bin/ferrox-mq"), arguments);
    if (!tool.waitForFinished(20000)) {
        tool.kill();
        tool.waitForFinished(5000);
        return run;
    }
    run.exitCode = tool.exitCode();
    run.out = tool.readAllStandardOutput();
    run.err = tool.readAllStandardError();
    return run;
}

} // namespace

// Wrong usage is told apart from a failed queue operation by its exit code,
// whether the tool or its option parser finds it.
TEST(MQueueTool, WrongUsageExitsTwo)
{
    for (const QStringList &arguments : {QStringList{"read", "/q", "--bogus"}, QStringList{"read", "/q", "-n"},
                                         QStringList{"bogus", "/q"}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(arguments.join(' ')) << ": " << run.err.constData();
    }
    EXPECT_EQ(runTool({"--help"}).exitCode, 0);
}

// A read whose output fails exits 1 and leaves in the queue what it could not print.
TEST(MQueueTool, AReadThatCannotPrintFailsAndLeavesTheRest)
{
    TestQueues queues;
    for (const char *bytes : {"0102", "0304"})
        ASSERT_EQ(runTool({"write", queues.in, "-c", "-x", bytes}).exitCode, 0);
    const ToolRun run = runTool({"read", queues.in}, QStringLiteral("/dev/full"));
    EXPECT_EQ(run.exitCode, 1) << run.err.constData();
    EXPECT_TRUE(run.err.contains("cannot write message 1")) << run.err.constData();
    EXPECT_TRUE(runTool({"info", queues.in}).out.contains("1 waiting"));
    EXPECT_EQ(runTool({"info", queues.in}, QStringLiteral("/dev/full")).exitCode, 1);
}

// Times are written and shown as the gateway reads the two words: 32-bit
// seconds unsigned (past 2038 was refused, before 1970 taken), and before
// 1970 whole seconds at or before the instant with the fraction on from them
// (-1.5 was written as -1 and .5, -0.5 as 0 and .5).
TEST(MQueueTool, TimesAreWrittenAsTheGatewayReadsThem)
{
    TestQueues queues;
    InstallationTree tree;
    ASSERT_TRUE(tree.writeConfig("t.def", "T\n40\nA,type_timespec,0,1,1,1\nB,type_timespec64,8,1,1,1\n"
                                          "C,type_timespec64,24,1,1,1\n"));
    const QString def = tree.configPath("t.def");
    EXPECT_NE(runTool({"write", queues.in, "-c", "-d", def, "A=-1"}).exitCode, 0);
    const ToolRun sent = runTool({"write", queues.in, "-c", "-d", def, "A=2200000000", "B=-1.5", "C=-0.25"});
    ASSERT_EQ(sent.exitCode, 0) << sent.err.constData();
    const ToolRun read = runTool({"read", queues.in, "-d", def});
    EXPECT_TRUE(read.out.contains("A = 2200000000.000000000 (2039-")) << read.out.constData();
    EXPECT_TRUE(read.out.contains("B = -1.500000000 (1969-12-31T23:59:58")) << read.out.constData();
    EXPECT_TRUE(read.out.contains("C = -0.250000000 (1969-12-31T23:59:59")) << read.out.constData();
    // B's words: -2 and 500000000.
    EXPECT_TRUE(read.out.contains("- FE FF FF FF FF FF FF FF") && read.out.contains("0010: 00 65 CD 1D"))
        << read.out.constData();
}

// An area written into one queue by the tool is read by the running
// program, converted into another tie's area (records in another order) and
// sent to that tie's queue, where the tool reads and decodes it.

TEST(MQueueProgram, AreasTravelBothWaysThroughTheRunningProgram)
{
    TestQueues queues;
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("in.def", "IN\n16\nT1,type_rval,0,1,1,1\nN1,type_sival,8,1,1,1\n"));
    ASSERT_TRUE(tree.writeConfig("out.def", "OUT\n16\nN1,type_sival,0,1,1,1\nT1,type_rval,8,1,1,1\n"));
    const QByteArray config = "<config><misc><locale lang='en'/><times/></misc>"
                              "<mqueue><defarea file='in.def' direction='in'/><connection filename='"
        + queues.in.toLocal8Bit() + "' direction='in'/></mqueue>"
        + "<mqueue><defarea file='out.def' direction='out'/><connection filename='" + queues.out.toLocal8Bit()
        + "' direction='out'/></mqueue></config>";
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", config));

    QProcess program;
    tree.start(program, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return tree.readLog().contains("\tApplication was started"); }, 15000))
        << program.readAllStandardError().constData();

    // A number its float cannot hold is refused, not sent as infinity.
    EXPECT_NE(runTool({"write", queues.in, "-d", tree.configPath("in.def"), "T1=1e39", "N1=-3"}).exitCode, 0);
    const ToolRun sent = runTool({"write", queues.in, "-d", tree.configPath("in.def"), "T1=12.5", "N1=-3"});
    EXPECT_EQ(sent.exitCode, 0) << sent.err.constData();
    const ToolRun read = runTool({"read", queues.out, "-d", tree.configPath("out.def"), "-n", "1", "-t", "10"});
    EXPECT_EQ(read.exitCode, 0) << read.err.constData();
    EXPECT_TRUE(read.out.contains("N1 = -3 [state 0]")) << read.out.constData();
    EXPECT_TRUE(read.out.contains("T1 = 12.5 [valid 1]")) << read.out.constData();

    EXPECT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(5000);
}
