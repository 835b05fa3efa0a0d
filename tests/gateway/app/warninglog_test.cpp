#include "app/warninglog.h"

#include "config/configreport.h"
#include "core/diag.h"
#include "support/fixedclock.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <gtest/gtest.h>

TEST(WarningLog, WarningsReachTheLogOnceAndStillReachStandardError)
{
    FixedClock clock(utc(2026, 3, 1, 8));
    MessageCapture messages;
    LogCapture log;
    log.setFileName(QStringLiteral("/x/ferrox.log"));
    {
        const WarningLog::Scope outer;
        const WarningLog::Scope nested; // copies once all the same
        GATE_WARN("disk %d is full", 2);
        qCritical("socket lost");
        GATE_DEBUG_ALWAYS("only a diagnostic");
        // Its caller logs it itself: it must not land in the log twice.
        reportConfigError("Ctx", "Error loading config: not supposed section \"%1\" occurred", {QStringLiteral("foo")});
        for (int i = 0; i < 5; ++i)
            GATE_WARN("disk %d is full", 2);
        clock.advance(61 * 1000);
        GATE_WARN("disk %d is full", 2);
    }
    GATE_WARN("after the scope");
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("disk 2 is full"), QStringLiteral("socket lost"),
                                        QStringLiteral("Error loading config: not supposed section \"foo\" occurred"),
                                        QStringLiteral("disk 2 is full (repeated 6 times)")}));
    EXPECT_EQ(messages.warnings().count(QStringLiteral("disk 2 is full")), 7);
    EXPECT_TRUE(messages.contains(QStringLiteral("only a diagnostic")));
    EXPECT_TRUE(messages.contains(QStringLiteral("after the scope")));

    // A burst that stops is summed up once it has been quiet, not at the
    // text's next warning or the end.
    log.clear();
    const WarningLog::Scope scope;
    for (int i = 0; i < 3; ++i)
        GATE_WARN("x");
    clock.advance(61 * 1000);
    WarningLog::endQuietStreaks();
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("x"), QStringLiteral("x (repeated 2 times)")}));
}

TEST(WarningLog, CopiesMadeBeforeTheLogHasANameAreHeldWithTheirTime)
{
    FixedClock clock(utc(2026, 3, 1, 8));
    MessageCapture messages;
    LogCapture log;
    {
        const WarningLog::Scope scope;
        GATE_WARN("Wrong argument -X");
        clock.advance(1000);
        log.setFileName(QStringLiteral("/x/ferrox.log"));
        GATE_WARN("Error loading config");
    }
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("Wrong argument -X"), QStringLiteral("Error loading config")}));
    ASSERT_EQ(log.stamps().size(), 2);
    EXPECT_EQ(log.stamps().at(0), utc(2026, 3, 1, 8));
    EXPECT_EQ(log.stamps().at(1), utc(2026, 3, 1, 8, 0, 1));

    // The scope of the start-up inside the service's own: its copies are
    // written when it ends, not at the stop.
    {
        const WarningLog::Scope outer;
        LogCapture named;
        {
            const WarningLog::Scope inner;
            GATE_WARN("early");
            named.setFileName(QStringLiteral("/x/ferrox.log"));
        }
        EXPECT_TRUE(named.lines().contains(QStringLiteral("early")));
    }

    // Held while the scope ends without a name: nothing is written.
    LogCapture unnamed;
    {
        const WarningLog::Scope scope;
        GATE_WARN("lost");
    }
    EXPECT_TRUE(unnamed.lines().isEmpty());
}
