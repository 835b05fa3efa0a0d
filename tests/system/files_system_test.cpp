// The file links through the built program: input paths that are not
// regular files, and output files on a disk that runs full.

#include "installationtree.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// A service clock whose current second goes into a table file every second,
// and a text file input reading `input`.
QByteArray clockConfig(const QString &input, const QString &table)
{
    return "<config><misc><locale lang='en'/></misc><service/>"
           "<textfilein id='in'><csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/>"
           "<infile filename='" + input.toUtf8() + "'/></textfilein>"
           "<textfileout id='clock'><csvlist file='clock.csv' kks='0' index='1' type='2' direction='out'/>"
           "<outfile filename='" + table.toUtf8() + "'/></textfileout></config>";
}

bool writeLists(const InstallationTree &tree)
{
    return tree.writeConfig("in.csv", "kks,index,type\nT1,1,FLOATVALID\n")
        && tree.writeConfig("clock.csv", "kks,index,type\n@CURRENT_DATETIME_UTC,1,SDWORD\n");
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The records of a table file: a seconds line and the clock's line each.
int countRecords(const QByteArray &text)
{
    return text.count("@CURRENT_DATETIME_UTC;");
}

// True when `text` holds whole records only: each a seconds line, then the
// clock's line, each line ended.
bool wholeRecords(const QByteArray &text)
{
    static const QRegularExpression record(QStringLiteral("^(\\d+\\n@CURRENT_DATETIME_UTC;\\d+\\n)*$"));
    return record.match(QString::fromLatin1(text)).hasMatch();
}

// Stops the program (it runs in the foreground and is not controlled).
void stop(QProcess &process)
{
    process.kill();
    process.waitForFinished(5000);
}

// A tmpfs of `size` mounted on a directory for the lifetime of the object.
class ScopedTmpfs
{
public:
    ScopedTmpfs(const QString &dir, const QString &size) : m_dir(dir)
    {
        QProcess mount;
        mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", dir});
        m_mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
        m_error = QString::fromLocal8Bit(mount.readAllStandardError()).trimmed();
        if (m_error.isEmpty())
            m_error = mount.errorString();
    }
    ~ScopedTmpfs()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_dir});
    }
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }

private:
    QString m_dir;
    bool m_mounted;
    QString m_error;
};

} // namespace

TEST(FileLinks, FifoAtTheInputPathNeitherStopsTheCycleNorRepeatsItsWarning)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString input = tree.root() + "/input.fifo";
    const QString table = tree.root() + "/clock.txt";
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {input}), 0);
    ASSERT_TRUE(writeLists(tree));
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", clockConfig(input, table)));

    QProcess process;
    tree.start(process, {});
    ASSERT_TRUE(process.waitForStarted(5000));
    // The cycle goes on: a record every second, while the input is polled every tick.
    EXPECT_TRUE(waitFor([&] { return countRecords(readFile(table)) >= 4; }, 20000)) << readFile(table).constData();
    EXPECT_EQ(process.state(), QProcess::Running);
    stop(process);

    const QByteArray warning = "TextFileInTie::pollAndConvert() Error opening file \"" + input.toUtf8()
        + "\" (not a regular file)";
    EXPECT_EQ(tree.readLog().count(warning + "\n"), 1) << tree.readLog().constData();
    EXPECT_EQ(process.readAllStandardError().count(warning + "\n"), 1);
}

TEST(FileLinks, FullDiskLeavesOnlyWholeRecordsAndTheKeptOnesFollow)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString disk = tree.root() + "/disk";
    ASSERT_TRUE(QDir().mkpath(disk));
    ScopedTmpfs tmpfs(disk, "64k");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "a 64 KiB tmpfs cannot be mounted here (mount -t tmpfs needs root): "
                     << qPrintable(tmpfs.error());

    // The table file's first page is all but full; the rest of the disk is taken.
    const QString table = disk + "/clock.txt";
    const QByteArray head = QByteArray(4096 - 100, '#');
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
    ASSERT_TRUE(writeLists(tree));
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", clockConfig(tree.root() + "/input.txt", table)));

    QProcess process;
    tree.start(process, {});
    ASSERT_TRUE(process.waitForStarted(5000));
    const QByteArray failure = "TextFileOutTie::writeData(): cannot append to file \"" + table.toUtf8() + "\"";
    EXPECT_TRUE(waitFor([&] { return tree.readLog().contains(failure); }, 20000)) << tree.readLog().constData();
    // Some more attempts on the full disk.
    QThread::msleep(2500);
    const QByteArray full = readFile(table);
    EXPECT_TRUE(full.startsWith(head));
    EXPECT_TRUE(wholeRecords(full.mid(head.size()))) << full.mid(head.size()).constData();

    ASSERT_TRUE(QFile::remove(disk + "/filler"));
    const int before = countRecords(full);
    EXPECT_TRUE(waitFor([&] { return countRecords(readFile(table)) >= before + 2; }, 20000));
    stop(process);

    const QByteArray text = readFile(table).mid(head.size());
    EXPECT_TRUE(wholeRecords(text)) << text.constData();
    // Once for the streak (and a summary of the repeats when it ended); the
    // program runs in the C locale.
    const QByteArray log = tree.readLog();
    EXPECT_EQ(log.count(failure + " (No space left on device); the record is kept to be written later\n"), 1)
        << log.constData();
    EXPECT_TRUE(log.contains("TextFileOutTie::writeData(): file \"" + table.toUtf8() + "\" is written again"));
}
