// The gateway as operators run it: installed into a prefix and watched
// through its status and its metrics file; and run as its systemd unit of
// Type=notify does, telling a notification socket what it does. (The unit
// itself is checked with systemd-analyze by the package's test.)

#include "installationtree.h"
#include "support/notifysocket.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                    int msecs = 30000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Finished result;
    if (!process.waitForFinished(msecs)) {
        process.kill();
        process.waitForFinished(5000);
        result.err = "did not finish in time";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// The build tree installed into a temporary prefix with cmake --install.
class InstalledPrefix : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const Finished install = runProgram(QStringLiteral(FERROX_CMAKE_COMMAND),
                                            {"--install", FERROX_BINARY_DIR, "--prefix", prefix()},
                                            QProcessEnvironment::systemEnvironment(), 120000);
        ASSERT_EQ(install.exitCode, 0) << install.out.constData() << install.err.constData();
        ASSERT_TRUE(QDir(prefix()).mkpath(QStringLiteral("run")));
    }
    void TearDown() override
    {
        // A service still running after a failed check.
        runProgram(path("bin/ferrox"), {"-t"}, environment(), 15000);
    }

    QString prefix() const { return m_dir.filePath(QStringLiteral("prefix")); }
    QString path(const QString &relative) const { return prefix() + QLatin1Char('/') + relative; }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("FERROX_SERVICE_RUN"));
        env.remove(QStringLiteral("FERROX_SERVICE_USER"));
        env.remove(QStringLiteral("NOTIFY_SOCKET"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("FERROX_CONTROL_DIR"), path("run"));
        return env;
    }
    QJsonObject status(Finished *run = nullptr) const
    {
        const Finished s = runProgram(path("bin/ferrox"), {"-s"}, environment(), 15000);
        if (run)
            *run = s;
        return s.exitCode == 0 ? QJsonDocument::fromJson(s.out).object() : QJsonObject();
    }

    QTemporaryDir m_dir;
};

QJsonObject tieWithId(const QJsonObject &status, const QString &id)
{
    for (const QJsonValue tie : status.value("ties").toArray())
        if (tie.toObject().value("id").toString() == id)
            return tie.toObject();
    return QJsonObject();
}

} // namespace

TEST_F(InstalledPrefix, StatusAndMetricsOfAShortRunWithFileTiesAndADEPeer)
{
    // The installed DE peer sends one value twice a second.
    QProcess peer;
    peer.start(path("bin/ferrox-depeer"), {"--listen", "0", "--send", "FLOATVALID:1=12.5", "--rate", "2"});
    ASSERT_TRUE(peer.waitForStarted(5000));
    QByteArray peerOut;
    QByteArray port;
    ASSERT_TRUE(waitFor(
        [&] {
            peerOut += peer.readAllStandardOutput();
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)\n")).match(QString::fromUtf8(peerOut));
            port = m.captured(1).toLatin1();
            return m.hasMatch();
        },
        10000))
        << peerOut.constData();

    const QByteArray data = QFile::encodeName(path("data"));
    ASSERT_TRUE(writeFile(path("config/in.csv"), "kks,index,type\nT1,1,FLOATVALID\n"));
    ASSERT_TRUE(writeFile(path("config/out.csv"), "kks,index,type\nT1,1,FLOATVALID\n"));
    ASSERT_TRUE(writeFile(path("data/in.txt"), "T1;4.5\n"));
    ASSERT_TRUE(writeFile(
        path("config/ferrox.cfg"),
        "<config><misc><locale lang='en'/><times/><metrics file='../log/ferrox.prom' interval='1'/></misc>"
        "<service/>"
        "<textfilein id='plant'><csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/>"
        "<infile filename='" + data + "/in.txt'/></textfilein>"
        "<textfileout id='table'><csvlist file='out.csv' kks='0' index='1' type='2' direction='out'/>"
        "<outfile filename='" + data + "/table_%1.txt'/></textfileout>"
        "<deprotocolclient id='peer'><csvlist file='de.csv' kks='0' index='1' type='2' direction='in'/>"
        "<connection host='127.0.0.1' port='" + port + "'/></deprotocolclient></config>"));
    ASSERT_TRUE(writeFile(path("config/de.csv"), "kks,index,type\nFLOW,1,FLOATVALID\n"));

    // The plain installation's unit names this prefix.
    EXPECT_TRUE(readFile(path("share/ferrox/ferrox.service"))
                    .contains("\nExecStart=" + QFile::encodeName(prefix()) + "/bin/ferrox\n"));

    const Finished start = runProgram(path("bin/ferrox"), {}, environment());
    ASSERT_EQ(start.exitCode, 0) << start.err.constData();
    QJsonObject s;
    EXPECT_TRUE(waitFor(
        [&] {
            s = status();
            return tieWithId(s, "table").value("counters").toObject().value("records_written").toInt() >= 1
                   && tieWithId(s, "peer").value("counters").toObject().value("values_received").toInt() >= 2
                   && s.value("cycle").toObject().value("ticks").toInt() >= 3;
        },
        20000))
        << QJsonDocument(s).toJson().constData();

    EXPECT_EQ(s.value("version").toString(), QStringLiteral(FERROX_PROJECT_VERSION));
    EXPECT_EQ(s.value("config_file").toString(), QDir::cleanPath(path("config/ferrox.cfg")));
    EXPECT_EQ(s.value("metrics_file").toString(), QDir::cleanPath(path("log/ferrox.prom")));
    EXPECT_GT(s.value("uptime_seconds").toDouble(), 0.0);
    EXPECT_EQ(s.value("cycle").toObject().value("overruns").toInt(), 0);
    for (const char *action : {"-s", "-v"}) { // an answer that was not written is a failure
        QProcess toFullDisk;
        toFullDisk.setProcessEnvironment(environment());
        toFullDisk.setStandardOutputFile(QStringLiteral("/dev/full"));
        toFullDisk.start(path("bin/ferrox"), {action});
        ASSERT_TRUE(toFullDisk.waitForFinished(30000));
        EXPECT_EQ(toFullDisk.exitCode(), 255) << action;
    }
    QStringList sections;
    for (const QJsonValue tie : s.value("ties").toArray())
        sections << tie.toObject().value("section").toString();
    EXPECT_EQ(sections, (QStringList{"service", "textfilein", "textfileout", "deprotocolclient"}));
    const QJsonObject plant = tieWithId(s, "plant");
    EXPECT_GE(plant.value("counters").toObject().value("values_received").toInt(), 1);
    EXPECT_EQ(plant.value("units").toObject().value("ok").toInt(), 1);
    const QJsonObject de = tieWithId(s, "peer").value("counters").toObject();
    EXPECT_GE(de.value("frames_in").toInt(), 2);
    EXPECT_GE(de.value("bytes_in").toInt(), 2 * 36);
    EXPECT_EQ(de.value("checksum_failures").toInt(), 0);

    // The metrics file follows within its interval.
    const QString metrics = path("log/ferrox.prom");
    const QRegularExpression received(
        QStringLiteral("^ferrox_tie_values_received_total\\{index=\"1\",id=\"plant\",section=\"textfilein\"\\} (\\d+)$"),
        QRegularExpression::MultilineOption);
    const QRegularExpression ticks(QStringLiteral("^ferrox_cycle_ticks_total (\\d+)$"),
                                   QRegularExpression::MultilineOption);
    EXPECT_TRUE(waitFor(
        [&] {
            const QString text = QString::fromUtf8(readFile(metrics));
            return received.match(text).captured(1).toInt() >= 1 && ticks.match(text).captured(1).toInt() >= 3;
        },
        10000))
        << readFile(metrics).constData();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ferrox_tie_frames_in_total\\{index=\"3\",id=\"peer\",section=\"deprotocolclient\"\\} [1-9]"),
                                   QRegularExpression::MultilineOption)
                    .match(QString::fromUtf8(readFile(metrics)))
                    .hasMatch())
        << readFile(metrics).constData();
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(metrics).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    const Finished stop = runProgram(path("bin/ferrox"), {"-t"}, environment());
    EXPECT_EQ(stop.exitCode, 0) << stop.err.constData();
    Finished after;
    status(&after);
    EXPECT_EQ(after.exitCode, 255);
    EXPECT_TRUE(after.err.contains("The service status could not be read.")) << after.err.constData();
    peer.kill();
    peer.waitForFinished(5000);
}

namespace {

// The built program as the unit runs it: the service in the foreground, with
// a notification socket and a watchdog of `watchdogUsec`.
struct UnitLikeRun {
    InstallationTree tree;
    NotifySocket notify;
    QProcess process;

    void start(const QByteArray &watchdogUsec)
    {
        QProcessEnvironment env = tree.environment();
        env.insert(QStringLiteral("FERROX_SERVICE_RUN"), QStringLiteral("1"));
        env.insert(QStringLiteral("NOTIFY_SOCKET"), notify.path());
        env.insert(QStringLiteral("WATCHDOG_USEC"), QString::fromLatin1(watchdogUsec));
        env.remove(QStringLiteral("WATCHDOG_PID"));
        process.setProcessEnvironment(env);
        process.start(tree.program(), QStringList());
    }
    ~UnitLikeRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

TEST(UnitLikeRun, TellsReadyPetsTheWatchdogFromTheCycleAndStopsOnSigterm)
{
    UnitLikeRun run;
    ASSERT_TRUE(run.tree.isValid());
    ASSERT_TRUE(run.notify.isValid());
    ASSERT_TRUE(run.tree.writeConfig("ferrox.cfg", "<config><misc><locale lang='en'/><times/></misc><service/></config>"));
    run.start("800000"); // a pet every 200 ms at the least
    ASSERT_TRUE(run.process.waitForStarted(5000));

    QByteArrayList messages;
    EXPECT_TRUE(waitFor(
        [&] {
            messages += run.notify.received(50);
            return messages.count("WATCHDOG=1") >= 3;
        },
        10000))
        << messages.join(" | ").constData();
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.first().startsWith("READY=1\nSTATUS=Running: 1 ties, 1 without data; 0 ticks")) << messages.first().constData();
    // Ready means the control socket answers.
    const InstallationTree::Run status = run.tree.run({"-s"});
    EXPECT_EQ(status.exitCode, 0) << status.err.constData();
    EXPECT_TRUE(QJsonDocument::fromJson(status.out).isObject());

    run.process.terminate();
    ASSERT_TRUE(run.process.waitForFinished(10000));
    EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process.exitCode(), 0);
    const QByteArrayList told = run.notify.received(0);
    ASSERT_TRUE(told.contains("STOPPING=1"));
    // No cycle runs after the last pass of the stop.
    EXPECT_FALSE(told.mid(told.indexOf("STOPPING=1")).contains("WATCHDOG=1"));
    EXPECT_TRUE(run.tree.readLog().contains("Application was stopped"));
}

TEST(UnitLikeRun, AConfigurationThatDoesNotLoadExitsWith255AndNeverTellsReady)
{
    UnitLikeRun run;
    ASSERT_TRUE(run.tree.isValid());
    ASSERT_TRUE(run.tree.writeConfig("ferrox.cfg", "<config><nosuchsection/></config>"));
    run.start("800000");
    ASSERT_TRUE(run.process.waitForFinished(20000));
    EXPECT_EQ(run.process.exitCode(), 255);
    for (const QByteArray &message : run.notify.received(0))
        EXPECT_FALSE(message.contains("READY=1")) << message.constData();
}
