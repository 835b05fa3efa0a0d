#ifndef MQFIXTURE_H
#define MQFIXTURE_H

#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "gateway/links/tiefixture.h"
#include "links/mqueue/mqtie.h"
#include "support/fixedclock.h"

#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mqueue.h>
#include <unistd.h>

// Queue names of one test, unique on the machine (process id and a count),
// unlinked when the object goes, whatever the test's outcome.
class ScopedQueues
{
public:
    ScopedQueues() = default;
    ScopedQueues(const ScopedQueues &) = delete;
    ScopedQueues &operator=(const ScopedQueues &) = delete;
    ~ScopedQueues()
    {
        for (const QByteArray &name : qAsConst(m_names))
            ::mq_unlink(name.constData());
    }

    // A fresh name ("/ferrox-test-<pid>-<n>-<what>"); the queue is not created.
    QString name(const char *what)
    {
        static int counter = 0;
        const QString name = QStringLiteral("/ferrox-test-%1-%2-%3").arg(::getpid()).arg(++counter).arg(what);
        m_names << name.toLocal8Bit();
        return name;
    }
    // Creates the queue `name` with its own capacity and message size.
    static bool create(const QString &name, long maxMessages, long messageSize)
    {
        struct mq_attr attr;
        std::memset(&attr, 0, sizeof attr);
        attr.mq_maxmsg = maxMessages;
        attr.mq_msgsize = messageSize;
        const mqd_t q = ::mq_open(name.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK, 0600, &attr);
        if (q == static_cast<mqd_t>(-1))
            return false;
        ::mq_close(q);
        return true;
    }
    // Puts `bytes` into the existing queue `name`; false when it refuses.
    static bool put(const QString &name, const QByteArray &bytes)
    {
        const mqd_t q = ::mq_open(name.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
        if (q == static_cast<mqd_t>(-1))
            return false;
        const bool ok = ::mq_send(q, bytes.constData(), static_cast<size_t>(bytes.size()), 0) == 0;
        ::mq_close(q);
        return ok;
    }
    // Every message waiting in the queue `name`, oldest first (taken out).
    static QList<QByteArray> takeAll(const QString &name)
    {
        QList<QByteArray> messages;
        const mqd_t q = ::mq_open(name.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        if (q == static_cast<mqd_t>(-1))
            return messages;
        struct mq_attr attr;
        ::mq_getattr(q, &attr);
        QByteArray buffer(static_cast<int>(attr.mq_msgsize), '\0');
        ssize_t n;
        while ((n = ::mq_receive(q, buffer.data(), static_cast<size_t>(buffer.size()), nullptr)) >= 0)
            messages << buffer.left(static_cast<int>(n));
        ::mq_close(q);
        return messages;
    }
    // True when a queue of that name exists.
    static bool exists(const QString &name)
    {
        const mqd_t q = ::mq_open(name.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        if (q == static_cast<mqd_t>(-1))
            return false;
        ::mq_close(q);
        return true;
    }

private:
    QList<QByteArray> m_names;
};

// A configuration in a temporary directory loaded through the real loader
// with the program's section table, real queues, a fixed clock and the main
// cycle's three passes.
struct MQFixture : TieFixture {
    ScopedQueues queues;

    // A 16-byte area: T1 FLOATVALID at 0, N1 SDWORDSTATE at 8.
    static constexpr const char *kPair = "PAIR\n16\nT1,type_rval,0,1,1,1\nN1,type_sival,8,1,1,1\n";
    // The same records the other way round.
    static constexpr const char *kPairSwapped = "PAIR\n16\nN1,type_sival,0,1,1,1\nT1,type_rval,8,1,1,1\n";

    MQFixture()
    {
    }



    MQTie *tie(int i) const { return i < config.ties().size() ? qobject_cast<MQTie *>(config.ties().at(i)) : nullptr; }
    BaseTieUnit *unit(int t, int u) const
    {
        MQTie *mq = tie(t);
        return mq && u < mq->units().size() ? mq->units().at(u) : nullptr;
    }
    BaseTieParam *provider(const QString &id) const { return config.paramsHash().find(id); }

    // `value` and `sign` as one 8-byte element (a 32-bit value, then its sign word).
    template<typename T>
    static QByteArray element(T value, quint32 sign)
    {
        QByteArray bytes(8, '\0');
        std::memcpy(bytes.data(), &value, 4);
        std::memcpy(bytes.data() + 4, &sign, 4);
        return bytes;
    }
    // A message for the PAIR area.
    static QByteArray pair(float t1, qint32 n1, quint32 t1Valid = 1, quint32 n1State = 0)
    {
        return element(t1, t1Valid) + element(n1, n1State);
    }
    // Word `i` (of T's width) of a parameter's storage.
    template<typename T = quint32>
    static T word(const BaseTieParam *p, int i)
    {
        T v{};
        if (p && p->values() && p->size() >= (i + 1) * sizeof(T))
            std::memcpy(&v, p->values() + i * sizeof(T), sizeof v);
        return v;
    }

    // A `defarea` element over the definition file `file` (written from
    // `definition` when given).
    QByteArray area(const char *file, const char *direction, const char *definition = nullptr) const
    {
        if (definition)
            write(QString::fromLatin1(file), definition);
        return QByteArray("<defarea file='") + file + "' direction='" + direction + "'/>";
    }
    static QByteArray connection(const QString &name, const char *direction)
    {
        return "<connection filename='" + name.toLocal8Bit() + "' direction='" + direction + "'/>";
    }
};

#endif // MQFIXTURE_H
