// Feeds arbitrary set messages to the MQTT tie's payload reader: the first
// byte picks one of the data types a message can carry, the second the
// element the parameter holds before (all zero, all ones, or the bytes of
// the first message that was taken), and the rest is the payload.
//
// Besides crashes and sanitizer reports it checks that a refused payload
// leaves the element as it was and gives a reason, and that a taken one
// publishes a message that, set into a parameter of the same type, is
// taken too (unless it carries no value and the type cannot be voided) and
// publishes the same message again: one gateway relaying another's values
// changes none of them.
#include "fuzzsupport.h"
#include "links/mqtt/mqttpayload.h"
#include "support/memoryparam.h"

#include <QVector>

#include <cstring>

namespace {

// A tie that is up, so that validity is the element's own.
class OpenTie : public BaseTie
{
public:
    qint32 state() const override { return 0; }
    void addUnit(BaseTieUnit *unit) { appendUnit(unit); }
};

struct Carried {
    OpenTie tie;
    BaseTieUnit *unit = new BaseTieUnit(&tie);
    QVector<MemoryParam *> params; // two of each carried type: the target and the relay
    QByteArray taken;              // the element of the last payload taken

    Carried()
    {
        unit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(unit);
        for (quint32 type = 0; type < 64; ++type) {
            if (!MqttPayload::canCarry(type))
                continue;
            for (int i = 0; i < 2; ++i) {
                auto *p = new MemoryParam(unit, type, 1, size_t(MqttPayload::elementBytes(type)));
                unit->addParam(p);
                params.append(p);
            }
        }
    }
};

QByteArray bytesOf(const BaseTieParam &p)
{
    return QByteArray(reinterpret_cast<const char *>(p.values()), int(p.size()));
}

void setBytes(MemoryParam &p, const QByteArray &bytes)
{
    std::memcpy(p.valuesForWrite(), bytes.constData(), std::min<size_t>(p.size(), size_t(bytes.size())));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Carried carried;
    FuzzInput input(data, size);
    const int pair = int(input.pick(unsigned(carried.params.size() / 2)));
    MemoryParam &target = *carried.params[2 * pair];
    MemoryParam &relay = *carried.params[2 * pair + 1];
    const int size0 = int(target.size());
    switch (input.pick(3)) {
    case 0: setBytes(target, QByteArray(size0, '\0')); break;
    case 1: setBytes(target, QByteArray(size0, '\xff')); break;
    default: setBytes(target, carried.taken.leftJustified(size0, '\0', true)); break;
    }
    const QByteArray payload = input.rest();
    const QByteArray before = bytesOf(target);
    QString reason;
    if (!MqttPayload::write(payload, target, &reason)) {
        check(bytesOf(target) == before);
        check(!reason.isEmpty());
        return 0;
    }
    carried.taken = bytesOf(target);
    QByteArray message;
    MqttPayload::append(message, target, 1714564800250);
    setBytes(relay, QByteArray(size0, '\0'));
    QString relayReason;
    if (!MqttPayload::write(message, relay, &relayReason)) {
        // Only a message of no value (a time past what the text can show,
        // into a type that has no invalid value) may be refused.
        check(message.contains("\"valid\":false") && !relayReason.isEmpty());
        return 0;
    }
    QByteArray again;
    MqttPayload::append(again, relay, 1714564800250);
    check(again == message);
    return 0;
}
