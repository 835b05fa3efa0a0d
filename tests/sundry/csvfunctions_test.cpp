#include <csvfunctions.h>

#include "sundry/qtprinters.h"

#include <QString>
#include <QTextStream>

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char *name;
    LoadSaveTableFileType type;
    const char *line;
    QStringList expected;
};

void PrintTo(const ParseCase &c, std::ostream *os)
{
    *os << c.name;
}

class CsvParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CsvParse, SplitsLineIntoFields)
{
    const ParseCase &c = GetParam();
    EXPECT_EQ(csvParseString(QString::fromUtf8(c.line), c.type), c.expected) << c.name;
}

const QString kEmpty = QString();

INSTANTIATE_TEST_SUITE_P(Dialects, CsvParse, ::testing::Values(
    ParseCase{"EmptyLineHasNoField", CommaSeparated, "", {}},
    ParseCase{"BlankLineHasNoField", SemicolonSeparated, "  \t ", {}},
    ParseCase{"FieldsAreTrimmed", CommaSeparated, " a , b ,c ", {"a", "b", "c"}},
    ParseCase{"QuotedFieldKeepsSeparatorAndDoubledQuote", CommaSeparated, "a,\"b, \"\"c\"\"\",d",
              {"a", "b, \"c\"", "d"}},
    ParseCase{"QuotedFieldIsNotTrimmed", SemicolonSeparated, "\" x \";y", {" x ", "y"}},
    ParseCase{"TextAfterClosingQuoteIsLost", SemicolonSeparated, "\"x\"junk;y", {"x", "y"}},
    ParseCase{"QuotedFieldEndsAtEndOfText", CommaSeparated, "a,\"open", {"a", "open"}},
    ParseCase{"QuotedLastFieldWithoutSeparator", CommaSeparated, "\"only\"", {"only"}},
    ParseCase{"EmptyQuotedField", CommaSeparated, "\"\",a", {"", "a"}},
    ParseCase{"TrailingSeparatorAddsNoField", SemicolonSeparated, "x;;y;", {"x", "", "y"}},
    ParseCase{"TrailingSeparatorAndBlanksAddNoField", CommaSeparated, "x, ", {"x"}},
    ParseCase{"LeadingSeparatorGivesEmptyField", CommaSeparated, ",a", {"", "a"}},
    ParseCase{"OtherDialectSeparatorIsText", SemicolonSeparated, "a,b;c", {"a,b", "c"}},
    ParseCase{"TabsSplitFields", TabSeparated, "a\tb c\td", {"a", "b c", "d"}},
    ParseCase{"AdjacentTabsInsideGiveEmptyField", TabSeparated, "a\t\tb", {"a", "", "b"}},
    ParseCase{"TabsAtLineEndsAreLost", TabSeparated, "\ta\tb\t", {"a", "b"}},
    ParseCase{"RunOfBlanksIsOneSeparator", SpaceSeparated, "  a   b\t \tc  ", {"a", "b", "c"}},
    ParseCase{"QuotedFieldWithBlanks", SpaceSeparated, "x \"two words\" y", {"x", "two words", "y"}},
    ParseCase{"QuoteInsideUnquotedFieldIsText", CommaSeparated, "a\"b,c", {"a\"b", "c"}},
    ParseCase{"NonAsciiText", SemicolonSeparated, "\xd0\x94\xd0\x95;\xc3\xa9", {"\xd0\x94\xd0\x95", "\xc3\xa9"}},
    ParseCase{"InvalidDialectGivesNothing", static_cast<LoadSaveTableFileType>(4), "a,b", {}},
    ParseCase{"NegativeDialectGivesNothing", static_cast<LoadSaveTableFileType>(-1), "a b", {}}));

TEST(CsvGetNextLine, SkipsEmptyLinesAndCountsEveryLine)
{
    QString text = QStringLiteral("\n  \na;b\n\n\"c\";d\n");
    QTextStream in(&text);
    int lines = 0;
    EXPECT_EQ(csvGetNextLine(in, &lines, SemicolonSeparated), QStringList({"a", "b"}));
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(csvGetNextLine(in, &lines, SemicolonSeparated), QStringList({"c", "d"}));
    EXPECT_EQ(lines, 5);
    EXPECT_TRUE(csvGetNextLine(in, &lines, SemicolonSeparated).isEmpty());
    EXPECT_EQ(lines, 5);
}

TEST(CsvGetNextLine, CountsTrailingEmptyLinesAtEndAndAcceptsNullCounter)
{
    QString text = QStringLiteral("a\n\n\n");
    QTextStream in(&text);
    EXPECT_EQ(csvGetNextLine(in, nullptr, CommaSeparated), QStringList({"a"}));
    int lines = 0;
    EXPECT_TRUE(csvGetNextLine(in, &lines, CommaSeparated).isEmpty());
    EXPECT_EQ(lines, 2);
}

TEST(CsvGetNextLine, QuotedFieldNeverContinuesOnNextLine)
{
    QString text = QStringLiteral("\"open,field\nnext,line");
    QTextStream in(&text);
    EXPECT_EQ(csvGetNextLine(in, nullptr, CommaSeparated), QStringList({"open,field"}));
    EXPECT_EQ(csvGetNextLine(in, nullptr, CommaSeparated), QStringList({"next", "line"}));
}

TEST(CsvSkipLines, ReturnsCodeForEachOutcome)
{
    {
        QString text = QStringLiteral("h1;h2\n\nh3;h4\ndata");
        QTextStream in(&text);
        int lines = 0;
        EXPECT_EQ(csvSkipLines(2, in, &lines, 2, SemicolonSeparated), 0);
        EXPECT_EQ(lines, 3);
        EXPECT_EQ(csvGetNextLine(in, nullptr, SemicolonSeparated), QStringList({"data"}));
    }
    {
        QString text = QStringLiteral("one\n\n");
        QTextStream in(&text);
        EXPECT_EQ(csvSkipLines(2, in, nullptr, 0, SemicolonSeparated), 10952);
    }
    {
        QString text = QStringLiteral("a;b\nc\nd;e");
        QTextStream in(&text);
        int lines = 0;
        EXPECT_EQ(csvSkipLines(3, in, &lines, 2, SemicolonSeparated), 10951);
        EXPECT_EQ(lines, 2); // reading stopped at the short line
    }
    {
        QString text;
        QTextStream in(&text);
        EXPECT_EQ(csvSkipLines(0, in, nullptr, 5, CommaSeparated), 0);
    }
}

TEST(CsvEscape, QuotesOnlyWhenTheDialectNeedsIt)
{
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("two words"), SpaceSeparated), QStringLiteral("\"two words\""));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("two words"), CommaSeparated), QStringLiteral("two words"));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("a\tb"), SpaceSeparated), QStringLiteral("\"a\tb\""));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("a\tb"), TabSeparated), QStringLiteral("\"a\tb\""));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("a;b"), CommaSeparated), QStringLiteral("a;b"));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("a;b"), SemicolonSeparated), QStringLiteral("\"a;b\""));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("a,b"), CommaSeparated), QStringLiteral("\"a,b\""));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("say \"hi\""), SemicolonSeparated),
              QStringLiteral("\"say \"\"hi\"\"\""));
    EXPECT_EQ(csvExcapeStringIfNeed(QStringLiteral("a,\"b"), static_cast<LoadSaveTableFileType>(9)),
              QStringLiteral("a,\"b"));
    EXPECT_EQ(csvExcapeStringIfNeed(QString(), CommaSeparated), QString());
}

TEST(CsvEscape, EscapedFieldParsesBack)
{
    const QString nasty = QStringLiteral("x, \"y\" ;\tz");
    for (LoadSaveTableFileType type : {CommaSeparated, SemicolonSeparated, TabSeparated, SpaceSeparated}) {
        const QString line = QStringLiteral("first") + (type == CommaSeparated ? QStringLiteral(",")
                                                        : type == SemicolonSeparated ? QStringLiteral(";")
                                                        : type == TabSeparated ? QStringLiteral("\t")
                                                                               : QStringLiteral(" "))
            + csvExcapeStringIfNeed(nasty, type);
        EXPECT_EQ(csvParseString(line, type), QStringList({QStringLiteral("first"), nasty})) << type;
    }
}

} // namespace
