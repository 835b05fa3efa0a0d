#include "links/files/plottextfileouttie.h"
#include "links/files/textfileintie.h"
#include "links/files/textfileouttie.h"

#include "gateway/links/files/filesfixture.h"
#include "support/scopedtimezone.h"

#include <QDir>
#include <QLocale>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

// T1 (with RTM R1 and IID I1), T2 and T4 (with ExtID X4) of the input list as consumers.
constexpr const char *kOutputList = "index,type,extid,rtm,iid,kks\n"
                                    "1,FLOATVALID,,R1,I1,T1\n"
                                    "2,SDWORDSTATE,,,,T2\n"
                                    "4,SDWORDVALID,X4,,,T4\n";

struct TextFileOut : FilesFixture {
    QByteArray outputList(const QString &name = "out.csv") const
    {
        write(name, kOutputList);
        return "<csvlist file='" + name.toUtf8() + "' index='0' type='1' extid='2' rtm='3' iid='4' kks='5' direction='out'/>";
    }
    QByteArray outFile(const QString &names = "out_%1.txt", const QByteArray &more = QByteArray()) const
    {
        QStringList paths;
        for (const QString &n : names.split(':'))
            paths << path(n);
        return "<outfile filename='" + paths.join(':').toUtf8() + "' " + more + "/>";
    }
    // An input tie (with a long data timeout, so that its units stay fresh
    // while a test stops its file) and a text output tie.
    bool loadOutput(const QByteArray &attributes = QByteArray(), const QByteArray &outfile = QByteArray())
    {
        return load(inputSection("timeout='600000'") + "<textfileout id='out' " + attributes + ">" + outputList()
                    + (outfile.isEmpty() ? outFile() : outfile) + "</textfileout>");
    }
    TextFileOutTie *out() const { return tie<TextFileOutTie>(1); }
    // Moves the clock and runs one tick.
    void tickAt(const QDateTime &dt)
    {
        clock.set(dt);
        tick();
    }
    // Stops the input: no more conversions from it.
    void stopInput() { QFile::remove(path("values.txt")); }
};

} // namespace

TEST_F(TextFileOut, DefaultColumnsAreIdAndValueAfterTheSecondsLine)
{
    ASSERT_TRUE(loadOutput());
    writeText("values.txt", "T1;12.5\nT2;abc\nT4;0\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;12.5\nX4;0\n")); // invalid T2 left out
    EXPECT_EQ(out()->lastWritten(), clock.now());
    EXPECT_FALSE(out()->units().at(0)->isDirty());
    EXPECT_EQ(out()->state(), 0);
}

TEST_F(TextFileOut, KksValueAndValidityColumnsWithInvalidParametersWritten)
{
    ASSERT_TRUE(loadOutput("outfields='kks, value, validity' writeinvalid='yes' defvalidstring='ok' "
                           "definvalidstring='bad'"));
    writeText("values.txt", "T1;12.5\nT2;abc\nT4;3\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;12.5;ok\nT2;0;bad\nT4;3;ok\n"));
}

TEST_F(TextFileOut, ValidityTextsDefaultToPlusAndMinus)
{
    ASSERT_TRUE(loadOutput("outfields='kks value validity' writeinvalid='1'"));
    writeText("values.txt", "T1;1\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1;+\nT2;-1;-\nT4;-1;-\n"));
}

TEST_F(TextFileOut, OutfieldsOfUnknownWordsFallBackToIdentifierAndValue)
{
    ASSERT_TRUE(loadOutput("outfields='colour, smell'"));
    writeText("values.txt", "T1;2\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;2\n"));
}

TEST_F(TextFileOut, EveryColumnKindInOneLine)
{
    ASSERT_TRUE(loadOutput("outfields='none,id,iid,kks,rtm,extid,value,validity,validitycode'"));
    writeText("values.txt", "T1;2.5\nT4;-4\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\n"
                                                          ";T1;I1;T1;R1;;2.5;+;1\n"
                                                          ";X4;;T4;;X4;-4;+;1\n"));
}

TEST_F(TextFileOut, TextHoldingTheDelimiterIsQuoted)
{
    ASSERT_TRUE(loadOutput("outfields='kks value validity' defvalidstring='a;b'"));
    writeText("values.txt", "T1;1\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1;\"a;b\"\n"));
}

TEST_F(TextFileOut, UpdatesWithinTheIntervalGiveNoRecordUntilItHasPassed)
{
    // Records are told apart by their second: an interval of 0 still gives
    // one record per second, never two with the same seconds line.
    ASSERT_TRUE(load(inputSection() + "<textfileout>" + outputList() + outFile("one.txt")
                     + "</textfileout><textfileout minwriteinterval='0'>" + outputList() + outFile("zero.txt")
                     + "</textfileout>"));
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    for (int i = 0; i <= 4; ++i)
        tickAt(t0.addMSecs(500 * i)); // converted on every tick
    EXPECT_EQ(readText("one.txt"), QByteArray("43200\nT1;1\n43201\nT1;1\n43202\nT1;1\n"));
    EXPECT_EQ(readText("zero.txt"), readText("one.txt"));
}

TEST_F(TextFileOut, PendingRecordIsWrittenOnceTheIntervalHasPassed)
{
    ASSERT_TRUE(loadOutput("minwriteinterval='5'"));
    EXPECT_EQ(out()->minWriteInterval(), 5u);
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    writeText("values.txt", "T1;2\n");
    tickAt(t0.addSecs(1)); // converted, not yet due
    stopInput();
    for (int s = 2; s <= 4; ++s)
        tickAt(t0.addSecs(s));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
    EXPECT_TRUE(out()->units().at(0)->isDirty());
    tickAt(t0.addSecs(5)); // due now, although nothing new arrived
    for (int s = 6; s <= 12; ++s)
        tickAt(t0.addSecs(s));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n43201\nT1;2\n"));
    EXPECT_FALSE(out()->units().at(0)->isDirty());

    // After the last send pass (a stop), the record still owed is written.
    writeText("values.txt", "T1;3\n");
    tickAt(t0.addSecs(13));
    writeText("values.txt", "T1;4\n");
    tickAt(t0.addSecs(14));
    ASSERT_TRUE(out()->units().at(0)->isDirty());
    out()->drain();
    EXPECT_EQ(readText("out_2024-05-01.txt"),
              QByteArray("43200\nT1;1\n43201\nT1;2\n43213\nT1;3\n43214\nT1;4\n"));
    EXPECT_FALSE(out()->units().at(0)->isDirty());
}

TEST_F(TextFileOut, ValueUpdatedLaterInTheSecondOfARecordGoesIntoTheNextSecond)
{
    // Taken for written by its second alone, the second value was lost
    // until some later update came.
    ASSERT_TRUE(loadOutput());
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    writeText("values.txt", "T1;2\n");
    tickAt(t0.addMSecs(500));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
    EXPECT_TRUE(out()->units().at(0)->isDirty());
    stopInput();
    tickAt(t0.addMSecs(1100));
    tickAt(t0.addMSecs(1600));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n43201\nT1;2\n"));
    EXPECT_FALSE(out()->units().at(0)->isDirty());

    // A drain (a stop, a reload's hand over) writes an owed record into the
    // next second at once, ahead of the clock: a value updated after it, in
    // the clock's second, was taken for written in it.
    writeText("values.txt", "T1;3\n");
    tickAt(t0.addMSecs(1700));
    out()->drain();
    writeText("values.txt", "T1;4\n");
    tickAt(t0.addMSecs(1900));
    stopInput();
    tickAt(t0.addMSecs(3100));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n43201\nT1;2\n43202\nT1;3\n43203\nT1;4\n"));
    EXPECT_FALSE(out()->units().at(0)->isDirty());
}

// The clock stepped back an hour: the record written before it held back
// every update (and dropped it) until the clock caught up.
TEST_F(TextFileOut, RecordsGoOnAfterTheClockStepsBack)
{
    ASSERT_TRUE(loadOutput());
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    writeText("values.txt", "T1;2\n");
    tickAt(t0.addMSecs(500)); // pending for the next second
    stopInput();
    const QDateTime back = t0.addSecs(-3600);
    tickAt(back);
    tickAt(back.addSecs(1)); // written once, not again every second
    writeText("values.txt", "T1;3\n");
    tickAt(back.addSecs(2));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n39600\nT1;2\n39602\nT1;3\n"));
    EXPECT_FALSE(out()->units().at(0)->isDirty());
}

TEST_F(TextFileOut, TwoUnitsUpdatedInOneTickGiveOneRecord)
{
    ASSERT_TRUE(load(inputSection() + "<textfileout>" + outputList("a.csv") + outputList("b.csv") + outFile()
                     + "</textfileout>"));
    writeText("values.txt", "T1;1\nT4;4\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\nX4;4\nT1;1\nX4;4\n"));
    EXPECT_FALSE(out()->units().at(0)->isDirty());
    EXPECT_FALSE(out()->units().at(1)->isDirty());
}

TEST_F(TextFileOut, SyncByTimePointWritesThreeSecondsAfterTheLastUpdate)
{
    ASSERT_TRUE(loadOutput("syncbytimepoint='true'"));
    EXPECT_TRUE(out()->syncByTimePoint());
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    stopInput();
    tickAt(t0.addSecs(1));
    tickAt(t0.addSecs(3));
    EXPECT_FALSE(exists("out_2024-05-01.txt"));
    tickAt(t0.addMSecs(3500));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
    tickAt(t0.addSecs(10));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
}

TEST_F(TextFileOut, SyncByTimePointWritesThePreviousRecordBeforeNewerValuesArrive)
{
    ASSERT_TRUE(loadOutput("syncbytimepoint='yes'"));
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    tickAt(t0.addMSecs(500)); // same second: the values still belong to the open record
    EXPECT_FALSE(exists("out_2024-05-01.txt"));
    writeText("values.txt", "T1;2\n");
    tickAt(t0.addSecs(1));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
    EXPECT_FLOAT_EQ(floatValue(out()->units().at(0)->params().at(0)), 2.0f);
}

TEST_F(TextFileOut, DailyFilesFollowTheRecordDateAcrossMidnight)
{
    ASSERT_TRUE(loadOutput());
    writeText("values.txt", "T1;1\n");
    tickAt(utc(2024, 5, 1, 23, 59, 59));
    tickAt(utc(2024, 5, 2, 0, 0, 1));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("86399\nT1;1\n"));
    EXPECT_EQ(readText("out_2024-05-02.txt"), QByteArray("1\nT1;1\n"));
}

TEST_F(TextFileOut, LocalZoneStampsAndNamesRecordsInLocalTime)
{
    ScopedTimeZone zone("XXX-3");
    ASSERT_TRUE(loadOutput(QByteArray(), outFile("out_%1.txt", "zone='Local'")));
    EXPECT_FALSE(out()->zoneUtc());
    writeText("values.txt", "T1;1\n");
    tickAt(utc(2024, 5, 1, 22, 30, 0)); // 01:30 on 2 May in UTC+3
    EXPECT_EQ(readText("out_2024-05-02.txt"), QByteArray("5400\nT1;1\n"));
    EXPECT_FALSE(exists("out_2024-05-01.txt"));
}

TEST_F(TextFileOut, UtcZoneIgnoresTheLocalZone)
{
    ScopedTimeZone zone("XXX-3");
    ASSERT_TRUE(loadOutput(QByteArray(), outFile("out_%1.txt", "zone='utc'")));
    writeText("values.txt", "T1;1\n");
    tickAt(utc(2024, 5, 1, 22, 30, 0));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("81000\nT1;1\n"));
}

TEST_F(TextFileOut, DateFormsForTheFileName)
{
    ASSERT_TRUE(load(inputSection() + "<textfileout>" + outputList() + outFile("p_%1.txt", "date='yyyyMMdd'")
                     + "</textfileout><textfileout>" + outputList() + outFile("t_%1.txt", "date='TextDate'")
                     + "</textfileout><textfileout>" + outputList() + outFile("l_%1.txt", "date='localdate'")
                     + "</textfileout><textfileout>" + outputList() + outFile("plain.txt") + "</textfileout>"));
    writeText("values.txt", "T1;1\n");
    tick();
    EXPECT_TRUE(exists("p_20240501.txt"));
    EXPECT_TRUE(exists("t_Wed May 1 2024.txt"));
    QString local = QLocale::system().toString(QDate(2024, 5, 1), QLocale::ShortFormat);
    local.replace('/', '-');
    EXPECT_TRUE(exists("l_" + local + ".txt")) << qPrintable(QDir(dir.path()).entryList().join(' '));
    EXPECT_TRUE(exists("plain.txt"));
    EXPECT_EQ(tie<TextFileOutTie>(1)->datePattern(), QStringLiteral("yyyyMMdd"));
    EXPECT_EQ(tie<TextFileOutTie>(2)->datePattern(), QString());
    EXPECT_EQ(tie<TextFileOutTie>(2)->dateKind(), BaseFileOutTie::dkText);
    EXPECT_EQ(tie<TextFileOutTie>(4)->dateKind(), BaseFileOutTie::dkIso);
}

TEST_F(TextFileOut, EveryRecordGoesToEveryFile)
{
    ASSERT_TRUE(loadOutput(QByteArray(), outFile("a_%1.txt:b.txt")));
    writeText("values.txt", "T1;1\n");
    tick();
    EXPECT_EQ(readText("a_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
    EXPECT_EQ(readText("b.txt"), QByteArray("43200\nT1;1\n"));
}

TEST_F(TextFileOut, UnwritableFileGetsTheRecordLaterAndTheOthersGetItOnce)
{
    ASSERT_TRUE(loadOutput(QByteArray(), outFile("a.txt:sub/b.txt")));
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    stopInput();
    EXPECT_EQ(readText("a.txt"), QByteArray("43200\nT1;1\n"));
    EXPECT_FALSE(exists("sub/b.txt"));
    tickAt(t0.addSecs(1));
    tickAt(t0.addSecs(2));
    // Warned and logged once for the streak of failures, not on every attempt.
    const QString failure = "TextFileOutTie::writeData(): cannot append to file \"" + path("sub/b.txt") + "\" ("
        + QString::fromLocal8Bit(std::strerror(ENOENT)) + "); the record is kept to be written later";
    EXPECT_EQ(messages.warnings().count(failure), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(log.lines().count(failure), 1);
    EXPECT_TRUE(out()->units().at(0)->isDirty());
    EXPECT_TRUE(out()->deliveryFailing());

    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    tickAt(t0.addSecs(3));
    EXPECT_EQ(readText("sub/b.txt"), QByteArray("43200\nT1;1\n"));
    EXPECT_EQ(readText("a.txt"), QByteArray("43200\nT1;1\n"));
    EXPECT_FALSE(out()->units().at(0)->isDirty());
    EXPECT_FALSE(out()->deliveryFailing());
    EXPECT_TRUE(log.contains("TextFileOutTie::writeData(): file \"" + path("sub/b.txt") + "\" is written again"));
    EXPECT_EQ(out()->counters().recordsWritten, 1u);
}

TEST_F(TextFileOut, RecordRetriedAfterOnlySomeFilesTookItKeepsItsSecond)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    ASSERT_TRUE(loadOutput(QByteArray(), outFile("a.txt:sub/b.txt")));
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    ASSERT_TRUE(QDir(path("sub")).removeRecursively());
    writeText("values.txt", "T1;2\n");
    tickAt(t0.addSecs(1));
    stopInput();
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    tickAt(t0.addSecs(2));
    // Written once to the file that took it, with its own second in both.
    EXPECT_EQ(readText("a.txt"), QByteArray("43200\nT1;1\n43201\nT1;2\n"));
    EXPECT_EQ(readText("sub/b.txt"), QByteArray("43201\nT1;2\n"));
}

TEST_F(TextFileOut, UnwritableFileIsTriedOncePerSendPassWhateverTheNumberOfDirtyUnits)
{
    ASSERT_TRUE(load(inputSection("timeout='600000'") + "<textfileout id='out'>" + outputList("a.csv")
                     + outputList("b.csv") + outFile("sub/out.txt") + "</textfileout>"));
    writeText("values.txt", "T1;1\nT4;4\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    stopInput();
    tickAt(t0.addSecs(1));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    tickAt(t0.addSecs(2)); // the streak ends with the summary of its repeats
    const QString failure = "TextFileOutTie::writeData(): cannot append to file \"" + path("sub/out.txt") + "\" ("
        + QString::fromLocal8Bit(std::strerror(ENOENT)) + "); the record is kept to be written later";
    EXPECT_TRUE(log.contains(failure + " (repeated 1 times)")) << qPrintable(log.lines().join('\n'));
}

TEST_F(TextFileOut, RecordCutShortIsTakenBackWholeAndWrittenLater)
{
    ASSERT_TRUE(loadOutput(QByteArray(), outFile("table.txt")));
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    const QByteArray first = "43200\nT1;1\n";
    ASSERT_EQ(readText("table.txt"), first);
    writeText("values.txt", "T1;2\n");

    // A size limit a few bytes past the file's end cuts the next record
    // short, as a full disk does.
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit cut = previous;
    cut.rlim_cur = static_cast<rlim_t>(first.size() + 5);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cut), 0);
    tickAt(t0.addSecs(1));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);

    EXPECT_EQ(readText("table.txt"), first); // no half record left behind
    EXPECT_TRUE(out()->units().at(0)->isDirty());
    EXPECT_TRUE(messages.containsPart("(" + QString::fromLocal8Bit(std::strerror(EFBIG)) + "); the record is kept"));
    stopInput();
    tickAt(t0.addSecs(2));
    EXPECT_EQ(readText("table.txt"), first + "43201\nT1;2\n"); // the kept record, whole and on its own lines
}

TEST_F(TextFileOut, ClosedSwitchWritesNothingAndThePendingRecordFollowsWhenItOpens)
{
    write("sw.csv", "index,type,kks\n1,SDWORDVALID,SW\n");
    const QByteArray switchInput = "<textfilein timeout='600000'><csvlist file='sw.csv' index='0' type='1' kks='2' "
                                   "direction='in'/><infile filename='" + path("switch.txt").toUtf8() + "'/></textfilein>";
    ASSERT_TRUE(load(switchInput + inputSection("timeout='600000'") + "<textfileout switchparam='SW' "
                     "switchcondition='>0' switchtype='yes'>" + outputList() + outFile() + "</textfileout>"));
    TextFileOutTie *output = tie<TextFileOutTie>(2);
    ASSERT_NE(output, nullptr);
    writeText("switch.txt", "SW;0\n");
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    stopInput();
    tickAt(t0.addSecs(1));
    EXPECT_FALSE(exists("out_2024-05-01.txt"));
    EXPECT_TRUE(output->units().at(0)->isDirty());

    writeText("switch.txt", "SW;1\n");
    tickAt(t0.addSecs(2));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
    tickAt(t0.addSecs(3));
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\nT1;1\n"));
}

TEST_F(TextFileOut, TimeSpecValuesAreSecondsCommaNanoseconds)
{
    clock.set(utc(2024, 5, 1, 12, 0, 0, 250));
    write("times.csv", "index,type,kks\n1,TIMESPEC,@CURRENT_TIMESPEC\n2,TIMESPEC64,@CURRENT_TIMESPEC\n"
                       "3,DWORD,@CURRENT_TIMESPEC\n");
    ASSERT_TRUE(load("<service/><textfileout outfields='kks value'><csvlist file='times.csv' index='0' type='1' "
                     "kks='2' direction='out'/>" + outFile() + "</textfileout>"));
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\n"
                                                          "@CURRENT_TIMESPEC;1714564800,250000000\n"
                                                          "@CURRENT_TIMESPEC;1714564800,250000000\n"
                                                          "@CURRENT_TIMESPEC;1714564800\n"));
}

TEST_F(TextFileOut, FilesAreWrittenInTheLocaleCodec)
{
    ScopedLocaleCodec koi8r("KOI8-R");
    write("in.csv", "index,type,kks\n1,FLOATVALID,\xd4\xc5\xcd\xd0\n");
    write("koi.csv", "index,type,kks\n1,FLOATVALID,\xd4\xc5\xcd\xd0\n");
    ASSERT_TRUE(load("<textfilein><csvlist file='in.csv' index='0' type='1' kks='2' direction='in' "
                             "encoding='KOI8-R'/><infile filename='" + path("values.txt").toUtf8() + "'/></textfilein>"
                             "<textfileout><csvlist file='koi.csv' index='0' type='1' kks='2' direction='out' "
                             "encoding='KOI8-R'/>" + outFile() + "</textfileout>"));
    writeText("values.txt", "\xd4\xc5\xcd\xd0;1\n");
    tick();
    EXPECT_EQ(readText("out_2024-05-01.txt"), QByteArray("43200\n\xd4\xc5\xcd\xd0;1\n"));
}

TEST_F(TextFileOut, PlotFilesAreFramedWithStartAndEndAcrossAChangeOfDay)
{
    ASSERT_TRUE(load(inputSection() + "<plottextfileout id='plot'>" + outputList() + outFile("plot_%1.txt")
                     + "</plottextfileout>"));
    auto *plot = tie<PlotTextFileOutTie>(1);
    ASSERT_NE(plot, nullptr);
    EXPECT_TRUE(plot->writeInvalid());
    EXPECT_FALSE(plot->secondsLine());
    writeText("values.txt", "T1;1\n");
    writeText("plot_2024-05-01.txt", "old\n"); // an existing file still gets its START
    tickAt(utc(2024, 5, 1, 23, 59, 58));
    tickAt(utc(2024, 5, 1, 23, 59, 59));
    tickAt(utc(2024, 5, 2, 0, 0, 0));
    tickAt(utc(2024, 5, 2, 0, 0, 1));
    EXPECT_EQ(readText("plot_2024-05-01.txt"), "old\nSTART\nT1;1\nT2;-1\nX4;-1\nT1;1\nT2;-1\nX4;-1\nEND\n"
                                                   + path("plot_2024-05-02.txt").toUtf8() + "\n");
    EXPECT_EQ(readText("plot_2024-05-02.txt"), QByteArray("START\nT1;1\nT2;-1\nX4;-1\nT1;1\nT2;-1\nX4;-1\n"));
    EXPECT_EQ(plot->currentFileNames(), QStringList({path("plot_2024-05-02.txt")}));

    // A reload that replaces the tie while it owes a record (a value of the
    // second it wrote) goes on with its file and its second, also where a
    // new file comes before it: the owed record is written once, under no
    // new START, and the successor's first record (its consumers converted
    // anew) follows in the next second, in both files.
    writeText("values.txt", "T1;2\n");
    tickAt(utc(2024, 5, 2, 0, 0, 1, 500));
    write("ferrox.cfg", "<config><misc><locale lang='en'/><times/></misc>" + inputSection()
                            + "<plottextfileout id='plot'>" + outputList() + outFile("first_%1.txt:plot_%1.txt")
                            + "</plottextfileout></config>");
    GateConfig next;
    FerroxXmlConfig reloader{next, nullptr, ferroxSectionTable()};
    ASSERT_TRUE(reloader.loadConf(path("ferrox.cfg")));
    config.replaceWith(next, &makeConverter);
    tickAt(utc(2024, 5, 2, 0, 0, 2));
    tickAt(utc(2024, 5, 2, 0, 0, 2, 500));
    tickAt(utc(2024, 5, 2, 0, 0, 3));
    EXPECT_EQ(readText("plot_2024-05-02.txt"),
              QByteArray("START\nT1;1\nT2;-1\nX4;-1\nT1;1\nT2;-1\nX4;-1\nT1;2\nT2;-1\nX4;-1\nT1;2\nT2;-1\nX4;-1\n"));
    EXPECT_EQ(readText("first_2024-05-02.txt"), QByteArray("START\nT1;2\nT2;-1\nX4;-1\n"));
}

TEST_F(TextFileOut, PlotFileThatCannotBeStartedIsEndedOnlyOnce)
{
    ASSERT_TRUE(load(inputSection("timeout='600000'") + "<plottextfileout>" + outputList() + outFile("%1/plot.txt")
                     + "</plottextfileout>"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("2024-05-01"));
    writeText("values.txt", "T1;1\n");
    tickAt(utc(2024, 5, 1, 23, 59, 59));
    tickAt(utc(2024, 5, 2, 0, 0, 1)); // the next day's directory is missing
    stopInput();
    tickAt(utc(2024, 5, 2, 0, 0, 2));
    ASSERT_TRUE(QDir(dir.path()).mkdir("2024-05-02"));
    tickAt(utc(2024, 5, 2, 0, 0, 3));
    EXPECT_EQ(readText("2024-05-01/plot.txt"), "START\nT1;1\nT2;-1\nX4;-1\nEND\n" + path("2024-05-02/plot.txt").toUtf8()
                                                   + "\n");
    EXPECT_EQ(readText("2024-05-02/plot.txt"), QByteArray("START\nT1;1\nT2;-1\nX4;-1\n"));
}

TEST_F(TextFileOut, PlotFileMadeAnewWhileRunningStartsWithStart)
{
    ASSERT_TRUE(load(inputSection() + "<plottextfileout>" + outputList() + outFile("plot.txt") + "</plottextfileout>"));
    writeText("values.txt", "T1;1\n");
    const QDateTime t0 = clock.now();
    tickAt(t0);
    ASSERT_TRUE(QFile::remove(path("plot.txt")));
    tickAt(t0.addSecs(1));
    EXPECT_EQ(readText("plot.txt"), QByteArray("START\nT1;1\nT2;-1\nX4;-1\n"));
}

TEST_F(TextFileOut, SendUnitDataExitsWithoutWritingForUnitsItCannotWrite)
{
    TextFileOutTie t;
    t.setFileNames({path("direct.txt")});
    auto *unit = new BaseTieUnit(&t);
    unit->setDirection(BaseTieUnit::dirToThis);
    t.addUnit(unit);
    EXPECT_FALSE(t.sendUnitData(nullptr));
    EXPECT_FALSE(t.sendUnitData(unit)); // never updated
    EXPECT_FALSE(t.writeData());
    unit->setLastUpdated(clock.now());
    unit->setDirty(true);
    EXPECT_TRUE(t.sendUnitData(unit)); // a record without lines: the seconds line needs a parameter line
    EXPECT_FALSE(unit->isDirty());
    EXPECT_EQ(readText("direct.txt"), QByteArray());
    unit->setDirty(true);
    EXPECT_FALSE(t.sendUnitData(unit)); // nothing newer than the record
    EXPECT_FALSE(unit->isDirty());
}
