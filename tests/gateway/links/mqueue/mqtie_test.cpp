#include "app/warninglog.h"
#include "config/deftieunit.h"
#include "links/mqueue/mqconnection.h"
#include "links/mqueue/mqtie.h"

#include "gateway/links/mqueue/mqfixture.h"

#include <sys/resource.h>

namespace {

// The text of a refused open or send of queue `name` with error `errnum`.
QString failure(const char *what, const QString &name, int errnum)
{
    return QStringLiteral("%1 %2: %3 (%4)").arg(QLatin1String(what), name).arg(errnum).arg(mqErrorText(errnum));
}

// One tie reading queue `in` (connection `direction`) into a 40-byte and
// a 100-byte area: A1 and B1, words of their area's bytes.
struct MQTwoAreas : MQFixture {
    bool loadTwoAreas(const QString &in, const char *direction)
    {
        return load("<mqueue>" + area("a40.def", "in", "A\n40\nA1,type_longint,0,10,1,1\n")
                    + area("a100.def", "in", "B\n100\nB1,type_longint,0,25,1,1\n") + connection(in, direction)
                    + "</mqueue>");
    }
};

using MQRoundTrip = MQFixture;
using MQReceive = MQFixture;
using MQHeld = MQTwoAreas;
using MQSend = MQFixture;
using MQOpen = MQFixture;

// An area written into one tie's queue arrives as provider values, is
// converted into another tie's "out" area (records in another order) and
// goes to every writable queue of that tie, not to the one it only reads.
TEST_F(MQRoundTrip, AreaArrivesAsProvidersAndGoesToEveryWritableQueue)
{
    const QString in = queues.name("in"), out1 = queues.name("out1"), out2 = queues.name("out2"),
                  readOnly = queues.name("ro");
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"
                     + "<mqueue>" + area("out.def", "out", kPairSwapped) + connection(out1, "out")
                     + connection(readOnly, "in") + connection(out2, "both") + "</mqueue>"));
    ASSERT_TRUE(ScopedQueues::put(in, pair(21.5f, -7)));
    tick();

    EXPECT_EQ(tie(0)->state(), 0);
    EXPECT_EQ(unit(0, 0)->state(), 0);
    EXPECT_EQ(word<float>(provider("T1"), 0), 21.5f);
    EXPECT_TRUE(provider("T1")->isValid(0));
    EXPECT_EQ(word<qint32>(provider("N1"), 0), -7);
    const QByteArray expected = element(-7, 0) + element(21.5f, 1);
    EXPECT_EQ(ScopedQueues::takeAll(out1), QList<QByteArray>{expected});
    EXPECT_EQ(ScopedQueues::takeAll(out2), QList<QByteArray>{expected});
    EXPECT_TRUE(ScopedQueues::takeAll(readOnly).isEmpty());
    EXPECT_FALSE(unit(1, 0)->isDirty());

    const TieCounters &reader = tie(0)->counters();
    EXPECT_EQ(reader.unitsReceived, 1u);
    EXPECT_EQ(reader.framesIn, 1u);
    EXPECT_EQ(reader.bytesIn, 16u);
    EXPECT_EQ(reader.valuesReceived, 2u);
    const TieCounters &writer = tie(1)->counters();
    EXPECT_EQ(writer.unitsSent, 1u);
    EXPECT_EQ(writer.framesOut, 2u);
    EXPECT_EQ(writer.bytesOut, 32u);
    EXPECT_EQ(writer.messagesRefused, 0u);

    // Nothing new: nothing goes out again.
    tick();
    EXPECT_TRUE(ScopedQueues::takeAll(out1).isEmpty());
}

// One poll takes at most three messages, the area then holds the newest of
// them, and the rest waits for the next poll.
TEST_F(MQReceive, TakesThreePerPollAndTheNewestWins)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"));
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(ScopedQueues::put(in, pair(float(i), i)));
    tick();
    EXPECT_EQ(word<qint32>(provider("N1"), 0), 3);
    EXPECT_EQ(tie(0)->counters().unitsReceived, 1u);
    tick();
    EXPECT_EQ(word<qint32>(provider("N1"), 0), 5);
    EXPECT_EQ(tie(0)->counters().unitsReceived, 2u);
    tick();
    EXPECT_EQ(tie(0)->counters().unitsReceived, 2u);
    EXPECT_EQ(tie(0)->counters().framesIn, 5u);
}

// Messages of another length are dropped and counted; the fault is written
// once, not once per message.
TEST_F(MQReceive, DropsMessagesOfAnotherLengthAndReportsThemOnce)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"));
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray(12, 'x')));
    ASSERT_TRUE(ScopedQueues::put(in, pair(4.0f, 4)));
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray(12, 'y')));
    tick();
    EXPECT_EQ(word<qint32>(provider("N1"), 0), 4);
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray(8, 'z')));
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray()));
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray(12, 'z')));
    tick();
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray(8, 'z')));
    tick();

    EXPECT_EQ(tie(0)->counters().messagesDropped, 6u);
    EXPECT_EQ(tie(0)->counters().unitsReceived, 1u);
    // Whatever their lengths (the writer's to choose), the drops are one
    // line, then counted, not a line for every change of length.
    QStringList written;
    for (const QString &w : messages.warnings())
        if (w.contains("received"))
            written << w.mid(w.indexOf(") ") + 2);
    EXPECT_EQ(written, QStringList({"received 12 bytes instead 16"}));
    EXPECT_TRUE(log.contains("mqueue message of 12 bytes dropped: the area takes 16 bytes"));

    // A quiet minute ends the streak with its count; the next drop is told
    // with its own length.
    clock.advance(RepeatedMessage::DefaultQuietMs);
    tick();
    EXPECT_TRUE(log.contains("mqueue message of 12 bytes dropped: the area takes 16 bytes (repeated 5 times)"));
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray(8, 'w')));
    tick();
    EXPECT_TRUE(log.contains("mqueue message of 8 bytes dropped: the area takes 16 bytes"));
}

// Two "in" areas on one queue: each message reaches the area of its length,
// so the 40-byte writer and the 100-byte writer do not disturb each other.
TEST_F(MQHeld, RoutesMessagesByLengthToTheirUnits)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(loadTwoAreas(in, "in"));
    EXPECT_EQ(static_cast<BaseAreaTieUnit *>(unit(0, 1))->offset(), 40u);
    EXPECT_EQ(tie(0)->connections().first()->messageSize(), 100u);

    auto filled = [](int bytes, char c) { return QByteArray(bytes, c); };
    ASSERT_TRUE(ScopedQueues::put(in, filled(100, 1)));
    ASSERT_TRUE(ScopedQueues::put(in, filled(40, 2)));
    ASSERT_TRUE(ScopedQueues::put(in, filled(100, 3)));
    tick();
    EXPECT_EQ(word(provider("A1"), 0), 0x02020202u);
    EXPECT_EQ(word(provider("B1"), 0), 0x03030303u);
    EXPECT_EQ(tie(0)->counters().unitsReceived, 2u);
    EXPECT_EQ(tie(0)->counters().messagesDropped, 0u);

    // A burst for one unit: its fourth message waits, the other unit's
    // message behind it waits too, and neither is lost.
    for (char c = 10; c < 14; ++c)
        ASSERT_TRUE(ScopedQueues::put(in, filled(40, c)));
    ASSERT_TRUE(ScopedQueues::put(in, filled(100, 20)));
    tick();
    EXPECT_EQ(word(provider("A1"), 0), 0x0C0C0C0Cu);
    EXPECT_EQ(word(provider("B1"), 0), 0x03030303u);
    tick();
    EXPECT_EQ(word(provider("A1"), 0), 0x0D0D0D0Du);
    EXPECT_EQ(word(provider("B1"), 0), 0x14141414u);

    // A message held when the tie stops goes back into the queue, ahead of
    // one written after it.
    for (char c = 30; c < 34; ++c)
        ASSERT_TRUE(ScopedQueues::put(in, filled(40, c)));
    tick();
    ASSERT_TRUE(ScopedQueues::put(in, filled(40, 34)));
    tie(0)->drain();
    EXPECT_EQ(ScopedQueues::takeAll(in), (QList<QByteArray>{filled(40, 33), filled(40, 34)}));
}

// A message held on a queue that the other side removed and made again
// goes back into the new queue, not into the removed one that nobody reads.
TEST_F(MQHeld, AHeldMessageGoesBackIntoTheQueueMadeAgain)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(loadTwoAreas(in, "both"));
    for (char c = 30; c < 34; ++c)
        ASSERT_TRUE(ScopedQueues::put(in, QByteArray(40, c)));
    tick();
    ASSERT_EQ(::mq_unlink(in.toLocal8Bit().constData()), 0);
    ASSERT_TRUE(ScopedQueues::create(in, 10, 100));
    tie(0)->drain();
    EXPECT_EQ(ScopedQueues::takeAll(in), QList<QByteArray>{QByteArray(40, 33)});
}

// A reload while a message is held and the queue is full again: the
// successor takes the held message first; it was lost in the put-back.
TEST_F(MQHeld, AHeldMessageGoesToTheSuccessorWhenTheQueueIsFull)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(ScopedQueues::create(in, 4, 100));
    ASSERT_TRUE(loadTwoAreas(in, "in"));
    for (char c = 30; c < 34; ++c)
        ASSERT_TRUE(ScopedQueues::put(in, QByteArray(40, c)));
    tick();
    for (char c = 40; c < 44; ++c)
        ASSERT_TRUE(ScopedQueues::put(in, QByteArray(100, c)));
    GateConfig next;
    FerroxXmlConfig reloader{next, nullptr, ferroxSectionTable()};
    ASSERT_TRUE(reloader.loadConf(dir.filePath("ferrox.cfg")));
    config.replaceWith(next, &makeConverter);
    tick();
    EXPECT_EQ(word(provider("A1"), 0), 0x21212121u);
    EXPECT_EQ(word(provider("B1"), 0), 0x2A2A2A2Au);
    EXPECT_FALSE(log.contains("is lost"));
}

// An "in" and an "out" area on one tie, each with its queue: the usual
// exchange keeps the tie OK, so a switch reading its parameters sees them
// valid and opens.
TEST_F(MQReceive, InAndOutAreasOnOneTieKeepTheStateAtZero)
{
    const QString in = queues.name("in"), out = queues.name("out"), switched = queues.name("sw");
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + area("out.def", "out", "T\n8\nT1,type_rval,0,1,1,1\n")
                     + connection(in, "in") + connection(out, "out") + "</mqueue>"
                     + "<mqueue switchparam='T1' switchcondition='plus' switchtype='yes'>"
                     + area("n.def", "out", "N\n8\nN1,type_sival,0,1,1,1\n") + connection(switched, "out")
                     + "</mqueue>"));
    ASSERT_TRUE(ScopedQueues::put(in, pair(1.5f, 4)));
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(tie(0)->state(), 0);
    EXPECT_EQ(unit(0, 0)->state(), 0);
    EXPECT_TRUE(provider("T1")->isValid(0));
    EXPECT_EQ(ScopedQueues::takeAll(out), QList<QByteArray>{element(1.5f, 1)});
    EXPECT_EQ(ScopedQueues::takeAll(switched), QList<QByteArray>{element(4, 0)});
}

// A full queue refuses the unit: it stays dirty, the fault is written once,
// and the unit's newest area goes once there is room.
TEST_F(MQSend, FullQueueKeepsTheUnitDirtyUntilThereIsRoom)
{
    const QString in = queues.name("in"), out = queues.name("out");
    ASSERT_TRUE(ScopedQueues::create(out, 1, 64));
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"
                     + "<mqueue>" + area("out.def", "out", kPairSwapped) + connection(out, "out") + "</mqueue>"));
    ASSERT_TRUE(ScopedQueues::put(in, pair(1.0f, 1)));
    tick();
    ASSERT_TRUE(ScopedQueues::put(in, pair(2.0f, 2)));
    tick();
    tick();
    EXPECT_TRUE(unit(1, 0)->isDirty());
    EXPECT_EQ(tie(1)->counters().messagesRefused, 2u);
    EXPECT_EQ(tie(1)->counters().unitsSent, 1u);
    const QString full = failure("Error sending message by mqueue", out, EAGAIN);
    EXPECT_EQ(messages.count(full), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_TRUE(log.contains(full));
    EXPECT_TRUE(tie(1)->deliveryFailing());

    EXPECT_EQ(ScopedQueues::takeAll(out), QList<QByteArray>{element(1, 0) + element(1.0f, 1)});
    tick();
    EXPECT_FALSE(unit(1, 0)->isDirty());
    EXPECT_EQ(ScopedQueues::takeAll(out), QList<QByteArray>{element(2, 0) + element(2.0f, 1)});

    // A reader that only just keeps pace: the queue is full again at once,
    // still the same streak, with no recovery written between.
    const QString recovered = QStringLiteral("mqueue %1 takes messages again").arg(out);
    for (int i = 3; i <= 4; ++i) {
        ASSERT_TRUE(ScopedQueues::put(in, pair(float(i), i)));
        tick();
    }
    EXPECT_EQ(messages.count(full), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_FALSE(log.contains(recovered));
    // Once the queue took the rest, the fault ends after the quiet time,
    // also when nothing more is to be sent.
    ScopedQueues::takeAll(out);
    tick();
    EXPECT_FALSE(unit(1, 0)->isDirty());
    clock.advance(MQConnection::RecoveredAfterMs);
    tie(1)->sendDirty();
    EXPECT_TRUE(log.contains(recovered));
    EXPECT_FALSE(tie(1)->deliveryFailing());
}

// While one queue is full and another takes the unit, the unit stays dirty
// and goes again only to the full one; an update goes to both, even with
// the same values, and once there is room the full queue gets it too.
TEST_F(MQSend, AQueueThatRefusedGetsTheUpdateTheOthersTook)
{
    const QString in = queues.name("in"), full = queues.name("full"), roomy = queues.name("roomy");
    ASSERT_TRUE(ScopedQueues::create(full, 1, 64));
    ASSERT_TRUE(ScopedQueues::put(full, "x"));
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>" + "<mqueue>"
                     + area("out.def", "out", kPairSwapped) + connection(full, "out") + connection(roomy, "out")
                     + "</mqueue>"));
    const QByteArray sent = element(1, 0) + element(1.0f, 1);
    ASSERT_TRUE(ScopedQueues::put(in, pair(1.0f, 1)));
    tick();
    tick();
    EXPECT_TRUE(unit(1, 0)->isDirty());
    EXPECT_EQ(ScopedQueues::takeAll(roomy), QList<QByteArray>{sent});
    ASSERT_TRUE(ScopedQueues::put(in, pair(1.0f, 1)));
    tick();
    EXPECT_EQ(ScopedQueues::takeAll(roomy), QList<QByteArray>{sent});
    EXPECT_EQ(ScopedQueues::takeAll(full), QList<QByteArray>{"x"});
    tick();
    EXPECT_EQ(ScopedQueues::takeAll(full), QList<QByteArray>{sent});
    EXPECT_TRUE(ScopedQueues::takeAll(roomy).isEmpty());
    EXPECT_FALSE(unit(1, 0)->isDirty());
    EXPECT_EQ(tie(1)->counters().unitsSent, 2u);
}

// A queue made by the other side with a smaller message size: the unit
// that never fits is reported once, not reported and "recovered" on every
// tick by the unit beside it that fits.
TEST_F(MQSend, AUnitTooLongForTheQueueIsReportedOnceBesideOneThatFits)
{
    const QString in = queues.name("in"), out = queues.name("out");
    ASSERT_TRUE(ScopedQueues::create(out, 10, 8));
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"
                     + "<mqueue>" + area("small.def", "out", "S\n8\nT1,type_rval,0,1,1,1\n")
                     + area("out.def", "out", kPairSwapped) + connection(out, "out") + "</mqueue>"));
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(ScopedQueues::put(in, pair(float(i), i)));
        tick();
    }
    EXPECT_EQ(ScopedQueues::takeAll(out).size(), 4);
    const QString tooLong = QStringLiteral("Cannot send 16 bytes by mqueue %1: max message is 8").arg(out);
    EXPECT_EQ(messages.count(tooLong), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_FALSE(log.contains("takes messages again"));
}

// A closed switch sends nothing and keeps the units dirty; once it opens
// the newest area goes.
TEST_F(MQSend, ClosedSwitchKeepsUnitsDirtyAndSendsNothing)
{
    const QString in = queues.name("in"), out = queues.name("out");
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"
                     + "<mqueue switchparam='N1' switchcondition='plus' switchtype='yes'>"
                     + area("out.def", "out", "T\n8\nT1,type_rval,0,1,1,1\n") + connection(out, "out") + "</mqueue>"));
    ASSERT_TRUE(ScopedQueues::put(in, pair(5.0f, 0)));
    tick();
    tick();
    EXPECT_TRUE(unit(1, 0)->isDirty());
    EXPECT_TRUE(ScopedQueues::takeAll(out).isEmpty());
    EXPECT_EQ(tie(1)->counters().messagesRefused, 0u);

    ASSERT_TRUE(ScopedQueues::put(in, pair(6.0f, 1)));
    tick();
    EXPECT_EQ(ScopedQueues::takeAll(out), QList<QByteArray>{element(6.0f, 1)});
    EXPECT_FALSE(unit(1, 0)->isDirty());
}

// A queue that exists with larger messages than the area keeps its own
// attributes: messages are still received (no EMSGSIZE on every poll), and
// larger ones are dropped as of the wrong length.
TEST_F(MQOpen, ExistingQueueWithLargerMessagesIsRead)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(ScopedQueues::create(in, 4, 4096));
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"));
    EXPECT_EQ(tie(0)->connections().first()->queueMessageSize(), 4096u);
    ASSERT_TRUE(ScopedQueues::put(in, QByteArray(4096, 'x')));
    ASSERT_TRUE(ScopedQueues::put(in, pair(9.0f, 9)));
    tick();
    EXPECT_EQ(word<qint32>(provider("N1"), 0), 9);
    EXPECT_EQ(tie(0)->counters().messagesDropped, 1u);
}

// In the service every warning is also copied to the log: an event the tie
// writes to the log itself must land there once.
TEST_F(MQOpen, ExistingQueueWithSmallerMessagesIsLoggedOnceInTheService)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(ScopedQueues::create(in, 4, 8));
    const WarningLog::Scope service;
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"));
    tick();
    const QString text =
        QStringLiteral("mqueue %1 takes messages of at most 8 bytes, fewer than its largest area (16 bytes)").arg(in);
    EXPECT_EQ(log.lines().count(text), 1) << qPrintable(log.lines().join('\n'));
}

// A name without "/" is taken relative to the configuration directory,
// warned about at load, fails to open, and is reported closed once however
// often it is used or retried.
TEST_F(MQOpen, NameWithoutSlashWarnsFailsAndIsReportedClosed)
{
    const QString in = queues.name("in");
    ASSERT_TRUE(load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>"
                     + "<mqueue>" + area("out.def", "out", kPairSwapped)
                     + "<connection filename='plainname' direction='out'/></mqueue>"));
    const QString resolved = dir.filePath("plainname");
    expectReported(QStringLiteral("Warning loading config: POSIX queue names start with \"/\": mqueue \"plainname\" is "
                                  "taken as %1, which cannot be opened")
                       .arg(resolved));
    const QString refused = failure("Error opening mqueue", resolved, EACCES);
    EXPECT_EQ(messages.count(refused), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_TRUE(log.contains(refused));

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ScopedQueues::put(in, pair(float(i), i)));
        tick();
        clock.advance(MQConnection::RetryIntervalMs);
    }
    EXPECT_TRUE(unit(1, 0)->isDirty());
    EXPECT_EQ(messages.count(refused), 1);
    EXPECT_EQ(messages.count(QStringLiteral("Cannot send message by closed mqueue (%1)").arg(resolved)), 1);
    EXPECT_EQ(tie(1)->counters().messagesRefused, 3u);
}

// A queue that cannot be created at load (the per-user queue memory is
// used up) is opened on a later retry, not before the retry interval, and
// then carries messages; its failure is written once.
TEST_F(MQOpen, QueueThatFailsAtLoadOpensOnARetry)
{
    const QString in = queues.name("in");
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_MSGQUEUE, &saved), 0);
    struct rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_MSGQUEUE, &none), 0);
    const bool loaded = load("<mqueue>" + area("in.def", "in", kPair) + connection(in, "in") + "</mqueue>");
    tick();
    clock.advance(MQConnection::RetryIntervalMs);
    tick();
    ::setrlimit(RLIMIT_MSGQUEUE, &saved);
    ASSERT_TRUE(loaded);
    const QString refused = failure("Error opening mqueue", in, EMFILE);
    EXPECT_EQ(messages.count(refused), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_TRUE(log.contains(refused));
    EXPECT_EQ(messages.count(QStringLiteral("Cannot receive message from closed mqueue (%1)").arg(in)), 1);

    clock.advance(MQConnection::RetryIntervalMs - 1);
    tick();
    EXPECT_FALSE(ScopedQueues::exists(in));
    clock.advance(1);
    tick();
    ASSERT_TRUE(ScopedQueues::exists(in));
    EXPECT_TRUE(log.contains(QStringLiteral("mqueue %1 is open").arg(in)));
    ASSERT_TRUE(ScopedQueues::put(in, pair(3.0f, 3)));
    tick();
    EXPECT_EQ(word<qint32>(provider("N1"), 0), 3);
    EXPECT_EQ(tie(0)->state(), 0);
}

// The tie's memory follows the area size up to its bound, and slices are
// checked without overflow.
TEST(MQTieMemory, FollowsTheAreaSizeWithinItsBound)
{
    MQTie tie;
    auto *first = new DefTieUnit;
    first->defStruct().setAreaSize(40);
    auto *second = new DefTieUnit;
    second->defStruct().setAreaSize(100);
    tie.addUnit(first);
    tie.addUnit(second);
    EXPECT_EQ(tie.largestUnitSize(), 100u);
    ASSERT_EQ(tie.data(second), tie.data(first) + 40);
    EXPECT_EQ(tie.data(second)[99], 0);

    second->setOffset(~quint64(0) - 10);
    EXPECT_EQ(tie.data(second), nullptr);
    auto *huge = new DefTieUnit;
    huge->defStruct().setAreaSize(3000000000u);
    tie.addUnit(huge);
    EXPECT_FALSE(tie.memoryFits());
    EXPECT_EQ(tie.data(huge), nullptr);
    EXPECT_NE(tie.data(first), nullptr);
}

struct SectionError {
    const char *name;
    const char *body; // AREA: a valid "in" area; QUEUE: a valid queue
    const char *warning;
    const char *logLine; // null: the same as the warning
};

const char kAreasFirst[] =
    "Error loading config: one or more \"defarea\" tag should be at start of section \"mqueue\"";

const SectionError kErrors[] = {
    {"NoChildren", "<mqueue/>", kAreasFirst, nullptr},
    {"AreaAfterQueue", "<mqueue>AREA QUEUE AREA</mqueue>", kAreasFirst, nullptr},
    {"QueueFirst", "<mqueue>QUEUE AREA</mqueue>",
     "Error loading config: a \"connection\" tag should be just after \"defarea\" in section \"mqueue\"", nullptr},
    {"NoQueue", "<mqueue>AREA</mqueue>",
     "Error loading config: one or more \"connection\" tags should be just after \"defarea\" in section \"mqueue\"",
     nullptr},
    {"EmptyQueueName", "<mqueue>AREA<connection filename='' direction='in'/></mqueue>",
     "Error loading config: a \"filename\" attribute should be defined for tag \"connection\"", nullptr},
    {"MissingArea", "<mqueue><defarea file='absent.def' direction='in'/>QUEUE</mqueue>",
     "Error loading config: Error loading defarea for section ",
     "Error loading config: Error parsing defarea for section "},
    {"SameSizeInAreas", "<mqueue>AREA<defarea file='same.def' direction='both'/>QUEUE</mqueue>",
     "Error loading config: \"defarea\" in.def and same.def of section \"mqueue\" are both read and both take 16 "
     "bytes: their messages could not be told apart",
     nullptr},
    {"HugeArea", "<mqueue><defarea file='huge.def' direction='out'/>QUEUE</mqueue>",
     "Error loading config: \"defarea\" huge.def of section \"mqueue\" takes 3000000000 bytes, more than a queue "
     "message carries (16777216 bytes)",
     nullptr},
    {"UnknownSwitchParam", "<mqueue switchparam='NOPE'>AREA QUEUE</mqueue>",
     "Error loading config: error parsing \"switchparam\" tag of section \"mqueue\"", nullptr},
    {"BadTimeout", "<mqueue timeout='-1'>AREA QUEUE</mqueue>",
     "Error loading config: attribute \"timeout\" of \"mqueue\" is \"-1\", not a whole number from 0 to 4294967295",
     nullptr},
};

void PrintTo(const SectionError &row, std::ostream *os)
{
    *os << row.name;
}

struct MQSectionErrors : MQFixture, ::testing::WithParamInterface<SectionError> {
};

// Every malformed section fails the load with its message on both channels
// and opens no queue.
TEST_P(MQSectionErrors, FailTheLoad)
{
    const QString name = queues.name("q");
    write("in.def", kPair);
    write("same.def", kPairSwapped);
    write("huge.def", "HUGE\n3000000000\nX,type_float,0,1,1,1\n");
    QByteArray body = GetParam().body;
    body.replace("AREA", "<defarea file='in.def' direction='in'/>");
    body.replace("QUEUE", connection(name, "in"));
    EXPECT_FALSE(load(body));
    EXPECT_TRUE(messages.warnings().contains(GetParam().warning)) << qPrintable(messages.texts().join('\n'));
    const char *logLine = GetParam().logLine ? GetParam().logLine : GetParam().warning;
    EXPECT_TRUE(log.contains(logLine)) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(config.ties().isEmpty());
    EXPECT_FALSE(ScopedQueues::exists(name));
}

INSTANTIATE_TEST_SUITE_P(Rows, MQSectionErrors, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<SectionError> &info) {
                             return std::string(info.param.name);
                         });

} // namespace

// Two ties reading one queue split its messages between them, each taking
// the other's areas for its own, without a word.
TEST_F(MQOpen, TwoSectionsReadingOneQueueAreWarnedAbout)
{
    const QString in = queues.name("in");
    const QString more = queues.name("more");
    ASSERT_TRUE(load("<mqueue>" + area("a.def", "in", kPair) + connection(in, "in") + "</mqueue><mqueue>"
                     + area("b.def", "in", kPair) + connection(in, "in") + connection(more, "both")
                     + "</mqueue>"));
    EXPECT_TRUE(messages.warnings().contains("Warning loading config file: reading mqueue " + in
                                             + " is claimed by more than one section"))
        << qPrintable(messages.warnings().join('\n'));
    // Only a section's first queue is read.
    EXPECT_TRUE(messages.containsPart(more + "\" is not the section's first queue"));
}
