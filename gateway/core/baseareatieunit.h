#ifndef BASEAREATIEUNIT_H
#define BASEAREATIEUNIT_H

#include "core/basetieunit.h"

class BaseAreaTie;

// A unit occupying a slice of its area tie's byte area.
class BaseAreaTieUnit : public BaseTieUnit
{
    Q_OBJECT
public:
    explicit BaseAreaTieUnit(BaseTie *tie = nullptr);
    ~BaseAreaTieUnit() override;

    bool pollData() override;
    bool sendData() override;

    // Bytes of the unit's slice; base: 0.
    virtual quint64 unitSize() const;
    // First byte of the slice (the tie's data(this)); null without an area tie.
    virtual uchar *data();

    quint64 offset() const { return m_offset; }
    void setOffset(quint64 offset) { m_offset = offset; }

protected:
    // The tie as an area tie; null when there is none or it is of another class.
    BaseAreaTie *areaTie() const;

private:
    quint64 m_offset;
};

#endif // BASEAREATIEUNIT_H
