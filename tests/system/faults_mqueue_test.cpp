// Queue faults through the running program: a reader that stops (its queue
// runs full), and queues removed while the program has them open, as a
// peer does that removes and creates its queue anew when it restarts.

#include "faultsupport.h"

#include <QDateTime>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <mqueue.h>
#include <unistd.h>

#include <cstring>

namespace {

// A queue name of this test, unique on the machine, removed afterwards.
struct TestQueue {
    QByteArray name;
    explicit TestQueue(const char *tag) : name("/ferrox-faults-" + QByteArray::number(::getpid()) + '-' + tag) {}
    ~TestQueue() { ::mq_unlink(name.constData()); }
    QByteArray configName() const { return name; }
};

// Opens `name` (creating it with room for `maxMessages` of 8 bytes).
mqd_t openQueue(const QByteArray &name, int access, long maxMessages = 10)
{
    struct mq_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.mq_maxmsg = maxMessages;
    attr.mq_msgsize = 8;
    return ::mq_open(name.constData(), access | O_CREAT | O_NONBLOCK, 0600, &attr);
}

// Waits (bounded) for one 8-byte message.
bool receive(mqd_t queue, QByteArray &message, int msecs)
{
    char buffer[8192];
    return waitFor(
        [&] {
            const ssize_t got = ::mq_receive(queue, buffer, sizeof buffer, nullptr);
            if (got < 0)
                return false;
            message = QByteArray(buffer, static_cast<int>(got));
            return true;
        },
        msecs);
}

QByteArray floatValid(float value)
{
    QByteArray area(8, '\0');
    const quint32 valid = 1;
    std::memcpy(area.data(), &value, 4);
    std::memcpy(area.data() + 4, &valid, 4);
    return area;
}

float floatOf(const QByteArray &area)
{
    float value = 0;
    if (area.size() >= 4)
        std::memcpy(&value, area.constData(), 4);
    return value;
}

qint32 secondsOf(const QByteArray &timespec)
{
    qint32 seconds = 0;
    if (timespec.size() >= 4)
        std::memcpy(&seconds, timespec.constData(), 4);
    return seconds;
}

} // namespace

// The program's clock goes to a queue whose reader stops: the queue fills,
// the fault is reported once for the whole streak, the cycle goes on, and
// once the reader is back it gets what waited in the queue, in order, and
// then the newest value.
TEST(QueueFaults, ReaderThatStopsCostsNeitherTheCycleNorWhatTheQueueHolds)
{
    TestQueue queue("clock");
    const mqd_t reader = openQueue(queue.name, O_RDONLY, 2);
    ASSERT_NE(reader, static_cast<mqd_t>(-1)) << std::strerror(errno);
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const QString table = tree.root() + "/clock.txt";
    ASSERT_TRUE(tree.writeConfig("out.def", "OUT\n8\n@CURRENT_TIMESPEC,type_timespec,0,1,1,1\n"));
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><misc><locale lang='en'/></misc><service/>"
                                               "<mqueue><defarea file='out.def' direction='out'/><connection filename='"
                                                   + queue.configName() + "' direction='out'/></mqueue>"
                                                   + clockTableSection(tree, table) + "</config>"));
    QProcess program;
    tree.start(program, {});
    ASSERT_TRUE(program.waitForStarted(5000));

    const QByteArray full = "Error sending message by mqueue " + queue.name + ": 11 (";
    ASSERT_TRUE(waitFor([&] { return tree.readLog().contains(full); }, 20000)) << tree.readLog().constData();
    const int recordsWhenFull = clockRecords(readFile(table));
    QThread::msleep(3000); // six more ticks against the full queue
    EXPECT_GE(clockRecords(readFile(table)), recordsWhenFull + 2) << "the cycle stalled";
    EXPECT_EQ(tree.readLog().count(full), 1) << tree.readLog().constData();

    QByteArray first, second, newest;
    ASSERT_TRUE(receive(reader, first, 1000));
    ASSERT_TRUE(receive(reader, second, 1000));
    const qint32 drained = static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
    ASSERT_TRUE(receive(reader, newest, 5000));
    EXPECT_LE(secondsOf(first), secondsOf(second));
    EXPECT_LT(secondsOf(second), drained - 2) << "the queue held the values from before the streak";
    EXPECT_GE(secondsOf(newest), drained - 1) << "the first value after the streak is the newest";
    // Counted as recovered once it took messages and refused none for 10 s.
    QByteArray more;
    EXPECT_TRUE(waitFor(
        [&] {
            while (receive(reader, more, 0)) {
            }
            return tree.readLog().contains("mqueue " + queue.name + " takes messages again");
        },
        15000));
    EXPECT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(5000);
    ::mq_close(reader);
}

// Both peers remove their queues and make new ones under the same names:
// the program notices, opens the names again, and the next value travels
// through the new queues.
TEST(QueueFaults, QueuesRemovedWhileOpenAreOpenedAgainUnderTheirNames)
{
    TestQueue in("in");
    TestQueue out("out");
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("value.def", "AREA\n8\nT1,type_rval,0,1,1,1\n"));
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><misc><locale lang='en'/></misc>"
                                               "<mqueue><defarea file='value.def' direction='in'/><connection filename='"
                                                   + in.configName()
                                                   + "' direction='in'/></mqueue><mqueue><defarea file='value.def' "
                                                     "direction='out'/><connection filename='"
                                                   + out.configName() + "' direction='out'/></mqueue></config>"));
    QProcess program;
    tree.start(program, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return tree.readLog().contains("\tApplication was started"); }, 15000))
        << program.readAllStandardError().constData();

    mqd_t writer = openQueue(in.name, O_WRONLY);
    mqd_t reader = openQueue(out.name, O_RDONLY);
    ASSERT_EQ(::mq_send(writer, floatValid(1.5f).constData(), 8, 0), 0);
    QByteArray area;
    ASSERT_TRUE(receive(reader, area, 5000));
    EXPECT_EQ(floatOf(area), 1.5f);

    ::mq_close(writer);
    ::mq_close(reader);
    ::mq_unlink(in.name.constData());
    ::mq_unlink(out.name.constData());
    writer = openQueue(in.name, O_WRONLY);
    reader = openQueue(out.name, O_RDONLY);
    ASSERT_EQ(::mq_send(writer, floatValid(2.5f).constData(), 8, 0), 0);
    ASSERT_TRUE(receive(reader, area, 10000)) << tree.readLog().constData();
    EXPECT_EQ(floatOf(area), 2.5f);
    for (const QByteArray &name : {in.name, out.name})
        EXPECT_EQ(tree.readLog().count("mqueue " + name + " was removed while open; it is opened again under its name"),
                  1)
            << tree.readLog().constData();
    EXPECT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(5000);
    ::mq_close(writer);
    ::mq_close(reader);
}
