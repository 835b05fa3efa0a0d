#ifndef CSVTIEUNIT_H
#define CSVTIEUNIT_H

#include "config/csvparamshash.h"
#include "core/basetieunit.h"

// A unit whose parameters come from one parameter list. Besides the
// identifier index it keeps the index by data type and numeric index.
class CsvTieUnit : public BaseTieUnit
{
    Q_OBJECT
public:
    // `tie` becomes the unit's tie (not owned).
    explicit CsvTieUnit(BaseTie *tie = nullptr);
    ~CsvTieUnit() override;

    // The index by data type and numeric index (does not own the parameters).
    CsvParamsHash &csvParamsHash() { return m_csvParamsHash; }
    const CsvParamsHash &csvParamsHash() const { return m_csvParamsHash; }

    // Deletes every parameter and clears both indexes, so that neither
    // keeps pointers to deleted parameters.
    void clearParams();

private:
    CsvParamsHash m_csvParamsHash;
};

#endif // CSVTIEUNIT_H
