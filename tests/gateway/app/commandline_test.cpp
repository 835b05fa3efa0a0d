#include "app/commandline.h"

#include "core/diag.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const char *name;
    QStringList args;
    bool ok;
    quint32 level;
    const char *logFile; // expected log file name, relative to /opt/ferrox/bin
    const char *message; // one expected message, or null
};

class CommandLine : public ::testing::TestWithParam<Row> {};

TEST_P(CommandLine, Options)
{
    const Row &row = GetParam();
    ScopedDebugLevel level(0);
    LogCapture log;
    MessageCapture messages;
    EXPECT_EQ(applyCommandLine(QStringList{"ferrox"} + row.args, "/opt/ferrox/bin"), row.ok);
    EXPECT_EQ(debugLevel(), row.level);
    EXPECT_EQ(log.fileName(), QString::fromLatin1(row.logFile));
    if (row.message) {
        EXPECT_EQ(messages.count(QString::fromLatin1(row.message)), 1) << qPrintable(messages.texts().join('\n'));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLine,
    ::testing::Values(
        Row{"LowerCaseDebug", {"-d", "7"}, true, 7, "", "Debuglevel is 7"},
        Row{"StopsAtTheFirstNonOption", {"file.txt", "-D", "5"}, true, 0, "", nullptr},
        Row{"BareLogNameGoesBesideTheProgram", {"-l", "gate.log"}, true, 0, "/opt/ferrox/bin/gate.log",
            "Using logfile /opt/ferrox/bin/gate.log"},
        Row{"RelativeLogName", {"-L", "../log/x.log", "-D", "2"}, true, 2, "/opt/ferrox/log/x.log", nullptr},
        Row{"AbsoluteLogName", {"-L", "/var/log/f.log"}, true, 0, "/var/log/f.log", nullptr},
        Row{"UnknownOption", {"-X", "-D", "3"}, false, 0, "",
            "Wrong argument -X (see -h; the gateway's own options are -D <level> and -L <file>)"},
        Row{"DebugLevelNotANumber", {"-D", "high"}, false, 0, "", "Debuglevel is 0 (\"high\" is not a decimal number)"},
        Row{"DebugLevelMissing", {"-D"}, false, 0, "", "Debuglevel is 0 (the value of -D is missing)"},
        // A directory as log file would lose every line: none is set.
        Row{"LogNameMissing", {"-L"}, false, 0, "", "Using logfile (none: the value of -L is missing)"},
        Row{"LogNameEmpty", {"-L", "", "-D", "4"}, false, 4, "", "Using logfile (none: the value of -L is missing)"},
        Row{"EmptyArgumentEndsParsing", {"", "-X"}, true, 0, "", nullptr}),
    [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

} // namespace
