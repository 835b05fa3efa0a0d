#ifndef FUNCTIEPARAM_H
#define FUNCTIEPARAM_H

#include "config/csvtieparam.h"

// A list parameter that computes its own value when its unit is polled.
class FuncTieParam : public CsvTieParam
{
public:
    using CsvTieParam::CsvTieParam;
    ~FuncTieParam() override;

    // Recomputes the value; returns whether it changed. Base: false.
    virtual bool update();
};

#endif // FUNCTIEPARAM_H
