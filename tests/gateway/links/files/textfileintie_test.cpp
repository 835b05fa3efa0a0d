#include "links/files/textfileintie.h"

#include "gateway/links/files/filesfixture.h"
#include "links/files/textlinereader.h"
#include "support/scopeddebuglevel.h"

#include <dpdatatype.h>

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TextFileIn : FilesFixture {
    // Loads an input section and a consumer that receives T1..T4, so that
    // what the tie converts can be seen in the consumer.
    bool loadInput(const QByteArray &attributes = QByteArray(), const QString &input = "values.txt")
    {
        write("out.csv", "index,type,kks\n1,FLOATVALID,T1\n2,SDWORDSTATE,T2\n3,FLOATSTATE,T3\n4,SDWORDVALID,T4\n");
        return load(inputSection(attributes, input)
                    + "<textfileout id='out'><csvlist file='out.csv' index='0' type='1' kks='2' direction='out'/>"
                      "<outfile filename='" + path("out.txt").toUtf8() + "'/></textfileout>");
    }
    TextFileInTie *in() const { return tie<TextFileInTie>(0); }
    BaseTieUnit *inputUnit() const { return in()->units().at(0); }
    BaseTieParam *consumer(int i) const { return config.ties().at(1)->units().at(0)->params().at(i); }
    void poll() { in()->pollAndConvert(); }
    // Reloads ferrox.cfg as it stands now, as the running gateway does.
    bool reload()
    {
        GateConfig next;
        FerroxXmlConfig reloader{next, nullptr, ferroxSectionTable()};
        if (!reloader.loadConf(path("ferrox.cfg")))
            return false;
        config.replaceWith(next, &makeConverter);
        return true;
    }
};

} // namespace

TEST_F(TextFileIn, MarkerThenRecordsGiveValuesAndTheInvalidFormsOfUnparsableText)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "BEGIN\nT1;12.5\nT2;abc\nT3;1e60\nT4;-7;ignored third field\nT5;3\n");
    poll();

    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 12.5f);
    EXPECT_EQ(sign(provider("T1")), 1u);
    EXPECT_EQ(sign(provider("T2")), 7u); // not a number: state 7
    EXPECT_EQ(sign(provider("T3")), 7u); // out of the float range
    EXPECT_EQ(intValue(provider("T4")), -7);
    EXPECT_EQ(sign(provider("T4")), 1u);
    EXPECT_EQ(word(provider("T5"), 0), 0xFFFFFFFFu); // FLOAT is not read: still the reset pattern

    EXPECT_TRUE(consumer(0)->isValid(0));
    EXPECT_FLOAT_EQ(floatValue(consumer(0)), 12.5f);
    EXPECT_FALSE(consumer(1)->isValid(0));
    EXPECT_TRUE(consumer(3)->isValid(0));
    EXPECT_EQ(inputUnit()->lastReceived(), clock.now());
    EXPECT_EQ(provider("T1")->dataTime(), clock.now());
    EXPECT_EQ(inputUnit()->lastUpdated(), clock.now());
}

TEST_F(TextFileIn, UnparsableValidValuesGetSignZero)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;12,5\nT4;1.5\n");
    poll();
    EXPECT_EQ(sign(provider("T1")), 0u);
    EXPECT_EQ(sign(provider("T4")), 0u);
    EXPECT_FALSE(consumer(0)->isValid(0));
    EXPECT_FALSE(consumer(3)->isValid(0));
    // What the text output writes for an invalid float reads as invalid.
    for (const QByteArray text : {"nan", "-inf"}) {
        writeText("values.txt", "T1;" + text + "\n");
        poll();
        EXPECT_EQ(sign(provider("T1")), 0u) << text.constData();
    }
}

TEST_F(TextFileIn, IdentifierWithSeparatorButNoValueIsARecordNotAMarker)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T4;5\nT1;\nT2;6\n");
    poll();
    EXPECT_EQ(sign(provider("T1")), 0u); // stored as unparsable
    EXPECT_EQ(intValue(provider("T2")), 6); // the pass went on after it
    EXPECT_EQ(intValue(provider("T4")), 5);
}

TEST_F(TextFileIn, QuotedFieldsAndWindowsLineEndsAreRead)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "\"T1\" ; \"2.25\"\r\nT4;5\r\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 2.25f);
    EXPECT_EQ(intValue(provider("T4")), 5);
}

TEST_F(TextFileIn, AppendedBlockIsReadAloneAndAnUnchangedFileIsReadAgain)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\nT2;2\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 1.0f);
    EXPECT_EQ(intValue(provider("T2")), 2);
    EXPECT_EQ(in()->readPosition(), 10);

    // Nothing appended: the whole file again.
    clock.advance(500);
    writeText("values.txt", "T1;3\nT2;4\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 3.0f);
    EXPECT_EQ(intValue(provider("T2")), 4);
    EXPECT_EQ(inputUnit()->lastReceived(), clock.now());

    // Lines appended without a marker continue the block: read alone once,
    // then the whole block again (T2 kept its last value there).
    appendText("values.txt", "T1;6\n");
    poll();
    EXPECT_FALSE(provider("T2")->isValid(0));
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 6.0f);
    EXPECT_TRUE(provider("T2")->isValid(0));
    EXPECT_EQ(intValue(provider("T2")), 4);

    // A marker and a new block: only the block is read, T2 is absent from it.
    appendText("values.txt", "--\nT1;5\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 5.0f);
    EXPECT_EQ(sign(provider("T2")), 0xFFFFFFFFu);
    EXPECT_FALSE(consumer(1)->isValid(0));

    // Nothing appended since: the newest block again, not the first one.
    for (int i = 0; i < 3; ++i) {
        poll();
        EXPECT_FLOAT_EQ(floatValue(provider("T1")), 5.0f) << i;
        EXPECT_FALSE(provider("T2")->isValid(0)) << i;
    }
}

// A reload that replaces the tie goes on where its predecessor stood, not
// with the file's first block, which would come back as a new value.
TEST_F(TextFileIn, AReplacedTieGoesOnWhereItsPredecessorStood)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\n#\nT1;2\n#\nT1;3\n");
    for (int i = 0; i < 3; ++i)
        poll();
    ASSERT_FLOAT_EQ(floatValue(provider("T1")), 3.0f);
    ASSERT_TRUE(reload());
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 3.0f);
}

TEST_F(TextFileIn, AReplacedTieWithoutIdGoesOnFromTheOneThatReadItsFile)
{
    const auto section = [&](const char *list, const char *input, const QByteArray &attributes) {
        return "<textfilein " + attributes + "><csvlist file='" + QByteArray(list)
            + "' index='0' type='1' extid='2' kks='3' direction='in'/><infile filename='" + path(input).toUtf8()
            + "'/></textfilein>";
    };
    write("in.csv", kInputList);
    write("other.csv", "index,type,extid,kks\n1,FLOATVALID,,U1\n");
    writeText("a.txt", "U1;7\n");
    writeText("values.txt", "T1;1\n#\nT1;2\n#\nT1;3\n");
    ASSERT_TRUE(load(section("other.csv", "a.txt", "") + section("in.csv", "values.txt", "")));
    for (int i = 0; i < 3; ++i)
        tie<TextFileInTie>(1)->pollAndConvert();
    ASSERT_FLOAT_EQ(floatValue(provider("T1")), 3.0f);
    // The first section goes, the second changes: the second's successor
    // is not handed the first one's place (and the file's first block).
    write("ferrox.cfg", "<config><misc><locale lang='en'/><times/></misc>"
                            + section("in.csv", "values.txt", "timeout='4000'") + "</config>");
    ASSERT_TRUE(reload());
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 3.0f);
}

TEST_F(TextFileIn, PassEndsAtAMarkerAndTheNextStartsAfterIt)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\n#\nT1;2\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 1.0f);
    EXPECT_EQ(in()->readPosition(), 5); // the start of the marker line
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 2.0f);

    // A marker with nothing after it yet: that poll has no pass; the next
    // one reads the block before the marker again.
    appendText("values.txt", "#\n");
    const QDateTime before = inputUnit()->lastReceived();
    clock.advance(500);
    poll();
    EXPECT_EQ(inputUnit()->lastReceived(), before);
    clock.advance(500);
    poll();
    EXPECT_EQ(inputUnit()->lastReceived(), clock.now());
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 2.0f);
    appendText("values.txt", "T1;3\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 3.0f);

    // Records that came only at the poll after their marker open the block
    // an idle poll reads again (it read the block before the marker: 3).
    appendText("values.txt", "#\n");
    poll();
    appendText("values.txt", "T1;4\n");
    poll();
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 4.0f);
}

TEST_F(TextFileIn, PrevForAbsentKeepsTheValuesTheFileDoesNotMention)
{
    ASSERT_TRUE(loadInput("prevforabsent='yes'"));
    EXPECT_TRUE(in()->prevForAbsent());
    writeText("values.txt", "T1;1\nT2;2\n");
    poll();
    appendText("values.txt", "--\nT1;5\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 5.0f);
    EXPECT_EQ(intValue(provider("T2")), 2);
    EXPECT_EQ(sign(provider("T2")), 0u);
    EXPECT_TRUE(consumer(1)->isValid(0));
}

TEST_F(TextFileIn, WithoutPrevForAbsentAnUnmentionedParameterIsInvalidAfterEachPoll)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\nT2;2\n");
    poll();
    writeText("values.txt", "T1;1\n");
    poll();
    EXPECT_FALSE(provider("T2")->isValid(0));
    EXPECT_FALSE(consumer(1)->isValid(0));
}

TEST_F(TextFileIn, ExtIdIsLookedUpBeforeKks)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "E3;4.5\n");
    poll();
    const BaseTieParam *byExtId = inputUnit()->params().at(2);
    const BaseTieParam *byKks = inputUnit()->params().at(5);
    EXPECT_EQ(in()->findParam("E3"), byExtId);
    EXPECT_FLOAT_EQ(floatValue(byExtId), 4.5f);
    EXPECT_EQ(sign(byExtId), 0u);
    EXPECT_FALSE(byKks->isValid(0));
    EXPECT_EQ(in()->findParam("T3"), byExtId);
    EXPECT_EQ(in()->findParam("nothing"), nullptr);
}

TEST_F(TextFileIn, ShorterReplacementIsReadFromItsStart)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\nT2;2\n#\nT1;11\nT2;12\nT4;14\n");
    poll();
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 11.0f);
    ASSERT_GT(in()->readPosition(), 20);

    // Read position and pass start now lie past the end.
    writeText("values.txt", "T4;9\n");
    poll();
    EXPECT_EQ(intValue(provider("T4")), 9);
    EXPECT_FALSE(provider("T1")->isValid(0));
}

TEST_F(TextFileIn, ReplacementWhoseOldPositionFallsInsideALineIsReadFromItsStart)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\n");
    poll();
    writeText("values.txt", "T1;12345\nT4;3\n"); // byte 5 is inside the first line
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 12345.0f);
    EXPECT_EQ(intValue(provider("T4")), 3);
}

TEST_F(TextFileIn, MissingOrEmptyFileConvertsNothingUntilTheUnitGoesStale)
{
    ScopedDebugLevel level(1);
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\n");
    poll();
    ASSERT_TRUE(consumer(0)->isValid(0));

    QFile::remove(path("values.txt"));
    clock.advance(2500);
    messages.clear();
    poll();
    EXPECT_TRUE(consumer(0)->isValid(0)); // not converted: the consumer keeps its value while the data are fresh
    EXPECT_TRUE(provider("T1")->isValid(0));

    clock.advance(1000); // 3.5 s after the last data
    poll();
    EXPECT_FALSE(consumer(0)->isValid(0)); // the stale unit was converted once more

    // Warned and logged once for the streak, whatever the debug level.
    const QString missing = "TextFileInTie::pollAndConvert() Error opening file \"" + path("values.txt") + "\" ("
        + QString::fromLocal8Bit(std::strerror(ENOENT)) + ")";
    EXPECT_EQ(messages.warnings().count(missing), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(log.lines().count(missing), 1);

    writeText("values.txt", "T1;2\n");
    poll();
    EXPECT_TRUE(consumer(0)->isValid(0));
    EXPECT_FLOAT_EQ(floatValue(consumer(0)), 2.0f);
    const QString again = "TextFileInTie::pollAndConvert(): input file \"" + path("values.txt") + "\" is read again";
    EXPECT_TRUE(log.contains(missing + " (repeated 1 times)"));
    EXPECT_TRUE(log.contains(again));

    writeText("values.txt", "");
    messages.clear();
    poll();
    poll();
    EXPECT_EQ(messages.count("TextFileInTie::pollAndConvert(): Empty input file \"" + path("values.txt") + "\""), 1);
    EXPECT_TRUE(consumer(0)->isValid(0));
    clock.advance(3500);
    poll();
    EXPECT_FALSE(consumer(0)->isValid(0));
}

TEST_F(TextFileIn, FifoAtTheInputPathIsNeverOpenedBlockingAndCountsAsMissing)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\n");
    poll();
    ASSERT_TRUE(QFile::remove(path("values.txt")));
    const QByteArray fifo = QFile::encodeName(path("values.txt"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);

    ::alarm(10); // a poll blocked in open() ends the test program
    for (int i = 0; i < 8; ++i) {
        clock.advance(500);
        poll();
    }
    ::alarm(0);
    const QString text = "TextFileInTie::pollAndConvert() Error opening file \"" + path("values.txt")
        + "\" (not a regular file)";
    EXPECT_EQ(messages.warnings().count(text), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(log.lines().count(text), 1);
    EXPECT_FALSE(consumer(0)->isValid(0)); // stale, as with a missing file
}

TEST_F(TextFileIn, RewrittenFileIsReadFromItsStart)
{
    ASSERT_TRUE(loadInput());
    // In place, with the old read position on a line start: the bytes
    // before it changed.
    writeText("values.txt", "T1;1\nT2;2\n");
    poll();
    writeText("values.txt", "T1;3\nT2;4\nT4;5\n");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 3.0f);
    EXPECT_EQ(intValue(provider("T2")), 4);
    EXPECT_EQ(intValue(provider("T4")), 5);

    // Renamed over, with the same bytes before the old position: another file.
    writeText("values.new", "T1;3\nT2;4\nT4;5\nT1;6\n");
    ASSERT_EQ(std::rename(qPrintable(path("values.new")), qPrintable(path("values.txt"))), 0);
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 6.0f);
    EXPECT_TRUE(provider("T2")->isValid(0));
    EXPECT_EQ(intValue(provider("T2")), 4);
    EXPECT_EQ(intValue(provider("T4")), 5);
}

TEST_F(TextFileIn, TrailingBlankLinesDoNotStopTheReading)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\n\n  \n");
    for (int i = 0; i < 4; ++i) {
        clock.advance(500);
        poll();
        EXPECT_EQ(inputUnit()->lastReceived(), clock.now()) << i;
        EXPECT_TRUE(consumer(0)->isValid(0)) << i;
    }
}

TEST_F(TextFileIn, LastLineWithoutLineEndIsTakenOnlyOnceTheFileStoodStillForTheTimeout)
{
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T1;1\nT4;2");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 1.0f); // the complete lines are read
    EXPECT_FALSE(provider("T4")->isValid(0)); // the writer is still at it
    clock.advance(2000);
    appendText("values.txt", "3");
    poll();
    clock.advance(2000);
    poll();
    EXPECT_FALSE(provider("T4")->isValid(0)); // still growing 2 s ago
    appendText("values.txt", "5\n");
    poll();
    EXPECT_EQ(intValue(provider("T4")), 235);
    EXPECT_TRUE(provider("T1")->isValid(0));

    // A block after a marker, its last line unfinished: once that ends, the
    // whole block is read again, not that line alone.
    appendText("values.txt", "--\nT1;5\nT4;6");
    poll();
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 5.0f);
    EXPECT_FALSE(provider("T4")->isValid(0));
    appendText("values.txt", "7\n");
    poll();
    EXPECT_TRUE(provider("T1")->isValid(0));
    EXPECT_EQ(intValue(provider("T4")), 67);

    // A file that stays without a final line end is read once it has not
    // changed for the data timeout (3 s).
    writeText("values.txt", "T1;1\nT4;7");
    poll();
    clock.advance(2500);
    poll();
    EXPECT_FALSE(provider("T4")->isValid(0));
    clock.advance(500);
    poll();
    EXPECT_EQ(intValue(provider("T4")), 7);
}

TEST_F(TextFileIn, FileRewrittenFasterThanTheTimeoutGivesItsCompleteLinesAndOneWarning)
{
    ASSERT_TRUE(loadInput());
    for (int i = 0; i < 10; ++i) {
        writeText("values.txt", "T1;1\nT4;2");
        // The time a writer rewriting every 500 ms leaves; within one test
        // the writes may share the file system's time stamp.
        QFile f(path("values.txt"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(utc(2024, 1, 1).addMSecs(500 * i), QFileDevice::FileModificationTime));
        f.close();
        poll();
        EXPECT_EQ(inputUnit()->lastReceived(), clock.now()) << i;
        EXPECT_TRUE(consumer(0)->isValid(0)) << i;
        EXPECT_FALSE(provider("T4")->isValid(0)) << i; // never the partial value
        clock.advance(500);
    }
    const QString text = "TextFileInTie::pollAndConvert(): the last line of input file \"" + path("values.txt")
        + "\" has had no line end for more than 3000 ms while the file kept changing; it is read once it ends or "
          "the file stands still";
    EXPECT_EQ(messages.warnings().count(text), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(log.lines().count(text), 1);

    appendText("values.txt", "3\n");
    poll();
    EXPECT_EQ(intValue(provider("T4")), 23);
    EXPECT_TRUE(log.contains(text + " (repeated 3 times)")); // the streak ended with its summary
}

TEST_F(TextFileIn, LastByteGoneSinceTheSizeWasTakenMeansTheFileIsBeingRewritten)
{
    struct Probe : TextFileInTie {
        using TextFileInTie::InputState;
        using TextFileInTie::lastLineUnsettled;
        using TextFileInTie::openInput;
    } probe;
    probe.setFileName(path("values.txt"));
    writeText("values.txt", "T1;1\nT4;2\n");
    QFile file;
    Probe::InputState state;
    QString reason;
    ASSERT_TRUE(probe.openInput(file, &state, &reason)) << qPrintable(reason);
    writeText("values.txt", "T1;1"); // truncated and being written again
    EXPECT_TRUE(probe.lastLineUnsettled(file, state));
}

TEST_F(TextFileIn, OverLongLineIsSkippedWholeAndItsParameterIsInvalid)
{
    // The file name holds a placeholder: the warning quotes it as it is.
    const QString input = "values%1.txt";
    ASSERT_TRUE(loadInput("prevforabsent='yes'", input));
    writeText(input, "T4;1\n");
    poll();
    ASSERT_TRUE(provider("T4")->isValid(0));
    const QByteArray value = QByteArray(TextLineReader::MaxLineBytes, '0') + "12345";
    writeText(input, "T1;1\nT4;" + value + "\nT2;3\n");
    for (int i = 0; i < 3; ++i)
        poll();
    EXPECT_FALSE(provider("T4")->isValid(0)); // not the cut prefix's value
    EXPECT_EQ(intValue(provider("T2")), 3);
    const QString text = "TextFileInTie::pollAndConvert(): input file \"" + path(input)
        + "\" has lines longer than 1048576 bytes; they are skipped and their parameters are invalid";
    EXPECT_EQ(messages.warnings().count(text), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(log.lines().count(text), 1);

    // A writer appending a block with such a line before every poll: the
    // lines lie elsewhere each time, the warning stays one.
    for (int i = 0; i < 3; ++i) {
        appendText(input, "--\nT1;2\nT4;" + value + "\n");
        poll();
    }
    EXPECT_EQ(messages.warnings().count(text), 1) << qPrintable(messages.texts().join('\n'));
    EXPECT_EQ(log.lines().count(text), 1);
}

TEST_F(TextFileIn, EmptyAndUnknownIdentifiersAreSkipped)
{
    ScopedDebugLevel level(1);
    ASSERT_TRUE(loadInput());
    writeText("values.txt", ";5\nX9;5\nT1;6\nX8;1\n");
    for (int i = 0; i < 3; ++i)
        poll(); // the same notes every poll: written once
    EXPECT_EQ(messages.count("Parameter id \"\" is empty"), 1);
    EXPECT_EQ(messages.count("Parameter with id \"X9\" not found (and 1 more lines of this pass)"), 1);
    EXPECT_FLOAT_EQ(floatValue(provider("T1")), 6.0f);
    writeText("values.txt", ";5\nX9;5\nT1;6\n");
    poll(); // one line fewer: still the same note
    EXPECT_EQ(messages.texts().filter("\"X9\" not found").size(), 1) << qPrintable(messages.texts().join('\n'));
}

TEST_F(TextFileIn, TypesWithoutTextFormAreReportedAndLeftAlone)
{
    ScopedDebugLevel level(1);
    ASSERT_TRUE(loadInput());
    writeText("values.txt", "T5;6\n");
    poll();
    EXPECT_TRUE(messages.containsPart("with type 9(FLOAT)  not (yet) implemented"));
}

TEST_F(TextFileIn, FileInTheLocaleCodecIsDecoded)
{
    ScopedLocaleCodec koi8r("KOI8-R");
    write("in.csv", "index,type,kks\n1,FLOATVALID,\xf4\xc5\xcd\xd0\n"); // "Темп" in KOI8-R
    write("out.csv", "index,type,kks\n");
    ASSERT_TRUE(load("<textfilein><csvlist file='in.csv' index='0' type='1' kks='2' direction='in' "
                             "encoding='KOI8-R'/><infile filename='" + path("values.txt").toUtf8() + "'/></textfilein>"));
    writeText("values.txt", "\xf4\xc5\xcd\xd0;8.5\n");
    tie<TextFileInTie>(0)->pollAndConvert();
    EXPECT_FLOAT_EQ(floatValue(provider(QString::fromUtf8("Темп"))), 8.5f);
}

TEST_F(TextFileIn, StateIsOkAndUnitsJoinTheOwnIndexByDirection)
{
    TextFileInTie t;
    EXPECT_EQ(t.state(), 0);
    auto *in = new BaseTieUnit(&t);
    in->setDirection(BaseTieUnit::dirBoth);
    auto *out = new BaseTieUnit(&t);
    out->setDirection(BaseTieUnit::dirToThis);
    struct Named : BaseTieParam {
        QString id;
        QString KKS() const override { return id; }
    };
    auto *a = new Named;
    a->id = "A";
    in->addParam(a);
    auto *b = new Named;
    b->id = "B";
    out->addParam(b);
    ScopedDebugLevel level(1);
    t.addUnit(in);
    t.addUnit(out);
    t.addUnit(nullptr);
    EXPECT_EQ(t.units().size(), 3);
    EXPECT_EQ(t.findParam("A"), a);
    EXPECT_EQ(t.findParam("B"), nullptr);
    EXPECT_TRUE(messages.containsPart(") add unit with direction 3"));
}
