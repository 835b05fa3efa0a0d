#include "config/csvtieunit.h"

CsvTieUnit::CsvTieUnit(BaseTie *tie)
    : BaseTieUnit(tie)
{
}

CsvTieUnit::~CsvTieUnit() = default;

void CsvTieUnit::clearParams()
{
    m_csvParamsHash.clear();
    BaseTieUnit::clearParams();
}
