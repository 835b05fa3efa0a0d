#include "support/messagecapture.h"

namespace {
MessageCapture *g_current = nullptr;
}

MessageCapture::MessageCapture()
    : m_previous(qInstallMessageHandler(&MessageCapture::handler))
{
    g_current = this;
}

MessageCapture::~MessageCapture()
{
    g_current = nullptr;
    qInstallMessageHandler(m_previous);
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (g_current)
        g_current->m_messages.append({type, msg});
}

QStringList MessageCapture::texts() const
{
    QStringList out;
    for (const Message &m : m_messages)
        out << m.text;
    return out;
}

QStringList MessageCapture::warnings() const
{
    QStringList out;
    for (const Message &m : m_messages)
        if (m.type == QtWarningMsg || m.type == QtCriticalMsg)
            out << m.text;
    return out;
}

QStringList MessageCapture::debugs() const
{
    QStringList out;
    for (const Message &m : m_messages)
        if (m.type == QtDebugMsg || m.type == QtInfoMsg)
            out << m.text;
    return out;
}

int MessageCapture::count(const QString &text) const
{
    int n = 0;
    for (const Message &m : m_messages)
        if (m.text == text)
            ++n;
    return n;
}

bool MessageCapture::containsPart(const QString &part) const
{
    for (const Message &m : m_messages)
        if (m.text.contains(part))
            return true;
    return false;
}
