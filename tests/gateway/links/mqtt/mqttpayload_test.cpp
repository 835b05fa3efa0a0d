#include "links/mqtt/mqttpayload.h"
#include "links/mqtt/mqtttie.h"
#include "support/memoryparam.h"
#include "support/scopedtimezone.h"

#include <dpdatatype.h>

#include <QDateTime>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

namespace {

template<typename T>
QByteArray le(T v)
{
    return QByteArray(reinterpret_cast<const char *>(&v), sizeof v);
}
QByteArray f32(float v) { return le(v); }
QByteArray u32(quint32 v) { return le(v); }
QByteArray s32(qint32 v) { return le(v); }

// A parameter of an MQTT unit as the tie publishes and sets them.
struct Payload : ::testing::Test {
    MqttTie tie{MqttSettings()};
    MqttTieUnit *unit = new MqttTieUnit(&tie);
    std::vector<MemoryParam *> params;

    Payload()
    {
        unit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(unit);
    }
    MemoryParam &param(quint32 type, const QByteArray &element)
    {
        auto *p = new MemoryParam(unit, type, 1, size_t(element.size()));
        std::memcpy(p->valuesForWrite(), element.constData(), size_t(element.size()));
        unit->addParam(p);
        return *p;
    }
    static QByteArray bytes(const BaseTieParam &p)
    {
        return QByteArray(reinterpret_cast<const char *>(p.values()), int(p.size()));
    }
    static QByteArray message(const BaseTieParam &p, qint64 msecs = 0)
    {
        QByteArray out;
        MqttPayload::append(out, p, msecs);
        return out;
    }
};

struct Published {
    const char *name;
    quint32 type;
    QByteArray element;
    const char *json; // between {"value": and ,"time"
};

void PrintTo(const Published &row, std::ostream *os)
{
    *os << row.name;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();

const std::vector<Published> kPublished = {
    {"ValidWordGivesValid", dpdtFloatValid, f32(12.5f) + u32(1), "12.5,\"valid\":true"},
    {"ValidWordZeroGivesInvalid", dpdtFloatValid, f32(12.5f) + u32(0), "12.5,\"valid\":false"},
    {"FloatInItsShortestForm", dpdtFloat, f32(0.1f), "0.1,\"valid\":true"},
    {"NotANumberIsNullAndInvalid", dpdtFloatValid, f32(kNaN) + u32(1), "null,\"valid\":false"},
    {"StateWordAsItStands", dpdtSDWordState, s32(-7) + u32(3), "-7,\"valid\":true,\"state\":3"},
    {"StateSevenIsInvalid", dpdtFloatState, f32(1) + u32(7), "1,\"valid\":false,\"state\":7"},
    {"ErrorCodeAsItStands", dpdtFloatErrCode, f32(2) + u32(5), "2,\"valid\":false,\"code\":5"},
    {"SixteenBitValueAndCode", dpdtSWordErrCode, le<qint16>(-2) + le<quint16>(0), "-2,\"valid\":true,\"code\":0"},
    {"StatusWordIsTheState", dpdtDTSFloat, f32(3) + u32(0x200), "3,\"valid\":false,\"state\":512"},
    {"BoolIsTrueOrFalse", dpdtBool, le<quint8>(1), "true,\"valid\":true"},
    {"WholeUnsigned64Bits", dpdtQWord, le<quint64>(~0ull), "18446744073709551615,\"valid\":true"},
    {"TimeValOfNoFractionIsNoTime", dpdtTimeVal, u32(~0u) + u32(~0u), "null,\"valid\":false"},
    {"DoubleExponent", dpdtDouble, le(1e300), "1e+300,\"valid\":true"},
    {"TimeSpecAsIsoText", dpdtTimeSpec, u32(1796704405) + u32(500000000),
     "\"2026-12-08T04:33:25.500Z\",\"valid\":true"},
};

struct PublishedForms : Payload, ::testing::WithParamInterface<Published> {
};

struct Written {
    const char *name;
    quint32 type;
    const char *payload;
    QByteArray element; // what the element holds afterwards; empty: refused
    const char *reason; // part of the reason when refused
};

void PrintTo(const Written &row, std::ostream *os)
{
    *os << row.name;
}

const QByteArray kRefused;

const std::vector<Written> kWritten = {
    {"ObjectValueIsValid", dpdtFloatValid, "{\"value\": 85.5}", f32(85.5f) + u32(1), ""},
    {"ObjectValueGivenInvalid", dpdtFloatValid, "{\"value\":3,\"valid\":false}", f32(3) + u32(0), ""},
    {"BareNumber", dpdtSDWordValid, " 7\n", s32(7) + u32(1), ""},
    {"NullIsInvalid", dpdtFloatValid, "null", u32(0xFFFFFFFF) + u32(0), ""},
    {"StateGivenWins", dpdtFloatState, "{\"value\":1,\"valid\":true,\"state\":6}", f32(1) + u32(6), ""},
    {"InvalidGivesStateSeven", dpdtSDWordState, "{\"value\":1,\"valid\":false}", s32(1) + u32(7), ""},
    {"CodeGiven", dpdtFloatErrCode, "{\"value\":2,\"code\":4}", f32(2) + u32(4), ""},
    // An invalid mark is not undone by a sign that reads as valid (the
    // gateway publishes a value of no number as null, invalid, state 0).
    {"InvalidWithValidStateStaysInvalid", dpdtFloatState, "{\"value\":null,\"valid\":false,\"state\":0}",
     u32(0xFFFFFFFF) + u32(7), ""},
    {"InvalidWithCodeZeroStaysInvalid", dpdtSWordErrCode, "{\"value\":3,\"valid\":false,\"code\":0}",
     le<qint16>(3) + le<quint16>(1), ""},
    // A float's invalid pattern is its NaN, which the gateway publishes as
    // invalid: voiding it must not be refused, or a relayed void is lost.
    {"NullIntoFloatIsNaN", dpdtFloat, "null", u32(0xFFFFFFFF), ""},
    {"InvalidIntoDoubleIsNaN", dpdtDouble, "{\"value\":1,\"valid\":false}", QByteArray(8, '\xff'), ""},
    // A type without an invalid pattern refuses to be voided instead of
    // keeping its old value as if it were new.
    {"NullIntoTimeSpecIsRefused", dpdtTimeSpec, "null", kRefused, "TIMESPEC has no invalid value"},
    {"InvalidIntoBoolIsRefused", dpdtBool, "{\"value\":true,\"valid\":false}", kRefused, "has no invalid value"},
    // Seconds of the day are never valid, so the gateway publishes them as
    // not valid; relayed, the value was dropped and the old one kept.
    {"NeverValidTypeTakesItsValue", dpdtDoubleDaySecsUTC, "{\"value\":60.5,\"valid\":false}", le<double>(60.5), ""},
    {"NeverValidTypeTakesNull", dpdtDoubleDaySecsLocal, "null", QByteArray(8, '\xff'), ""},
    // An error code is its own mark: relayed as invalid, it became all ones.
    {"InvalidErrorCodeKeepsItsCode", dpdtErrCodeDWord, "{\"value\":-7,\"valid\":false}", s32(-7), ""},
    {"ValidValueGivenInvalidIsVoided", dpdtErrCodeDWord, "{\"value\":0,\"valid\":false}", s32(-1), ""},
    {"TrueIntoBool", dpdtBool, "true", le<quint8>(1), ""},
    // The largest values as published, which a double rounds up past them.
    {"AllOnesIntoQword", dpdtQWord, "18446744073709551615", le<quint64>(~0ull), ""},
    {"LargestIntoSqword", dpdtSQWord, "9223372036854775807", le<qint64>(std::numeric_limits<qint64>::max()), ""},
    {"BeyondQword", dpdtQWord, "1.9e19", kRefused, "does not fit QWORD"},
    {"QuotedTimeIntoTimeSpec", dpdtTimeSpec, "\"2026-12-08T04:33:25.500Z\"", u32(1796704405) + u32(500000000), ""},
    {"BareTimeWithoutZoneIsUtc", dpdtTimeSpec, "2026-12-08T04:33:25", u32(1796704405) + u32(0), ""},
    // The rows run in a zone with summer time: this hour does not exist there.
    {"BareTimeInTheMachinesSpringGapIsUtc", dpdtTimeSpec, "2026-03-29T02:30:00", u32(1774751400) + u32(0), ""},
    {"FractionIntoInteger", dpdtSDWordValid, "3.5", kRefused, "3.5 does not fit SDWORDVALID"},
    {"TooLargeForSdword", dpdtSDWord, "1e10", kRefused, "does not fit SDWORD"},
    {"TooLargeForSword", dpdtSWord, "{\"value\":70000}", kRefused, "70000 does not fit SWORD"},
    {"NegativeIntoWord", dpdtWord, "-1", kRefused, "-1 does not fit WORD"},
    {"BeyondFloat", dpdtFloat, "1e39", kRefused, "does not fit FLOAT"},
    {"TwoIntoBool", dpdtBool, "2", kRefused, "2 does not fit BOOL"},
    {"TextIntoFloat", dpdtFloatValid, "\"85\"", kRefused, "a text does not fit FLOATVALID"},
    {"NotJson", dpdtFloatValid, "{\"value\": 1", kRefused, "not JSON"},
    // The parser lost the memory of an earlier array or object of a
    // repeated key, message by message (the escaped spelling is the same key).
    {"RepeatedKeyIsRefused", dpdtFloatValid, "{\"value\":1,\"x\":[1,{}],\"\\u0078\":0}", kRefused,
     "a key is repeated in an object"},
    {"RepeatedKeyInABareValue", dpdtFloatValid, "[{\"a\":{},\"a\":1}]", kRefused, "a key is repeated"},
    {"SameKeyInTwoObjectsIsTaken", dpdtFloatValid, "{\"value\":2,\"m\":{\"k\":1},\"n\":{\"k\":[\"k\"]}}",
     f32(2) + u32(1), ""},
    {"NoValue", dpdtFloatValid, "{\"val\": 1}", kRefused, "no \"value\""},
    {"ValidNotBoolean", dpdtFloatValid, "{\"value\":1,\"valid\":\"yes\"}", kRefused, "\"valid\" is not true or false"},
    {"StateOutOfRange", dpdtFloatState, "{\"value\":1,\"state\":-1}", kRefused, "\"state\" is not a whole number"},
    {"Words", dpdtFloatValid, "eighty", kRefused, "not a number, true, false, a text or a JSON object"},
    {"NotATime", dpdtTimeSpec, "\"yesterday\"", kRefused, "is not an ISO 8601 time"},
    // A reason quoting the payload would have written a forged log line.
    {"QuotedTextCannotBreakALine", dpdtTimeSpec, "x\n2026-01-01 00:00:00.000\tstopped\x1b", kRefused,
     "\"x\\n2026-01-01 00:00:00.000\\tstopped\\x1b\" is not an ISO 8601 time"},
};

struct WrittenForms : Payload, ::testing::WithParamInterface<Written> {
};

} // namespace

TEST_P(PublishedForms, ElementIsWrittenAsItsJsonMessage)
{
    const Published &row = GetParam();
    const MemoryParam &p = param(row.type, row.element);
    EXPECT_EQ(message(p), QByteArray("{\"value\":") + row.json + ",\"time\":\"1970-01-01T00:00:00.000Z\"}");
}

INSTANTIATE_TEST_SUITE_P(Types, PublishedForms, ::testing::ValuesIn(kPublished),
                         [](const ::testing::TestParamInfo<Published> &info) { return std::string(info.param.name); });

TEST_P(WrittenForms, PayloadIsWrittenOrRefusedLeavingTheElement)
{
    const ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const Written &row = GetParam();
    const QByteArray before(MqttPayload::elementBytes(row.type), '\x5A');
    MemoryParam &p = param(row.type, before);
    QString reason;
    const bool ok = MqttPayload::write(row.payload, p, &reason);
    if (row.element.isEmpty()) {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(reason.contains(QLatin1String(row.reason))) << qPrintable(reason);
        EXPECT_EQ(bytes(p), before);
    } else {
        EXPECT_TRUE(ok) << qPrintable(reason);
        EXPECT_EQ(bytes(p).toHex(), row.element.toHex());
    }
    // The same in a unit that has had no data yet (its state not 0): an
    // invalid mark was lost there, judged by the state instead of the bytes.
    unit->setDirection(BaseTieUnit::dirFromThis);
    ASSERT_NE(unit->state(), 0);
    MemoryParam &fresh = param(row.type, before);
    QString again;
    EXPECT_EQ(MqttPayload::write(row.payload, fresh, &again), ok);
    EXPECT_EQ(bytes(fresh).toHex(), bytes(p).toHex());
}

INSTANTIATE_TEST_SUITE_P(Payloads, WrittenForms, ::testing::ValuesIn(kWritten),
                         [](const ::testing::TestParamInfo<Written> &info) { return std::string(info.param.name); });

TEST_F(Payload, TimeTextsAgreeWithTheCalendarAcrossCenturiesAndLeapDays)
{
    // Steps of a prime number of milliseconds cover every field from 1900 to 2300.
    const qint64 first = QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 last = QDateTime(QDate(2300, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    for (qint64 msecs = first; msecs < last; msecs += 86399999 * 7 + 13) {
        QByteArray text;
        MqttPayload::appendIsoTime(text, msecs);
        ASSERT_EQ(text, QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1());
    }
    QByteArray leap;
    MqttPayload::appendIsoTime(leap, QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 999), Qt::UTC).toMSecsSinceEpoch());
    EXPECT_EQ(leap, "2024-02-29T23:59:59.999Z");
}

TEST_F(Payload, TypesWithoutAValueFormCannotTravel)
{
    for (quint32 type : {dpdtNone, dpdtExtended, dpdtBit, dpdtAsciiz, dpdtBlobQString, dpdtTimeWithMsecs, dpdtDoubleValid})
        EXPECT_FALSE(MqttPayload::canCarry(type)) << type;
    EXPECT_TRUE(MqttPayload::canCarry(dpdtDTSSDWordDiscrete));
}
