#include "conversion/conversionregistry.h"

#include <dpdatatype.h>

namespace {

using namespace conv;

// Every convertible pair, grouped by provider type. Same-type pairs copy
// whole elements; plain sources into valued targets set the sign; valued
// sources translate their sign into the target's.
const ConversionRow kTable[] = {
    {dpdtByte, dpdtByte, &anyTYPEtoTYPEconvert<Byte>},
    {dpdtByte, dpdtFloat, &INTTYPEtoFloatConvert<Byte, Float>},
    {dpdtByte, dpdtFloatValid, &INTTYPEtoFloatWithStateSignConvert<Byte, FloatValid>},
    {dpdtByte, dpdtSDWordValid, &INTTYPEtoSDWordWithStateSignConvert<Byte, SDWordValid>},
    {dpdtByte, dpdtFloatState, &INTTYPEtoFloatWithStateSignConvert<Byte, FloatState>},
    {dpdtByte, dpdtSDWordState, &INTTYPEtoSDWordWithStateSignConvert<Byte, SDWordState>},
    {dpdtByte, dpdtFloatErrCode, &INTTYPEtoFloatWithStateSignConvert<Byte, FloatErrCode>},
    {dpdtByte, dpdtSDWordErrCode, &INTTYPEtoSDWordWithStateSignConvert<Byte, SDWordErrCode>},

    {dpdtSByte, dpdtSByte, &anyTYPEtoTYPEconvert<SByte>},
    {dpdtSByte, dpdtFloat, &INTTYPEtoFloatConvert<SByte, Float>},
    {dpdtSByte, dpdtFloatValid, &INTTYPEtoFloatWithStateSignConvert<SByte, FloatValid>},
    {dpdtSByte, dpdtSDWordValid, &INTTYPEtoSDWordWithStateSignConvert<SByte, SDWordValid>},
    {dpdtSByte, dpdtFloatState, &INTTYPEtoFloatWithStateSignConvert<SByte, FloatState>},
    {dpdtSByte, dpdtSDWordState, &INTTYPEtoSDWordWithStateSignConvert<SByte, SDWordState>},
    {dpdtSByte, dpdtFloatErrCode, &INTTYPEtoFloatWithStateSignConvert<SByte, FloatErrCode>},

    {dpdtWord, dpdtWord, &anyTYPEtoTYPEconvert<Word>},
    {dpdtWord, dpdtFloat, &INTTYPEtoFloatConvert<Word, Float>},

    {dpdtSWord, dpdtSWord, &anyTYPEtoTYPEconvert<SWord>},
    {dpdtSWord, dpdtSByte, &swordToSByteConvert<SWord, SByte>},
    {dpdtSWord, dpdtFloat, &INTTYPEtoFloatConvert<SWord, Float>},
    {dpdtSWord, dpdtFloatValid, &minusOneInvalidINTTYPEtoFloatWithStateSignConvert<SWord, FloatValid>},
    {dpdtSWord, dpdtSDWordValid, &minusOneInvalidINTTYPEtoSDWordWithStateSignConvert<SWord, SDWordValid>},
    {dpdtSWord, dpdtFloatState, &minusOneInvalidINTTYPEtoFloatWithStateSignConvert<SWord, FloatState>},
    {dpdtSWord, dpdtSDWordState, &minusOneInvalidINTTYPEtoSDWordWithStateSignConvert<SWord, SDWordState>},
    {dpdtSWord, dpdtFloatErrCode, &minusOneInvalidINTTYPEtoFloatWithStateSignConvert<SWord, FloatErrCode>},
    {dpdtSWord, dpdtSDWordErrCode, &minusOneInvalidINTTYPEtoSDWordWithStateSignConvert<SWord, SDWordErrCode>},

    {dpdtDWord, dpdtDWord, &anyTYPEtoTYPEconvert<DWord>},
    {dpdtDWord, dpdtFloat, &INTTYPEtoFloatConvert<DWord, Float>},
    {dpdtDWord, dpdtSDWordValid, &INTTYPEtoSDWordWithStateSignConvert<DWord, SDWordValid>},
    {dpdtDWord, dpdtSDWordState, &INTTYPEtoSDWordWithStateSignConvert<DWord, SDWordState>},

    {dpdtSDWord, dpdtSDWord, &anyTYPEtoTYPEconvert<SDWord>},
    {dpdtSDWord, dpdtFloat, &INTTYPEtoFloatConvert<SDWord, Float>},
    {dpdtSDWord, dpdtFloatValid, &minusOneInvalidSdwordToFloatWithStateSignConvert<SDWord, FloatValid>},
    {dpdtSDWord, dpdtSDWordValid, &minusOneInvalidSdwordToSDWordWithStateSignConvert<SDWord, SDWordValid>},
    {dpdtSDWord, dpdtFloatState, &minusOneInvalidSdwordToFloatWithStateSignConvert<SDWord, FloatState>},
    {dpdtSDWord, dpdtSDWordState, &minusOneInvalidSdwordToSDWordWithStateSignConvert<SDWord, SDWordState>},
    {dpdtSDWord, dpdtFloatErrCode, &minusOneInvalidSdwordToFloatWithStateSignConvert<SDWord, FloatErrCode>},
    {dpdtSDWord, dpdtSDWordErrCode, &minusOneInvalidSdwordToSDWordWithStateSignConvert<SDWord, SDWordErrCode>},

    {dpdtQWord, dpdtSDWordValid, &INTTYPEtoSDWordWithStateSignConvert<QWord, SDWordValid>},
    {dpdtQWord, dpdtSDWordState, &INTTYPEtoSDWordWithStateSignConvert<QWord, SDWordState>},
    {dpdtSQWord, dpdtSDWordValid, &INTTYPEtoSDWordWithStateSignConvert<SQWord, SDWordValid>},
    {dpdtSQWord, dpdtSDWordState, &INTTYPEtoSDWordWithStateSignConvert<SQWord, SDWordState>},

    {dpdtFloat, dpdtFloat, &anyTYPEtoTYPEconvert<Float>},
    {dpdtFloat, dpdtSDWord, &floatToSDWordConvert<Float, SDWord>},
    {dpdtFloat, dpdtFloatValid, &floatToFloatWithStateSignConvert<Float, FloatValid>},
    {dpdtFloat, dpdtSDWordValid, &floatToSDWordWithStateSignConvert<Float, SDWordValid>},
    {dpdtFloat, dpdtFloatState, &floatToFloatWithStateSignConvert<Float, FloatState>},
    {dpdtFloat, dpdtSDWordState, &floatToSDWordWithStateSignConvert<Float, SDWordState>},
    {dpdtFloat, dpdtFloatErrCode, &floatToFloatWithStateSignConvert<Float, FloatErrCode>},
    {dpdtFloat, dpdtSDWordErrCode, &floatToSDWordWithStateSignConvert<Float, SDWordErrCode>},
    {dpdtFloat, dpdtDTSFloat, &floatToFiniteFloatWithStateSignConvert<Float, DTSFloat>},
    {dpdtFloat, dpdtDTSSDWord, &floatToSDWordWithStateSignConvert<Float, DTSSDWord>},
    {dpdtFloat, dpdtDTSSDWordDiscrete, &floatToDiscreteDWordWithStateSignConvert<Float, DTSSDWordDiscrete>},

    {dpdtDouble, dpdtDouble, &anyTYPEtoTYPEconvert<Double>},
    {dpdtDouble, dpdtFloatValid, &doubleToFloatWithStateSignConvert<Double, FloatValid>},
    {dpdtDouble, dpdtSDWordValid, &doubleToSDWordWithStateSignConvert<Double, SDWordValid>},
    {dpdtDouble, dpdtFloatState, &doubleToFloatWithStateSignConvert<Double, FloatState>},
    {dpdtDouble, dpdtSDWordState, &doubleToSDWordWithStateSignConvert<Double, SDWordState>},
    {dpdtDouble, dpdtFloatErrCode, &doubleToFloatWithStateSignConvert<Double, FloatErrCode>},
    {dpdtDouble, dpdtSDWordErrCode, &doubleToSDWordWithStateSignConvert<Double, SDWordErrCode>},
    {dpdtDouble, dpdtDTSFloat, &doubleToFloatWithStateSignConvert<Double, DTSFloat>},
    {dpdtDouble, dpdtDTSSDWord, &doubleToSDWordWithStateSignConvert<Double, DTSSDWord>},
    {dpdtDouble, dpdtDTSSDWordDiscrete, &doubleToFloatWithStateSignConvert<Double, DTSSDWordDiscrete>},

    {dpdtBool, dpdtBool, &anyTYPEtoTYPEconvert<Bool>},
    {dpdtBool, dpdtFloat, &INTTYPEtoFloatConvert<Bool, Float>},
    {dpdtBool, dpdtFloatValid, &INTTYPEtoFloatWithStateSignConvert<Bool, FloatValid>},
    {dpdtBool, dpdtSDWordValid, &INTTYPEtoSDWordWithStateSignConvert<Bool, SDWordValid>},
    {dpdtBool, dpdtFloatState, &INTTYPEtoFloatWithStateSignConvert<Bool, FloatState>},
    {dpdtBool, dpdtSDWordState, &INTTYPEtoSDWordWithStateSignConvert<Bool, SDWordState>},
    {dpdtBool, dpdtFloatErrCode, &INTTYPEtoFloatWithStateSignConvert<Bool, FloatErrCode>},
    {dpdtBool, dpdtSDWordErrCode, &INTTYPEtoSDWordWithStateSignConvert<Bool, SDWordErrCode>},

    {dpdtFloatValid, dpdtFloat, &floatWithStateSignTofloatConvert<FloatValid, Float>},
    {dpdtFloatValid, dpdtDouble, &floatWithStateSignToDoubleConvert<FloatValid, Double>},
    {dpdtFloatValid, dpdtSWord, &floatWithStateSignToINTTYPEConvert<FloatValid, SWord>},
    {dpdtFloatValid, dpdtSDWord, &floatWithStateSignToINTTYPEConvert<FloatValid, SDWord>},
    {dpdtFloatValid, dpdtFloatValid, &anyTYPEtoTYPEconvert<FloatValid>},
    {dpdtFloatValid, dpdtSDWordValid, &floatWithStateSignToSDWordWithStateSignConvert<FloatValid, SDWordValid>},
    {dpdtFloatValid, dpdtFloatState, &floatWithStateSignToFloatWithStateSignConvert<FloatValid, FloatState>},
    {dpdtFloatValid, dpdtSDWordState, &floatWithStateSignToSDWordWithStateSignConvert<FloatValid, SDWordState>},
    {dpdtFloatValid, dpdtFloatErrCode, &floatWithStateSignToFloatWithStateSignConvert<FloatValid, FloatErrCode>},
    {dpdtFloatValid, dpdtSDWordErrCode, &floatWithStateSignToSDWordWithStateSignConvert<FloatValid, SDWordErrCode>},
    {dpdtFloatValid, dpdtDTSFloat, &floatWithStateSignToFiniteFloatWithStateSignConvert<FloatValid, DTSFloat>},

    {dpdtSDWordValid, dpdtFloat, &sdwordWithStateSignTofloatConvert<SDWordValid, Float>},
    {dpdtSDWordValid, dpdtDouble, &sdwordWithStateSignToDoubleConvert<SDWordValid, Double>},
    {dpdtSDWordValid, dpdtSWord, &sdwordWithStateSignToSWordConvert<SDWordValid, SWord>},
    {dpdtSDWordValid, dpdtSDWord, &sdwordWithStateSignToSDWordConvert<SDWordValid, SDWord>},
    {dpdtSDWordValid, dpdtSQWord, &SDWordWithStateSignToINTTYPEConvert<SDWordValid, SQWord>},
    {dpdtSDWordValid, dpdtQWord, &SDWordWithStateSignToINTTYPEConvert<SDWordValid, QWord>},
    {dpdtSDWordValid, dpdtFloatValid, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordValid, FloatValid>},
    {dpdtSDWordValid, dpdtSDWordValid, &anyTYPEtoTYPEconvert<SDWordValid>},
    {dpdtSDWordValid, dpdtFloatState, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordValid, FloatState>},
    {dpdtSDWordValid, dpdtSDWordState, &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordValid, SDWordState>},
    {dpdtSDWordValid, dpdtFloatErrCode, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordValid, FloatErrCode>},
    {dpdtSDWordValid, dpdtSDWordErrCode,
     &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordValid, SDWordErrCode>},
    {dpdtSDWordValid, dpdtSWordErrCode, &sdwordWithStateSignToSWordWithStateSignConvert<SDWordValid, SWordErrCode>},
    {dpdtSDWordValid, dpdtDTSFloat, &sdwordWithStateSignToFiniteFloatWithStateSignConvert<SDWordValid, DTSFloat>},
    {dpdtSDWordValid, dpdtDTSSDWord, &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordValid, DTSSDWord>},
    {dpdtSDWordValid, dpdtDTSSDWordDiscrete,
     &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordValid, DTSSDWordDiscrete>},

    {dpdtFloatState, dpdtFloat, &floatWithStateSignTofloatConvert<FloatState, Float>},
    {dpdtFloatState, dpdtDouble, &floatWithStateSignToDoubleConvert<FloatState, Double>},
    {dpdtFloatState, dpdtSWord, &floatWithStateSignToINTTYPEConvert<FloatState, SWord>},
    {dpdtFloatState, dpdtSDWord, &floatWithStateSignToINTTYPEConvert<FloatState, SDWord>},
    {dpdtFloatState, dpdtFloatValid, &floatWithStateSignToFloatWithStateSignConvert<FloatState, FloatValid>},
    {dpdtFloatState, dpdtSDWordValid, &floatWithStateSignToSDWordWithStateSignConvert<FloatState, SDWordValid>},
    {dpdtFloatState, dpdtFloatState, &anyTYPEtoTYPEconvert<FloatState>},
    {dpdtFloatState, dpdtSDWordState, &floatWithStateSignToSDWordWithStateSignConvert<FloatState, SDWordState>},
    {dpdtFloatState, dpdtFloatErrCode, &floatWithStateSignToFloatWithStateSignConvert<FloatState, FloatErrCode>},
    {dpdtFloatState, dpdtSDWordErrCode, &floatWithStateSignToSDWordWithStateSignConvert<FloatState, SDWordErrCode>},
    {dpdtFloatState, dpdtDTSFloat, &floatWithStateSignToFiniteFloatWithStateSignConvert<FloatState, DTSFloat>},
    {dpdtFloatState, dpdtDTSSDWord, &floatWithStateSignToSDWordWithStateSignConvert<FloatState, DTSSDWord>},
    {dpdtFloatState, dpdtDTSSDWordDiscrete,
     &floatWithStateSignToSDWordWithStateSignConvert<FloatState, DTSSDWordDiscrete>},

    {dpdtSDWordState, dpdtFloat, &sdwordWithStateSignTofloatConvert<SDWordState, Float>},
    {dpdtSDWordState, dpdtDouble, &sdwordWithStateSignToDoubleConvert<SDWordState, Double>},
    {dpdtSDWordState, dpdtSWord, &sdwordWithStateSignToSWordConvert<SDWordState, SWord>},
    {dpdtSDWordState, dpdtSDWord, &sdwordWithStateSignToSDWordConvert<SDWordState, SDWord>},
    {dpdtSDWordState, dpdtQWord, &SDWordWithStateSignToINTTYPEConvert<SDWordState, QWord>},
    {dpdtSDWordState, dpdtSQWord, &SDWordWithStateSignToINTTYPEConvert<SDWordState, SQWord>},
    {dpdtSDWordState, dpdtFloatValid, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordState, FloatValid>},
    {dpdtSDWordState, dpdtSDWordValid, &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordState, SDWordValid>},
    {dpdtSDWordState, dpdtFloatState, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordState, FloatState>},
    {dpdtSDWordState, dpdtSDWordState, &anyTYPEtoTYPEconvert<SDWordState>},
    {dpdtSDWordState, dpdtFloatErrCode, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordState, FloatErrCode>},
    {dpdtSDWordState, dpdtSDWordErrCode,
     &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordState, SDWordErrCode>},
    {dpdtSDWordState, dpdtSWordErrCode, &sdwordWithStateSignToSWordWithStateSignConvert<SDWordState, SWordErrCode>},

    {dpdtFloatErrCode, dpdtFloat, &floatWithStateSignTofloatConvert<FloatErrCode, Float>},
    {dpdtFloatErrCode, dpdtDouble, &floatWithStateSignToDoubleConvert<FloatErrCode, Double>},
    {dpdtFloatErrCode, dpdtSWord, &floatWithStateSignToINTTYPEConvert<FloatErrCode, SWord>},
    {dpdtFloatErrCode, dpdtSDWord, &floatWithStateSignToINTTYPEConvert<FloatErrCode, SDWord>},
    {dpdtFloatErrCode, dpdtFloatValid, &floatWithStateSignToFloatWithStateSignConvert<FloatErrCode, FloatValid>},
    {dpdtFloatErrCode, dpdtSDWordValid, &floatWithStateSignToSDWordWithStateSignConvert<FloatErrCode, SDWordValid>},
    {dpdtFloatErrCode, dpdtFloatState, &floatWithStateSignToFloatWithStateSignConvert<FloatErrCode, FloatState>},
    {dpdtFloatErrCode, dpdtSDWordState, &floatWithStateSignToSDWordWithStateSignConvert<FloatErrCode, SDWordState>},
    {dpdtFloatErrCode, dpdtFloatErrCode, &anyTYPEtoTYPEconvert<FloatErrCode>},
    {dpdtFloatErrCode, dpdtSDWordErrCode,
     &floatWithStateSignToSDWordWithStateSignConvert<FloatErrCode, SDWordErrCode>},
    {dpdtFloatErrCode, dpdtDTSFloat, &floatWithStateSignToFiniteFloatWithStateSignConvert<FloatErrCode, DTSFloat>},
    {dpdtFloatErrCode, dpdtDTSSDWord, &floatWithStateSignToSDWordWithStateSignConvert<FloatErrCode, DTSSDWord>},
    {dpdtFloatErrCode, dpdtDTSSDWordDiscrete,
     &floatWithStateSignToSDWordWithStateSignConvert<FloatErrCode, DTSSDWordDiscrete>},

    {dpdtSDWordErrCode, dpdtFloat, &sdwordWithStateSignTofloatConvert<SDWordErrCode, Float>},
    {dpdtSDWordErrCode, dpdtDouble, &sdwordWithStateSignToDoubleConvert<SDWordErrCode, Double>},
    {dpdtSDWordErrCode, dpdtSWord, &sdwordWithStateSignToSWordConvert<SDWordErrCode, SWord>},
    {dpdtSDWordErrCode, dpdtSDWord, &sdwordWithStateSignToSDWordConvert<SDWordErrCode, SDWord>},
    {dpdtSDWordErrCode, dpdtFloatValid, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordErrCode, FloatValid>},
    {dpdtSDWordErrCode, dpdtSDWordValid,
     &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordErrCode, SDWordValid>},
    {dpdtSDWordErrCode, dpdtFloatState, &sdwordWithStateSignToFloatWithStateSignConvert<SDWordErrCode, FloatState>},
    {dpdtSDWordErrCode, dpdtSDWordState,
     &sdwordWithStateSignToSDWordWithStateSignConvert<SDWordErrCode, SDWordState>},
    {dpdtSDWordErrCode, dpdtFloatErrCode,
     &sdwordWithStateSignToFloatWithStateSignConvert<SDWordErrCode, FloatErrCode>},
    {dpdtSDWordErrCode, dpdtSDWordErrCode, &anyTYPEtoTYPEconvert<SDWordErrCode>},
    {dpdtSDWordErrCode, dpdtSWordErrCode,
     &sdwordWithStateSignToSWordWithStateSignConvert<SDWordErrCode, SWordErrCode>},

    {dpdtSWordErrCode, dpdtFloatValid, &swordErrCodeToFloatWithStateSignConvert<SWordErrCode, FloatValid>},
    {dpdtSWordErrCode, dpdtSDWordValid, &swordErrCodeToSDWordWithStateSignConvert<SWordErrCode, SDWordValid>},
    {dpdtSWordErrCode, dpdtFloatState, &swordErrCodeToFloatWithStateSignConvert<SWordErrCode, FloatState>},
    {dpdtSWordErrCode, dpdtSDWordState, &swordErrCodeToSDWordWithStateSignConvert<SWordErrCode, SDWordState>},
    {dpdtSWordErrCode, dpdtFloatErrCode, &swordErrCodeToFloatWithStateSignConvert<SWordErrCode, FloatErrCode>},
    {dpdtSWordErrCode, dpdtSDWordErrCode, &swordErrCodeToSDWordWithStateSignConvert<SWordErrCode, SDWordErrCode>},
    {dpdtSWordErrCode, dpdtDTSFloat, &swordErrCodeToFloatWithStateSignConvert<SWordErrCode, DTSFloat>},
    {dpdtSWordErrCode, dpdtDTSSDWord, &swordErrCodeToSDWordWithStateSignConvert<SWordErrCode, DTSSDWord>},
    {dpdtSWordErrCode, dpdtDTSSDWordDiscrete,
     &swordErrCodeToSDWordWithStateSignConvert<SWordErrCode, DTSSDWordDiscrete>},

    {dpdtWordDiscrete, dpdtWordDiscrete, &anyTYPEtoTYPEconvert<WordDiscrete>},
    {dpdtWordDiscrete, dpdtFloatValid, &wordDiscreteToFloatWithStateSignConvert<WordDiscrete, FloatValid>},
    {dpdtWordDiscrete, dpdtSDWordValid, &wordDiscreteToSDWordWithStateSignConvert<WordDiscrete, SDWordValid>},
    {dpdtWordDiscrete, dpdtFloatState, &wordDiscreteToFloatWithStateSignConvert<WordDiscrete, FloatState>},
    {dpdtWordDiscrete, dpdtSDWordState, &wordDiscreteToSDWordWithStateSignConvert<WordDiscrete, SDWordState>},
    {dpdtWordDiscrete, dpdtFloatErrCode, &wordDiscreteToFloatWithStateSignConvert<WordDiscrete, FloatErrCode>},
    {dpdtWordDiscrete, dpdtSDWordErrCode, &wordDiscreteToSDWordWithStateSignConvert<WordDiscrete, SDWordErrCode>},
    {dpdtWordDiscrete, dpdtDTSFloat, &wordDiscreteToFloatWithStateSignConvert<WordDiscrete, DTSFloat>},
    {dpdtWordDiscrete, dpdtDTSSDWord, &wordDiscreteToSDWordWithStateSignConvert<WordDiscrete, DTSSDWord>},
    {dpdtWordDiscrete, dpdtDTSSDWordDiscrete,
     &wordDiscreteToDiscreteDWordWithStateSignConvert<WordDiscrete, DTSSDWordDiscrete>},

    {dpdtDTSFloat, dpdtFloatValid, &floatWithStateSignToFloatWithStateSignConvert<DTSFloat, FloatValid>},
    {dpdtDTSFloat, dpdtFloatState, &floatWithStateSignToFloatWithStateSignConvert<DTSFloat, FloatState>},
    {dpdtDTSFloat, dpdtDTSFloat, &anyTYPEtoTYPEconvert<DTSFloat>},

    {dpdtDTSSDWord, dpdtSDWordValid, &sdwordWithStateSignToSDWordWithStateSignConvert<DTSSDWord, SDWordValid>},
    {dpdtDTSSDWord, dpdtSDWordState, &sdwordWithStateSignToSDWordWithStateSignConvert<DTSSDWord, SDWordState>},
    {dpdtDTSSDWord, dpdtDTSSDWord, &anyTYPEtoTYPEconvert<DTSSDWord>},
    {dpdtDTSSDWordDiscrete, dpdtSDWordValid,
     &sdwordWithStateSignToSDWordWithStateSignConvert<DTSSDWordDiscrete, SDWordValid>},
    {dpdtDTSSDWordDiscrete, dpdtSDWordState,
     &sdwordWithStateSignToSDWordWithStateSignConvert<DTSSDWordDiscrete, SDWordState>},
    {dpdtDTSSDWordDiscrete, dpdtDTSSDWordDiscrete, &anyTYPEtoTYPEconvert<DTSSDWordDiscrete>},

    {dpdtTimeVal, dpdtTimeVal, &anyTYPEtoTYPEconvert<TimeVal>},
    {dpdtTimeVal, dpdtDouble, &dataTimeTypesConvert<TimeVal, TimeAsDays>},
    {dpdtTimeVal, dpdtDWord, &dataTimeTypesConvert<TimeVal, TimeAsDWord>},

    {dpdtTimeSpec, dpdtTimeSpec, &dataTimeTypesConvert<TimeSpec, TimeSpec>},
    {dpdtTimeSpec, dpdtTimeSpec64, &dataTimeTypesConvert<TimeSpec, TimeSpec64>},
    {dpdtTimeSpec, dpdtDoubleDaySecsUTC, &dataTimeTypesConvert<TimeSpec, DaySecsUtc>},
    {dpdtTimeSpec, dpdtDoubleDaySecsLocal, &dataTimeTypesConvert<TimeSpec, DaySecsLocal>},
    {dpdtTimeSpec, dpdtDouble, &dataTimeTypesConvert<TimeSpec, TimeAsDays>},
    {dpdtTimeSpec, dpdtDWord, &dataTimeTypesConvert<TimeSpec, TimeAsDWord>},
    {dpdtTimeSpec64, dpdtTimeSpec, &dataTimeTypesConvert<TimeSpec64, TimeSpec>},
    {dpdtTimeSpec64, dpdtTimeSpec64, &dataTimeTypesConvert<TimeSpec64, TimeSpec64>},
    {dpdtTimeSpec64, dpdtDoubleDaySecsUTC, &dataTimeTypesConvert<TimeSpec64, DaySecsUtc>},
    {dpdtTimeSpec64, dpdtDoubleDaySecsLocal, &dataTimeTypesConvert<TimeSpec64, DaySecsLocal>},
    {dpdtTimeSpec64, dpdtDouble, &dataTimeTypesConvert<TimeSpec64, TimeAsDays>},
    {dpdtTimeSpec64, dpdtDWord, &dataTimeTypesConvert<TimeSpec64, TimeAsDWord>},

    {dpdtDoubleDaySecsUTC, dpdtDoubleDaySecsUTC, &anyTYPEtoTYPEconvert<DaySecsUtc>},
    {dpdtDoubleDaySecsLocal, dpdtDoubleDaySecsLocal, &anyTYPEtoTYPEconvert<DaySecsLocal>},
};

} // namespace

ConversionRegistry::ConversionRegistry() = default;

void ConversionRegistry::fill(const ConversionRow *rows, size_t count)
{
    if (!rows)
        return;
    for (size_t i = 0; i < count; ++i) {
        const ConversionRow &row = rows[i];
        if (row.function)
            m_functions.insert(key(static_cast<quint32>(row.provider), static_cast<quint32>(row.consumer)),
                               row.function);
    }
}

ConversionFunction ConversionRegistry::find(quint32 providerType, quint32 consumerType) const
{
    return m_functions.value(key(providerType, consumerType), nullptr);
}

int ConversionRegistry::size() const
{
    return m_functions.size();
}

QList<QPair<quint32, quint32>> ConversionRegistry::pairs() const
{
    QList<QPair<quint32, quint32>> result;
    result.reserve(m_functions.size());
    for (auto it = m_functions.cbegin(); it != m_functions.cend(); ++it)
        result.append(qMakePair(static_cast<quint32>(it.key() >> 32), static_cast<quint32>(it.key() & 0xFFFFFFFFu)));
    return result;
}

void ConversionRegistry::clear()
{
    m_functions.clear();
}

ConversionRegistry &ConversionRegistry::global()
{
    static ConversionRegistry registry;
    return registry;
}

void ConversionRegistry::fillGlobal()
{
    global().fill(kTable, builtinTableSize());
}

ConversionFunction ConversionRegistry::lookup(quint32 providerType, quint32 consumerType)
{
    return global().find(providerType, consumerType);
}

const ConversionRow *ConversionRegistry::builtinTable()
{
    return kTable;
}

size_t ConversionRegistry::builtinTableSize()
{
    return sizeof kTable / sizeof kTable[0];
}
