#include "gateway/links/mqtt/mqttbroker.h"
#include "installationtree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <mqueue.h>

namespace {

// The example installation with its mqtt tie on for `port` on 127.0.0.1,
// its data directory the tree's and its queues under names of this run.
struct ExampleWithBroker {
    const QByteArray queuePrefix = "/ferrox-mqtt-test-" + QByteArray::number(QCoreApplication::applicationPid()) + "-";
    ~ExampleWithBroker()
    {
        for (const char *direction : {"in", "out"})
            ::mq_unlink((queuePrefix + direction).constData());
    }
    bool install(const InstallationTree &tree, quint16 port) const
    {
        const QDir source(QStringLiteral(FERROX_SOURCE_DIR "/examples/config"));
        QFile in(source.filePath(QStringLiteral("ferrox.cfg.in")));
        if (!in.open(QIODevice::ReadOnly))
            return false;
        QByteArray text = in.readAll();
        text.replace("@FERROX_EXAMPLE_DATA_DIR@", QFile::encodeName(QDir(tree.dataPath()).absolutePath()));
        text.replace("/ferrox-example-", queuePrefix);
        text.replace("@FERROX_EXAMPLE_MQTT_ON_BEGIN@", "-->").replace("@FERROX_EXAMPLE_MQTT_ON_END@", "<!--");
        text.replace("@FERROX_EXAMPLE_MQTT_HOST@", "127.0.0.1").replace("@FERROX_EXAMPLE_MQTT_PORT@", QByteArray::number(port));
        for (const QString &file : source.entryList(QDir::Files))
            if (file != QLatin1String("ferrox.cfg.in") && !QFile::copy(source.filePath(file), tree.configPath(file)))
                return false;
        return tree.writeConfig(QStringLiteral("ferrox.cfg"), text);
    }
};

bool anyStartsWith(const QList<QByteArray> &payloads, const QByteArray &start)
{
    for (const QByteArray &p : payloads)
        if (p.startsWith(start))
            return true;
    return false;
}

} // namespace

// The example's plant values go from its text file tie through the running
// program to a real broker; a set point sent to the broker comes back as the
// value the gateway holds; a program that stops says "offline".
TEST(MqttProgram, ExampleValuesReachTheBrokerAndASetPointComesBack)
{
    if (MqttBroker::program().isEmpty())
        GTEST_SKIP() << "the mosquitto broker is not installed (scripts/check installs it)";
    MqttBroker broker;
    QString error;
    ASSERT_TRUE(broker.start(&error)) << qPrintable(error);
    MqttSubscriber subscriber;
    ASSERT_TRUE(subscriber.connect(broker.port(), "plant/gw1/#"));
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const ExampleWithBroker example;
    ASSERT_TRUE(example.install(tree, broker.port()));
    QFile input(tree.dataPath(QStringLiteral("plant_input.txt")));
    ASSERT_TRUE(input.open(QIODevice::WriteOnly));
    input.write("pass 0\nTEMP_BOILER;81.5\nPRESS_STEAM;12.25\nPUMP_RUNNING;1\n");
    input.close();

    QProcess program;
    tree.start(program, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    // From the input file, and calculated from it by the Lua tie.
    EXPECT_TRUE(waitFor(
        [&] {
            return anyStartsWith(subscriber.payloads("plant/gw1/TEMP_BOILER"), "{\"value\":81.5,\"valid\":true,\"time\":\"")
                && anyStartsWith(subscriber.payloads("plant/gw1/TEMP_BOILER_F"), "{\"value\":178.7,\"valid\":true");
        },
        15000))
        << program.readAllStandardError().constData();
    EXPECT_EQ(subscriber.payloads("plant/gw1/status").value(0), "online");

    ASSERT_TRUE(subscriber.publish("plant/gw1/BOILER_SETPOINT/set", "{\"value\": 85.5}"));
    EXPECT_TRUE(waitFor(
        [&] { return anyStartsWith(subscriber.payloads("plant/gw1/BOILER_SETPOINT"), "{\"value\":85.5,\"valid\":true"); },
        10000));

    program.terminate();
    EXPECT_TRUE(program.waitForFinished(10000));
    EXPECT_TRUE(waitFor([&] { return subscriber.payloads("plant/gw1/status").value(1) == "offline"; }, 10000));
    EXPECT_FALSE(tree.readLog().contains("Error")) << tree.readLog().constData();
}
