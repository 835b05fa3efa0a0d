#include "links/mqueue/mqtie.h"

#include "core/baseareatieunit.h"
#include "core/clock.h"
#include "core/diag.h"
#include "links/mqueue/mqconnection.h"

#include <utilfunctions.h>

#include <QCoreApplication>
#include <QStringList>

#include <cstring>

MQTie::MQTie(QObject *parent)
    : BaseAreaTie(parent)
    , m_state(BaseTieUnit::stNoData)
    , m_largestUnitSize(0)
    , m_inAreasStale(true)
{
}

MQTie::~MQTie()
{
    closeAll();
    qDeleteAll(m_connections);
    m_connections.clear();
}

QStringList MQTie::exclusiveClaims() const
{
    // Only the first queue is read.
    const MQConnection *first = m_connections.value(0);
    if (first && first->canRead())
        return {QStringLiteral("reading mqueue %1").arg(first->name())};
    return {};
}

void MQTie::takeOver(BaseTie &predecessor)
{
    auto *old = qobject_cast<MQTie *>(&predecessor);
    if (!old || old == this || m_connections.isEmpty() || old->m_connections.isEmpty() || !m_connections.first()
        || !old->m_connections.first() || m_connections.first()->name() != old->m_connections.first()->name()
        || !m_connections.first()->canRead())
        return;
    // Only a successor with an area to take them; else the predecessor's
    // drain returns them to the queue.
    bool reads = false;
    for (const BaseTieUnit *unit : units())
        reads = reads || (unit && (unit->direction() & BaseTieUnit::dirFromThis));
    if (!reads)
        return;
    m_inherited += old->m_inherited;
    old->m_inherited.clear();
    for (InArea &in : old->m_inAreas) {
        if (in.held)
            m_inherited.append(in.heldMessage);
        in.held = false;
    }
}

void MQTie::drain()
{
    MQConnection *queue = m_connections.isEmpty() ? nullptr : m_connections.first();
    for (const QByteArray &message : qAsConst(m_inherited))
        if (queue)
            queue->putBack(message.constData(), message.size());
    m_inherited.clear();
    for (InArea &in : m_inAreas) {
        if (!in.held)
            continue;
        in.held = false;
        if (queue)
            queue->putBack(in.heldMessage.constData(), in.heldMessage.size());
    }
}

qint32 MQTie::state() const
{
    return m_state;
}

void MQTie::sendDirty()
{
    BaseAreaTie::sendDirty();
    for (MQConnection *queue : qAsConst(m_connections))
        if (queue && queue->canWrite())
            queue->endSendFaultIfRecovered();
}

bool MQTie::deliveryFailing() const
{
    for (const MQConnection *queue : m_connections)
        if (queue && queue->canWrite() && queue->sendFailing())
            return true;
    return false;
}

void MQTie::setAreaSize(quint64 bytes)
{
    BaseAreaTie::setAreaSize(bytes);
    if (bytes > MaxMemoryBytes)
        return;
    const int before = m_memory.size();
    const int after = static_cast<int>(bytes);
    m_memory.resize(after);
    if (after > before)
        std::memset(m_memory.data() + before, 0, static_cast<size_t>(after - before));
}

void MQTie::addUnit(BaseAreaTieUnit *unit)
{
    BaseAreaTie::addUnit(unit);
    if (unit && unit->unitSize() > m_largestUnitSize)
        m_largestUnitSize = unit->unitSize();
    m_inAreasStale = true;
}

void MQTie::init()
{
    m_inAreasStale = true;
    m_owed.clear();
    BaseAreaTie::init();
}

uchar *MQTie::data(BaseAreaTieUnit *unit)
{
    if (!unit)
        return nullptr;
    const quint64 memory = static_cast<quint64>(m_memory.size());
    const quint64 offset = unit->offset();
    if (offset > memory || unit->unitSize() > memory - offset)
        return nullptr;
    return reinterpret_cast<uchar *>(m_memory.data()) + offset;
}

void MQTie::addConnection(MQConnection *connection)
{
    if (connection)
        connection->setParent(this);
    m_connections.append(connection);
}

bool MQTie::openAll()
{
    bool all = true;
    for (MQConnection *connection : qAsConst(m_connections)) {
        if (connection && !connection->isOpen() && !connection->open())
            all = false;
    }
    return all;
}

void MQTie::closeAll()
{
    for (MQConnection *connection : qAsConst(m_connections)) {
        if (connection)
            connection->close();
    }
}

void MQTie::refreshInAreas()
{
    m_inAreas.clear();
    for (BaseTieUnit *base : units()) {
        auto *unit = qobject_cast<BaseAreaTieUnit *>(base);
        if (!unit || !(unit->direction() & BaseTieUnit::dirFromThis) || !data(unit))
            continue;
        bool taken = false;
        for (const InArea &in : qAsConst(m_inAreas))
            taken = taken || in.size == unit->unitSize();
        if (taken) {
            GATE_DEBUG(1, "MQTie: unit %p is not read: an earlier \"in\" unit has its size (%zu bytes)",
                       static_cast<void *>(unit), static_cast<size_t>(unit->unitSize()));
            continue;
        }
        InArea in;
        in.unit = unit;
        in.size = unit->unitSize();
        in.heldMessage.resize(static_cast<int>(in.size));
        m_inAreas.append(in);
    }
    m_inAreasStale = false;
}

bool MQTie::pollUnitData(BaseAreaTieUnit *unit)
{
    GATE_DEBUG(3, "MQTie::pollUnitData(%p) was called", static_cast<void *>(unit));
    if (!unit || !data(unit))
        return false;
    if (!(unit->direction() & BaseTieUnit::dirFromThis)) {
        // An "out" unit beside the "in" ones: nothing to read, and the
        // tie is no worse for it.
        GATE_DEBUG(5, "MQTie::pollUnitData(%p) sending in wrong (disabled) direction", static_cast<void *>(unit));
        return false;
    }
    MQConnection *queue = m_connections.isEmpty() ? nullptr : m_connections.first();
    if (!queue || !queue->canRead()) {
        m_state = BaseTieUnit::stDisabled;
        return false;
    }
    if (m_inAreasStale)
        refreshInAreas();
    int index = 0;
    while (index < m_inAreas.size() && m_inAreas.at(index).unit != unit)
        ++index;
    if (index == m_inAreas.size())
        return false;
    if (index == 0)
        readQueue(queue);
    InArea &in = m_inAreas[index];
    const bool fresh = in.fresh;
    in.fresh = false;
    return fresh;
}

void MQTie::readQueue(MQConnection *queue)
{
    m_dropReport.clearWhenQuiet();
    for (InArea &in : m_inAreas) {
        in.taken = 0;
        if (in.held) {
            in.held = false;
            take(in, in.heldMessage.constData());
        }
    }
    // What a predecessor held is older than anything in the queue.
    for (const QByteArray &message : qAsConst(m_inherited)) {
        InArea *target = nullptr;
        for (int i = 0; i < m_inAreas.size() && !target; ++i)
            if (m_inAreas.at(i).size == static_cast<quint64>(message.size()))
                target = &m_inAreas[i];
        if (target)
            take(*target, message.constData());
        else
            drop(message.size());
    }
    m_inherited.clear();
    // Every message read counts, dropped ones too, so a writer cannot keep
    // the cycle busy.
    int budget = MaxMessagesPerUnit * m_inAreas.size();
    while (budget-- > 0) {
        const qint64 length = queue->receive();
        if (length < 0)
            break;
        TieCounters &count = counters();
        ++count.framesIn;
        count.bytesIn += static_cast<quint64>(length);
        InArea *target = nullptr;
        for (InArea &in : m_inAreas) {
            if (in.size == static_cast<quint64>(length)) {
                target = &in;
                break;
            }
        }
        if (!target) {
            drop(length);
            continue;
        }
        if (target->taken >= MaxMessagesPerUnit) {
            std::memcpy(target->heldMessage.data(), queue->message(), static_cast<size_t>(length));
            target->held = true;
            break;
        }
        take(*target, queue->message());
    }
}

void MQTie::take(InArea &in, const char *bytes)
{
    uchar *area = data(in.unit);
    if (!area)
        return;
    std::memcpy(area, bytes, static_cast<size_t>(in.size));
    in.unit->updateLastReceived(Clock::nowUtc());
    ++in.taken;
    in.fresh = true;
    m_state = BaseTieUnit::stOK;
    counters().valuesReceived += static_cast<quint64>(in.unit->params().size());
}

void MQTie::drop(qint64 length)
{
    ++counters().messagesDropped;
    // The lengths come from the writer and may change with every message:
    // while a streak runs, a drop of any length counts as a repeat of its
    // first line, and each drop's own line goes to the debug output.
    const bool first = !m_dropReport.active();
    if (!first && !debugEnabled(1)) {
        m_dropReport.report(m_dropWarning, m_dropLog);
        return;
    }
    QStringList sizes;
    for (const InArea &in : qAsConst(m_inAreas))
        sizes << QString::number(in.size);
    const QString list = sizes.join(QLatin1String(", "));
    const bool one = sizes.size() == 1;
    const QString unit = QString::asprintf("%p", static_cast<void *>(m_inAreas.first().unit));
    const QString bytes = QString::number(length);
    const QString warning = QStringLiteral("MQTie::pollUnitData(%1) received %2 bytes instead %3")
                                .arg(unit, bytes, one ? list : QStringLiteral("one of ") + list);
    if (!first) {
        GATE_DEBUG(1, "%s", qUtf8Printable(warning));
        m_dropReport.report(m_dropWarning, m_dropLog);
        return;
    }
    const char *logText = one ? "mqueue message of %1 bytes dropped: the area takes %2 bytes"
                              : "mqueue message of %1 bytes dropped: the areas take %2 bytes";
    m_dropWarning = warning;
    m_dropLog = QCoreApplication::translate("MQTie", logText).arg(bytes, list);
    m_dropReport.report(m_dropWarning, m_dropLog);
}

bool MQTie::sendUnitData(BaseAreaTieUnit *unit)
{
    GATE_DEBUG(3, "MQTie::sendUnitData(%p) was called", static_cast<void *>(unit));
    if (!paramsSwitch().isOpen()) {
        GATE_DEBUG(3, "    paramsSwitch is closed. Return");
        return false;
    }
    const uchar *area = data(unit);
    if (!area)
        return false;
    if (!(unit->direction() & BaseTieUnit::dirToThis)) {
        GATE_DEBUG(1, "MQTie::sendUnitData(%p) sending in wrong (disabled) direction", static_cast<void *>(unit));
        return false;
    }
    const quint64 size = unit->unitSize();
    GATE_DEBUG(3, "MQTie::sendUnitData: trying send area [0x%zX,+0x%zX) bytes to %i connections",
               static_cast<size_t>(unit->offset()), static_cast<size_t>(size), static_cast<int>(m_connections.size()));
    if (debugEnabled(6))
        qDebugDumpByteArray(QByteArray(reinterpret_cast<const char *>(area), static_cast<int>(size)));

    // After some queues took this update and others refused it, only those
    // that refused get it again; a newer update goes to every queue. (The
    // bytes cannot tell: a stamp written at each send changes them, and
    // equal values converted again are still an update.)
    const auto owed = m_owed.find(unit);
    const bool retry = owed != m_owed.end() && owed->conversions == unit->conversions();
    bool tried = false;
    bool taken = false;
    QVector<bool> refused;
    TieCounters &count = counters();
    for (int i = 0; i < m_connections.size(); ++i) {
        MQConnection *queue = m_connections.at(i);
        if (!queue) {
            GATE_DEBUG(2, "MQTie::sendUnitData: connection[%i] of unit (%p) is NULL", i, static_cast<void *>(unit));
            continue;
        }
        if (!queue->canWrite()) {
            GATE_DEBUG(4, "MQTie::sendUnitData: connection[%i] of unit (%p) is disabled for transmit", i,
                       static_cast<void *>(unit));
            continue;
        }
        if (retry && !owed->owes.value(i))
            continue;
        tried = true;
        if (!queue->send(reinterpret_cast<const char *>(area), static_cast<qint64>(size))) {
            refused.resize(m_connections.size());
            refused[i] = true;
            continue;
        }
        taken = true;
        ++count.framesOut;
        count.bytesOut += size;
        count.valuesSent += static_cast<quint64>(unit->params().size());
    }
    if (refused.isEmpty() && (taken || retry)) {
        unit->markSent();
        if (owed != m_owed.end())
            m_owed.erase(owed);
    } else if (taken || retry) {
        // The unit stays dirty until every queue holds this update.
        Owed &pending = m_owed[unit];
        pending.conversions = unit->conversions();
        pending.owes = refused;
    } else if (tried) {
        ++count.messagesRefused;
        if (owed != m_owed.end())
            m_owed.erase(owed);
    }
    // A unit counts as sent once, when its update first reached a queue.
    return taken && !retry;
}
