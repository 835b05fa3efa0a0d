#ifndef MQTTFIXTURE_H
#define MQTTFIXTURE_H

#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "gateway/links/tiefixture.h"
#include "links/mqtt/mqtttie.h"
#include "mqttbroker.h"

#include <memory>

// Ties loaded through the real loader (TieFixture), a broker of the
// test's own and a subscriber on it.
struct MqttFixture : TieFixture {
    std::unique_ptr<MqttBroker> broker;
    MqttSubscriber subscriber;

    MqttFixture() { clock.set(utc(2026, 12, 8, 4, 13, 25, 123)); }

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
