// The file links through the built program: a FIFO at the input path, and
// a table file on a disk that runs full.

#include "installationtree.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

// A program whose service clock goes into `table` every second, with a
// text file input reading `input`.
bool configure(const InstallationTree &tree, const QString &input, const QString &table)
{
    return tree.writeConfig("in.csv", "kks,index,type\nT1,1,FLOATVALID\n")
        && tree.writeConfig("clock.csv", "kks,index,type\n@CURRENT_DATETIME_UTC,1,SDWORD\n")
        && tree.writeConfig("ferrox.cfg",
                            "<config><misc><locale lang='en'/></misc><service/><textfilein>"
                            "<csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/><infile filename='"
                                + input.toUtf8() + "'/></textfilein><textfileout><csvlist file='clock.csv' kks='0' "
                                "index='1' type='2' direction='out'/><outfile filename='" + table.toUtf8()
                                + "'/></textfileout></config>");
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int records(const QByteArray &table)
{
    return table.count("@CURRENT_DATETIME_UTC;");
}

// True when `text` holds whole records only: a seconds line, then the clock's line.
bool wholeRecords(const QByteArray &text)
{
    static const QRegularExpression record(QStringLiteral("^(\\d+\\n@CURRENT_DATETIME_UTC;\\d+\\n)*$"));
    return record.match(QString::fromLatin1(text)).hasMatch();
}

// The log line of an append to `table` that failed with `reason`.
QByteArray appendFailure(const QString &table, const char *reason)
{
    return "TextFileOutTie::writeData(): cannot append to file \"" + table.toUtf8() + "\" (" + reason
        + "); the record is kept to be written later\n"; // the program runs in the C locale
}

// True when `table` still starts with `head` and holds whole records after it.
bool wholeRecordsAfter(const QString &table, const QByteArray &head)
{
    const QByteArray text = readFile(table);
    return text.startsWith(head) && wholeRecords(text.mid(head.size()));
}

} // namespace

TEST(FileLinks, FifoAtTheInputPathNeitherStopsTheCycleNorRepeatsItsWarning)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString input = tree.root() + "/input.fifo";
    const QString table = tree.root() + "/clock.txt";
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {input}), 0);
    ASSERT_TRUE(configure(tree, input, table));
    QProcess process;
    tree.start(process, {});
    ASSERT_TRUE(process.waitForStarted(5000));
    // A record every second, while the input is polled every tick.
    EXPECT_TRUE(waitFor([&] { return records(readFile(table)) >= 4; }, 20000)) << readFile(table).constData();
    EXPECT_EQ(process.state(), QProcess::Running);
    process.kill();
    process.waitForFinished(5000);

    const QByteArray warning = "Error opening file \"" + input.toUtf8() + "\" (not a regular file)\n";
    EXPECT_EQ(tree.readLog().count(warning), 1) << tree.readLog().constData();
    EXPECT_EQ(process.readAllStandardError().count(warning), 1);
}

TEST(FileLinks, FullDiskLeavesOnlyWholeRecordsAndTheKeptOnesFollow)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString disk = tree.root() + "/disk";
    ASSERT_TRUE(QDir().mkpath(disk));
    QProcess mount;
    mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=64k", "tmpfs", disk});
    if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0)
        GTEST_SKIP() << "a 64 KiB tmpfs cannot be mounted here (mount -t tmpfs needs root): "
                     << mount.readAllStandardError().constData() << qPrintable(mount.errorString());
    struct Unmount {
        QString dir;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {dir}); }
    } unmount{disk};

    // The table file's first page is all but full; the rest of the disk is taken.
    const QString table = disk + "/clock.txt";
    const QByteArray head(4096 - 100, '#');
    {
        QFile f(table);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(head) == head.size() && f.flush());
        f.close();
        QFile filler(disk + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    ASSERT_TRUE(configure(tree, tree.root() + "/input.txt", table));
    QProcess process;
    tree.start(process, {});
    ASSERT_TRUE(process.waitForStarted(5000));
    const QByteArray failure = appendFailure(table, "No space left on device");
    EXPECT_TRUE(waitFor([&] { return tree.readLog().contains(failure); }, 20000)) << tree.readLog().constData();
    QThread::msleep(2500); // more attempts on the full disk
    const QByteArray full = readFile(table);
    EXPECT_TRUE(wholeRecordsAfter(table, head)) << full.mid(head.size()).constData();

    ASSERT_TRUE(QFile::remove(disk + "/filler"));
    EXPECT_TRUE(waitFor([&] { return records(readFile(table)) >= records(full) + 2; }, 20000));
    process.kill();
    process.waitForFinished(5000);
    EXPECT_TRUE(wholeRecordsAfter(table, head)) << readFile(table).mid(head.size()).constData();
    EXPECT_EQ(tree.readLog().count(failure), 1) << tree.readLog().constData(); // once for the streak
    EXPECT_TRUE(tree.readLog().contains("TextFileOutTie::writeData(): file \"" + table.toUtf8() + "\" is written again"));
}

TEST(FileLinks, FileSizeLimitLeavesOnlyWholeRecordsAndKeepsTheGatewayRunning)
{
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    if (prlimit.isEmpty())
        GTEST_SKIP() << "prlimit (util-linux) is not installed";
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    // The table file all but reaches the size limit: the third record meets it part-way.
    const QString table = tree.dataPath("clock.txt");
    const QByteArray head(8192 - 100, '#');
    {
        QFile f(table);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(head) == head.size());
    }
    ASSERT_TRUE(configure(tree, tree.root() + "/input.txt", table));
    QProcess process;
    process.setProcessEnvironment(tree.environment());
    process.setWorkingDirectory(tree.root());
    process.start(prlimit, {"--fsize=8192", tree.program(), "-e"});
    ASSERT_TRUE(process.waitForStarted(5000));
    const QByteArray failure = appendFailure(table, "File too large");
    EXPECT_TRUE(waitFor([&] { return tree.readLog().contains(failure) || process.state() != QProcess::Running; },
                        20000))
        << tree.readLog().constData();
    QThread::msleep(2500); // more attempts at the limit
    EXPECT_EQ(process.state(), QProcess::Running) << "exit code " << process.exitCode();
    EXPECT_TRUE(wholeRecordsAfter(table, head)) << readFile(table).mid(head.size()).constData();
    EXPECT_EQ(tree.readLog().count(failure), 1) << tree.readLog().constData(); // once for the streak
}
