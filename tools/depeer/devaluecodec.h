#ifndef DEVALUECODEC_H
#define DEVALUECODEC_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// How the values of one data type are written as text by the peer program
// and laid out on the wire (little-endian, one element of the type):
//   plain numbers     "12", "-3", "1.5"
//   value with a word "21.5/1" (value, then its valid, state, error or
//                     status word; a missing word means valid)
//   times             "1714564800/250000" (seconds, then the fraction word)
//   anything          "hex:0011aabb" (the bytes as they go out)
class DEValueCodec
{
public:
    // The codec of data type `type`; types without a value size have none.
    explicit DEValueCodec(quint32 type);

    // False when the type carries no value.
    bool isValid() const { return m_size > 0; }
    // Bytes of one value.
    int size() const { return m_size; }
    // The bytes of `text`; false (with `error` set) when it does not parse.
    bool parse(const QString &text, QByteArray &bytes, QString *error) const;
    // The text of the value in `bytes` (at least size() bytes).
    QString format(const char *bytes) const;
    // Adds `step` to the value's number (the first word), in place.
    void addStep(char *bytes, double step) const;

private:
    enum class Shape { None, U8, S8, U16, S16, U32, S32, U64, S64, F32, F64, F32Word, S32Word, U32Pair, U64Pair };
    Shape m_shape;
    int m_size;
    quint32 m_validWord; // the word of "value/word" when none is written
};

#endif // DEVALUECODEC_H
