// Faults of the file links in the running program: output writes that fail
// or come out short (injected with libfiu), a FIFO at an output path, and input and log
// files removed or replaced under it.

#include "faultsupport.h"
#include "installationtree.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// The program's own clock into `table` (one record a second, files
// separated by ":"), and, with `input`, a text file input of T1 whose
// value goes into the table too.
bool configure(const InstallationTree &tree, const QString &table, const QString &input = QString())
{
    QByteArray sections = "<service/>";
    QByteArray lists = "<csvlist file='clock.csv' kks='0' index='1' type='2' direction='out'/>";
    if (!input.isEmpty()) {
        sections += "<textfilein><csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/>"
                    "<infile filename='" + input.toUtf8() + "'/></textfilein>";
        lists += "<csvlist file='out.csv' kks='0' index='1' type='2' direction='out'/>";
    }
    return tree.writeConfig("clock.csv", "kks,index,type\n@CURRENT_DATETIME_UTC,1,SDWORD\n")
        && tree.writeConfig("in.csv", "kks,index,type\nT1,1,FLOATVALID\n")
        && tree.writeConfig("out.csv", "kks,index,type\nT1,1,FLOATVALID\n")
        && tree.writeConfig("ferrox.cfg", "<config><misc><locale lang='en'/></misc>" + sections
                                              + "<textfileout outfields='kks,value,validity'>" + lists
                                              + "<outfile filename='" + table.toUtf8()
                                              + "'/></textfileout></config>");
}

int records(const QByteArray &table)
{
    return table.count("@CURRENT_DATETIME_UTC;");
}

// Everything a process wrote to standard error so far.
struct ProcessOutput {
    explicit ProcessOutput(QProcess &p) : process(p) {}
    QByteArray text()
    {
        all += process.readAllStandardError();
        return all;
    }
    QProcess &process;
    QByteArray all;
};

// True when every line of a log file is whole: a time stamp, a tab, a text.
bool wholeLogLines(const QByteArray &log)
{
    static const QRegularExpression line(
        QStringLiteral("^(\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3} [+-]\\d{4}\\t[^\\n]*\\n)*$"));
    return line.match(QString::fromUtf8(log)).hasMatch();
}

// True when `text` holds whole records only: a seconds line, the clock's
// line and, when valid, T1's line.
bool wholeRecords(const QByteArray &text)
{
    static const QRegularExpression record(
        QStringLiteral("^(\\d+\\n@CURRENT_DATETIME_UTC;\\d+;\\+\\n(T1;[0-9.]+;\\+\\n)?)*$"));
    return record.match(QString::fromLatin1(text)).hasMatch();
}

QString cannotAppend(const QString &file, const char *reason)
{
    return QStringLiteral("TextFileOutTie::writeData(): cannot append to file \"%1\" (%2); the record is kept to be "
                          "written later\n")
        .arg(file, QLatin1String(reason));
}

// Replaces the file at `path` at once by one holding `text`, as writers do
// with a rename.
bool replaceFile(const QString &path, const QByteArray &text)
{
    const QString next = path + QStringLiteral(".next");
    QFile f(next);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return false;
    f.close();
    return ::rename(QFile::encodeName(next).constData(), QFile::encodeName(path).constData()) == 0;
}

// The program run under libfiu, whose faults the test switches on and off.
struct InjectedFileFaults : ::testing::Test {
    void SetUp() override
    {
#ifdef __SANITIZE_ADDRESS__
        GTEST_SKIP() << "libfiu's preloaded library and AddressSanitizer do not run together";
#endif
        fiuRun = QStandardPaths::findExecutable(QStringLiteral("fiu-run"));
        fiuCtrl = QStandardPaths::findExecutable(QStringLiteral("fiu-ctrl"));
        if (fiuRun.isEmpty() || fiuCtrl.isEmpty())
            GTEST_SKIP() << "libfiu's fiu-run and fiu-ctrl are not installed (Debian fiu-utils)";
        ASSERT_TRUE(tree.isValid());
    }
    bool start()
    {
        process.setProcessEnvironment(tree.environment());
        process.setWorkingDirectory(tree.root());
        process.start(fiuRun, {"-x", "-f", control(), tree.program(), "-e"});
        return process.waitForStarted(5000);
    }
    // A fiu-ctrl command ("enable name=...") for the running program.
    bool fault(const char *command)
    {
        return QProcess::execute(fiuCtrl, {"-f", control(), "-c", QLatin1String(command),
                                           QString::number(process.processId())}) == 0;
    }
    QString control() const { return tree.root() + QStringLiteral("/fiu"); }

    QString fiuRun;
    QString fiuCtrl;
    InstallationTree tree;
    QProcess process;
    ProcessOutput err{process};
};

} // namespace

// EIO, then short writes, on every write() of the program for a while.
TEST_F(InjectedFileFaults, OutputWritesFailingWithEioKeepTheCycleAndLoseNothingWritten)
{
    const QString table = tree.dataPath("clock.txt");
    ASSERT_TRUE(configure(tree, table));

    // Every write() of the program fails with EIO while the fault is on:
    // the table's and the log's alike.
    ASSERT_TRUE(start());
    ASSERT_TRUE(waitFor([&] { return records(readFile(table)) >= 2; }, 20000)) << err.text().constData();
    ASSERT_TRUE(fault("enable name=posix/io/rw/write,failinfo=5"));
    const QByteArray before = readFile(table);
    const QString failure = cannotAppend(table, "Input/output error");
    EXPECT_TRUE(waitFor([&] { return err.text().contains(failure.toUtf8()); }, 20000)) << err.text().constData();
    QThread::msleep(2500); // more records fail meanwhile
    ASSERT_TRUE(fault("disable name=posix/io/rw/write"));
    EXPECT_TRUE(readFile(table).startsWith(before));
    EXPECT_TRUE(waitFor([&] { return records(readFile(table)) >= records(before) + 2; }, 20000));

    // Then writes that come out short, and half of them fail after a part
    // went out (a disk filling up): what went out of a record or a log line
    // is taken back.
    const int beforeShort = records(readFile(table));
    ASSERT_TRUE(fault("enable name=posix/io/rw/write/reduce"));
    ASSERT_TRUE(fault("enable_random name=posix/io/rw/write,probability=0.5,failinfo=28"));
    QThread::msleep(2500);
    ASSERT_TRUE(fault("disable name=posix/io/rw/write"));
    ASSERT_TRUE(fault("disable name=posix/io/rw/write/reduce"));
    EXPECT_TRUE(waitFor([&] { return records(readFile(table)) >= beforeShort + 2; }, 20000));

    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0) << err.text().constData();
    const QByteArray after = readFile(table);
    EXPECT_TRUE(after.startsWith(before));
    EXPECT_TRUE(wholeRecords(after)) << after.constData();
    // Once per streak, and the log lines of the streak were held, not lost.
    const QByteArray log = tree.readLog();
    EXPECT_EQ(log.count(failure.toUtf8()), 1) << log.constData();
    EXPECT_GE(log.count("TextFileOutTie::writeData(): file \"" + table.toUtf8() + "\" is written again\n"), 1);
    EXPECT_TRUE(wholeLogLines(log)) << log.constData();
    EXPECT_TRUE(log.endsWith("\tApplication was stopped\n")) << log.constData();
}

// Reads failing with EIO: a cut pass looked like the end of the input.
TEST_F(InjectedFileFaults, InputReadsFailingWithEioAreReportedOnceAndReadAgain)
{
    const QString input = tree.dataPath("input.txt");
    const QString table = tree.dataPath("table.txt");
    ASSERT_TRUE(replaceFile(input, "T1;12.5\n"));
    ASSERT_TRUE(configure(tree, table, input));
    ASSERT_TRUE(start());
    ASSERT_TRUE(waitFor([&] { return readFile(table).contains("T1;12.5;+\n"); }, 20000)) << err.text().constData();
    ASSERT_TRUE(fault("enable name=posix/io/rw/read,failinfo=5"));
    const QByteArray failure = "cannot read input file \"" + input.toUtf8() + "\" (Input/output error); its values "
                               "are read again at the next poll\n";
    EXPECT_TRUE(waitFor([&] { return err.text().contains(failure); }, 20000)) << err.text().constData();
    QThread::msleep(1500);
    ASSERT_TRUE(fault("disable name=posix/io/rw/read"));
    EXPECT_TRUE(waitFor([&] { return err.text().contains("input file \"" + input.toUtf8() + "\" is read again"); }, 20000))
        << err.text().constData();
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0) << err.text().constData();
    EXPECT_EQ(err.text().count(failure), 1) << err.text().constData();
}

TEST(FileFaults, FifoAtAnOutputPathStallsNeitherTheCycleNorTheStop)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString fifo = tree.dataPath("table.fifo");
    const QString table = tree.dataPath("clock.txt");
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {fifo}), 0);
    ASSERT_TRUE(configure(tree, fifo + ':' + table));
    QProcess process;
    tree.start(process, {});
    ASSERT_TRUE(process.waitForStarted(5000));
    // The other file gets every record while the FIFO is skipped.
    EXPECT_TRUE(waitFor([&] { return records(readFile(table)) >= 3; }, 20000)) << tree.readLog().constData();
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(wholeRecords(readFile(table)));
    EXPECT_EQ(tree.readLog().count(cannotAppend(fifo, "not a regular file").toUtf8()), 1) << tree.readLog().constData();
}

TEST(FileFaults, InputAndLogFilesRemovedOrReplacedWhileRunning)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString input = tree.dataPath("input.txt");
    const QString table = tree.dataPath("table.txt");
    ASSERT_TRUE(replaceFile(input, "T1;12.5\n"));
    ASSERT_TRUE(configure(tree, table, input));
    QProcess process;
    tree.start(process, {});
    ASSERT_TRUE(process.waitForStarted(5000));
    const auto tableShows = [&](const QByteArray &line) {
        return waitFor([&] { return readFile(table).contains(line); }, 20000);
    };
    ASSERT_TRUE(tableShows("T1;12.5;+\n")) << readFile(table).constData();

    // The log rotated away, the input replaced by a rename: the new values
    // are read, and the next log line starts a new log file.
    const QString rotated = tree.logPath("ferrox.log.1");
    ASSERT_TRUE(QFile::rename(tree.logPath(), rotated));
    ASSERT_TRUE(replaceFile(input, "T1;13.5\n"));
    EXPECT_TRUE(tableShows("T1;13.5;+\n")) << readFile(table).constData();

    // The input removed: said once, into the new log.
    ASSERT_TRUE(QFile::remove(input));
    const QByteArray missing = "Error opening file \"" + input.toUtf8() + "\" (No such file or directory)\n";
    EXPECT_TRUE(waitFor([&] { return tree.readLog().contains(missing); }, 20000)) << tree.readLog().constData();

    // The log removed, the input back: the recovery goes into a log made anew.
    ASSERT_TRUE(QFile::remove(tree.logPath()));
    ASSERT_TRUE(replaceFile(input, "T1;14.5\n"));
    EXPECT_TRUE(tableShows("T1;14.5;+\n")) << readFile(table).constData();
    const QByteArray readAgain = "input file \"" + input.toUtf8() + "\" is read again\n";
    EXPECT_TRUE(waitFor([&] { return tree.readLog().contains(readAgain); }, 20000)) << tree.readLog().constData();

    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(wholeRecords(readFile(table))) << readFile(table).constData();
    const QByteArray first = readFile(rotated);
    const QByteArray last = tree.readLog();
    EXPECT_TRUE(first.contains("\tApplication was started\n")) << first.constData();
    EXPECT_FALSE(first.contains(missing));
    EXPECT_TRUE(wholeLogLines(first)) << first.constData();
    EXPECT_TRUE(wholeLogLines(last)) << last.constData();
    EXPECT_TRUE(last.endsWith("\tApplication was stopped\n")) << last.constData();
}
