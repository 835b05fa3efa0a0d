#ifndef MESSAGECAPTURE_H
#define MESSAGECAPTURE_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every message written to the framework's debug and warning output
// while it exists (nested captures are not supported), and hands them on to
// nobody: tests stay quiet.
class MessageCapture
{
public:
    struct Message {
        QtMsgType type;
        QString text;
    };

    MessageCapture();
    ~MessageCapture();

    const QList<Message> &messages() const { return m_messages; }
    // All texts, in order.
    QStringList texts() const;
    // Texts of warnings (and critical messages) only.
    QStringList warnings() const;
    // Texts of debug and info messages only.
    QStringList debugs() const;
    // Number of messages whose text equals `text`.
    int count(const QString &text) const;
    // True when some message's text equals `text`.
    bool contains(const QString &text) const { return count(text) > 0; }
    // True when some message's text contains `part`.
    bool containsPart(const QString &part) const;
    void clear() { m_messages.clear(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

    QList<Message> m_messages;
    QtMessageHandler m_previous;
};

#endif // MESSAGECAPTURE_H
