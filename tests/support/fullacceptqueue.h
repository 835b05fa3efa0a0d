#ifndef FULLACCEPTQUEUE_H
#define FULLACCEPTQUEUE_H

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A listener on 127.0.0.1 whose accept queue is full (a connection of its
// own waits in it): the handshake of the next connection attempt is
// dropped, so the attempt stays pending until makeRoom() and a retry of
// the connect. `port` 0 takes any free port; a given one may be a port
// just closed.
class FullAcceptQueue
{
public:
    explicit FullAcceptQueue(quint16 port = 0)
        : m_listener(::socket(AF_INET, SOCK_STREAM, 0))
        , m_filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const int on = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        m_ok = ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::listen(m_listener, 0) == 0
            && ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) == 0;
        m_port = ntohs(address.sin_port);
        if (m_ok)
            ::connect(m_filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::usleep(50 * 1000); // the filler's handshake completes
    }
    ~FullAcceptQueue() { close(); }
    FullAcceptQueue(const FullAcceptQueue &) = delete;
    FullAcceptQueue &operator=(const FullAcceptQueue &) = delete;

    bool isValid() const { return m_ok; }
    quint16 port() const { return m_port; }
    // Takes the waiting connection: the next try of a pending one is taken.
    void makeRoom() { ::close(::accept(m_listener, nullptr, nullptr)); }
    void close()
    {
        if (m_filler >= 0)
            ::close(m_filler);
        if (m_listener >= 0)
            ::close(m_listener);
        m_filler = m_listener = -1;
    }

private:
    int m_listener;
    int m_filler;
    quint16 m_port = 0;
    bool m_ok = false;
};

#endif // FULLACCEPTQUEUE_H
