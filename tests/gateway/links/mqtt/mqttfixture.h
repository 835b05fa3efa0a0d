#ifndef MQTTFIXTURE_H
#define MQTTFIXTURE_H

#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "gateway/config/loaderfixture.h"
#include "links/mqtt/mqtttie.h"
#include "mqttbroker.h"
#include "support/fixedclock.h"

#include <memory>

// A configuration loaded through the real loader with the program's
// section table, a fixed clock, a broker of the test's own and a
// subscriber on it.
struct MqttFixture : LoaderFixture {
    FerroxXmlConfig loader{config, &makeConverter, ferroxSectionTable()};
    FixedClock clock{utc(2026, 12, 8, 4, 13, 25, 123)};
    std::unique_ptr<MqttBroker> broker;
    MqttSubscriber subscriber;

    MqttFixture() { FerroxXmlConfig::setLanguage(QString()); }

    // Skips the test when the broker is not installed.
    void SetUp() override
    {
        if (MqttBroker::program().isEmpty())
            GTEST_SKIP() << "the mosquitto broker is not installed (scripts/check installs it)";
    }
    // Destroys the ties while the broker still runs.
    void TearDown() override { config.clear(); }

    // Starts the broker and subscribes to everything on it.
    bool startBroker(const QString &listenerLines = QString(), const QString &globalLines = QString())
    {
        broker.reset(new MqttBroker(listenerLines, globalLines));
        QString error;
        if (!broker->start(&error)) {
            ADD_FAILURE() << qPrintable(error);
            return false;
        }
        return subscriber.connect(broker->plainPort());
    }

    // Loads a configuration whose root holds `body` and initialises every tie.
    bool load(const QByteArray &body)
    {
        const QByteArray text = "<config><misc><locale lang='en'/><times/></misc>" + body + "</config>";
        if (!loader.loadConf(write("ferrox.cfg", text)))
            return false;
        for (BaseTie *tie : config.ties())
            tie->init();
        return true;
    }

    // An `mqtt` section on the test broker with `attributes` and `lists`.
    QByteArray mqttSection(const QByteArray &attributes, const QByteArray &lists) const
    {
        return "<mqtt id='gw1' host='127.0.0.1' port='" + QByteArray::number(broker ? broker->port() : 1)
            + "' topicprefix='plant/gw1' " + attributes + ">" + lists + "</mqtt>";
    }
    // A `textfilein` section reading `values.txt` with providers T1..Tn of `list`.
    QByteArray inputSection(const QByteArray &list) const
    {
        write("in.csv", list);
        return "<textfilein id='in'><csvlist file='in.csv' index='0' type='1' kks='2' direction='in'/>"
               "<infile filename='" + dir.filePath("values.txt").toUtf8() + "'/></textfilein>";
    }

    // One main-cycle tick: poll and convert, calculate, send, over every tie.
    void tick()
    {
        for (BaseTie *tie : config.ties())
            tie->pollAndConvert();
        for (BaseTie *tie : config.ties())
            tie->calulate();
        for (BaseTie *tie : config.ties())
            tie->sendDirty();
    }

    MqttTie *mqtt() const
    {
        for (BaseTie *tie : config.ties()) {
            if (auto *m = qobject_cast<MqttTie *>(tie))
                return m;
        }
        return nullptr;
    }
    // The tie's connection, made as the first tick makes it.
    const QMqttConnection *connection() const
    {
        if (!mqtt()->connection())
            mqtt()->pollAndConvert();
        return mqtt()->connection();
    }
    // Waits until the broker accepted the connection.
    bool waitConnected(int msecs = 10000)
    {
        connection();
        return waitUntil([this] { return mqtt() && mqtt()->state() == 0; }, msecs);
    }
    // Waits until `count` messages arrived on `topic`.
    bool waitPayloads(const QByteArray &topic, int count, int msecs = 10000)
    {
        return waitUntil([&] { return subscriber.payloads(topic).size() >= count; }, msecs);
    }
};

#endif // MQTTFIXTURE_H
