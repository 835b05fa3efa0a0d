#ifndef BASETIEPARAM_H
#define BASETIEPARAM_H

#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstddef>

class BaseConverter;
class BaseTieUnit;

// One typed array of values with a validity or state sign, addressed by up to
// four identifiers (KKS, RTM, IID, ExtID). A provider is filled by its tie;
// a consumer is filled by its input converter from a provider of another tie.
// Storage, type, identifiers and the owning unit come from subclasses.
class BaseTieParam
{
public:
    BaseTieParam();
    virtual ~BaseTieParam();

    // Data type (a DPDataType value); base: 0.
    virtual quint32 metatype() const;
    // Number of elements; base: 0.
    virtual size_t count() const;
    // Direction bits of the owning unit; 0 without a unit.
    virtual quint32 direction() const;
    // Value storage for reading; null when there is none.
    virtual const uchar *values() const;
    // Value storage for writing; null when there is none.
    virtual uchar *valuesForWrite();
    // Bytes of value storage; base: 0.
    virtual size_t size() const;
    // Validity of element `index` by the data type's sign rules; false past
    // the element count, without storage or while the unit state is non-zero.
    virtual bool isValid(size_t index) const;
    // The same by the element's own bytes alone, whatever the unit state:
    // whether a value just written reads as invalid by itself.
    bool elementValid(size_t index) const;
    // Refreshes the parameter from its input converter, or fills every element
    // with the type's invalid pattern when it has none.
    virtual void reset();
    // Tells the owning unit that a conversion wrote this parameter.
    virtual void doPostConversionWork();
    // The owning unit's state, or -1 without a unit.
    virtual qint32 unitState() const;
    // The owning unit (not owned); null when none.
    virtual BaseTieUnit *myUnit();
    virtual const BaseTieUnit *myUnit() const;
    // A subclass-defined number (a list parameter's numeric index); base: -1.
    virtual qint64 number() const;
    // External identifier; base: empty.
    virtual QString extID() const;
    // A subclass-defined text (a list parameter's index as text); base: empty.
    virtual QString numberString() const;
    // Internal identifier; base: empty.
    virtual QString IID() const;
    // KKS code; base: empty.
    virtual QString KKS() const;
    // RTM code; base: empty.
    virtual QString RTM() const;
    // The parameter's name; base: empty.
    virtual QString name() const;
    // A further subclass-defined text; base: empty.
    virtual QString comment() const;
    // The unit's last updated date-time, or an invalid one.
    virtual QDateTime lastUpdated() const;
    // The time stamp of the parameter's data: the unit's data time, or invalid.
    virtual QDateTime dataTime() const;
    // Forwarded to the owning unit.
    virtual void updateLastUpdated(const QDateTime &dt);
    virtual void updateLastReceived(const QDateTime &dt);

    // Text naming the parameter in messages, built from KKS, RTM and IID
    // ("kks/rtm/iid=A", "rtm=X,iid=7", "?" when all three are empty).
    QString description() const;
    // description() of `param`, or "(NULL)" for a null pointer.
    static QString describe(const BaseTieParam *param);

    // The converter that feeds this parameter (not owned; null for providers).
    BaseConverter *inputConverter() const { return m_inputConverter; }
    void setInputConverter(BaseConverter *converter) { m_inputConverter = converter; }
    // Converters that read from this parameter (not owned; entries may be null).
    QList<BaseConverter *> &outConverters() { return m_outConverters; }
    const QList<BaseConverter *> &outConverters() const { return m_outConverters; }

private:
    BaseConverter *m_inputConverter;
    QList<BaseConverter *> m_outConverters;
};

#endif // BASETIEPARAM_H
