#include "config/configreport.h"

#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <gtest/gtest.h>

TEST(ConfigReport, PlaceholdersAreFilledInOnePass)
{
    EXPECT_EQ(fillPlaceholders("%1 and %2", {"a%2", "b"}), QStringLiteral("a%2 and b"));
    EXPECT_EQ(fillPlaceholders("100% of %1, %3 missing", {"x"}), QStringLiteral("100% of x, %3 missing"));
}

TEST(ConfigReport, WarningAndLogLineMayDiffer)
{
    MessageCapture messages;
    LogCapture log;
    reportConfigError("Test", "warn %1", "log %1", {"v"});
    EXPECT_EQ(messages.warnings(), QStringList({"warn v"}));
    EXPECT_EQ(log.lines(), QStringList({"log v"}));
}
