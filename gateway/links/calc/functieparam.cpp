#include "links/calc/functieparam.h"

FuncTieParam::~FuncTieParam() = default;

bool FuncTieParam::update()
{
    return false;
}
