#include "soakrun.h"

#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

#include <vector>

#include <fcntl.h>
#include <mqueue.h>

namespace {

SoakOptions shortRun(quint64 cycles)
{
    SoakOptions options;
    options.cycles = cycles;
    options.sampleEvery = 250;
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's quarantine holds freed memory; descriptors still count.
    options.checkRss = false;
#endif
    return options;
}

// A short soak: every number the peer, the queue writer and the input file
// sent arrives in order where it goes, nothing is dropped or reconnected,
// and neither memory nor descriptors grow.
TEST(Soak, ShortRunIsFlatAndAccountsForEveryValue)
{
    QString text;
    QTextStream out(&text);
    const SoakResult result = runSoak(shortRun(5000), out);
    EXPECT_TRUE(result.setUp) << text.toStdString();
    EXPECT_TRUE(result.passed()) << text.toStdString();
    EXPECT_EQ(result.cycles, 5000u);
    EXPECT_EQ(result.samples.size(), 21);
    EXPECT_LE(result.fdSlope, 0.0);
}

// The verdict is not blind: a descriptor left open now and then fails the
// run, and a queue message the writer did not send shows in the accounts.
TEST(Soak, LeakedDescriptorsAndStrayMessagesFailTheRun)
{
    std::vector<QFile *> leaked;
    SoakOptions options = shortRun(2000);
    options.afterCycle = [&leaked](quint64 cycle) {
        if (cycle == 700) {
            // One message more than the writer sent.
            const mqd_t queue = ::mq_open(soakInputQueue().constData(), O_WRONLY | O_NONBLOCK);
            const float extra[2] = {0, 0};
            ::mq_send(queue, reinterpret_cast<const char *>(extra), sizeof extra, 0);
            ::mq_close(queue);
        }
        if (cycle > 1000 && cycle % 100 == 0) {
            auto *file = new QFile(QStringLiteral("/proc/self/status"));
            file->open(QIODevice::ReadOnly);
            leaked.push_back(file);
        }
    };
    QString text;
    QTextStream out(&text);
    const SoakResult result = runSoak(options, out);
    for (QFile *file : leaked)
        delete file;
    EXPECT_TRUE(result.setUp) << text.toStdString();
    EXPECT_FALSE(result.passed());
    EXPECT_GT(result.fdSlope, 50.0) << text.toStdString();
    EXPECT_EQ(result.faults.filter(QStringLiteral("descriptors")).size(), 1) << text.toStdString();
    EXPECT_EQ(result.faults.filter(QStringLiteral("queue values received by the tie: 2001")).size(), 1)
        << text.toStdString();
}

} // namespace
