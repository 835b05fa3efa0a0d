#ifndef MQTTSETTINGS_H
#define MQTTSETTINGS_H

#include <QString>
#include <QtGlobal>

// What one `mqtt` section says about its broker, its topics and its buffer.
struct MqttSettings {
    // Broker host name or address, and its port.
    QString host;
    quint16 port = 1883;
    // The client identifier the broker knows the gateway by.
    QString clientId;
    // Seconds between two signs of life on an idle connection (0: none).
    quint16 keepalive = 30;
    // True: the broker forgets the session when the connection ends.
    bool cleanSession = true;
    // Quality of service of value messages and subscriptions (0 or 1).
    int qos = 1;
    // Whether value messages are retained by the broker.
    bool retain = false;
    // First levels of every topic, without a trailing "/" ("plant/gw1").
    QString topicPrefix;
    // Login; the password is read from a file at load time.
    QString username;
    QString password;
    bool hasPassword = false;
    // TLS: on when `caFile` is set (the broker's certificate is verified
    // against it and against `host`); a client certificate is optional.
    QString caFile;
    QString certFile;
    QString keyFile;
    // Bounds of the messages kept while the broker cannot take them.
    quint64 bufferMessages = 100000;
    quint64 bufferBytes = 64ull * 1024 * 1024;

    bool tls() const { return !caFile.isEmpty(); }
};

#endif // MQTTSETTINGS_H
