// Signals that reach the running program in the foreground: SIGHUP (a
// closed terminal, or an operator asking for a reload), a closed pipe at its standard error (SIGPIPE), and
// SIGTERM while a large record is being written.

#include "faultsupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Neither signal ends the program: SIGHUP reads the configuration again, a closed
// standard error only loses the diagnostics; the records go on, and a
// SIGTERM afterwards still stops it cleanly.
TEST(SignalFaults, HangupAndAClosedStandardErrorNeitherEndNorStopTheProgram)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString table = tree.root() + "/clock.txt";
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><misc><locale lang='en'/></misc><service/>"
                                                   + clockTableSection(tree, table) + "</config>"));
    // Standard error is a FIFO this test reads (the program inherits no
    // reader of it), so that closing it leaves the program's writes without
    // a reader (closeReadChannel() only stops QProcess from reading its
    // pipe, which stays open).
    const QByteArray fifo = QFile::encodeName(tree.root() + "/stderr.fifo");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const auto drained = [&reader](bool done) {
        char buffer[65536];
        while (::read(reader, buffer, sizeof buffer) > 0) {
        }
        return done;
    };
    QProcess program;
    program.setStandardErrorFile(QFile::decodeName(fifo), QIODevice::Append);
    tree.start(program, {"-D", "3"}); // plenty of diagnostics on standard error
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return drained(clockRecords(readFile(table)) >= 1); }, 15000));

    ::kill(static_cast<pid_t>(program.processId()), SIGHUP);
    EXPECT_TRUE(waitFor([&] { return drained(tree.readLog().contains("\tSIGHUP received: the configuration is read again")); }, 5000))
        << tree.readLog().constData();
    ::close(reader); // the reader of standard error is gone
    const int before = clockRecords(readFile(table));
    EXPECT_TRUE(waitFor([&] { return clockRecords(readFile(table)) >= before + 2; }, 10000));
    ASSERT_EQ(program.state(), QProcess::Running);

    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(tree.readLog().endsWith("\tApplication was stopped\n")) << tree.readLog().constData();
    EXPECT_TRUE(wholeClockRecords(readFile(table)));
}

// SIGTERM arrives while records of 3 000 lines are written: the program
// stops cleanly and the table holds whole records only.
TEST(SignalFaults, TermDuringAWriteLeavesWholeRecords)
{
    const int rows = 3000;
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString table = tree.root() + "/clock.txt";
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><misc><locale lang='en'/></misc><service/>"
                                                   + clockTableSection(tree, table, rows) + "</config>"));
    QProcess program;
    tree.start(program, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    // A record a second: aim at the moment the next one is written.
    ASSERT_TRUE(waitFor([&] { return QFileInfo(table).size() > 0; }, 15000));
    const qint64 first = QFileInfo(table).size();
    ASSERT_TRUE(waitFor([&] { return QFileInfo(table).size() > first; }, 5000));
    QThread::msleep(990);
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const QByteArray written = readFile(table);
    EXPECT_GE(clockRecords(written, rows), 2);
    EXPECT_TRUE(wholeClockRecords(written, rows)) << written.right(200).constData();
}
