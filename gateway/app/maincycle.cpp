#include "app/maincycle.h"

#include "core/basetie.h"

void runMainCycle(const QList<BaseTie *> &ties)
{
    for (BaseTie *tie : ties)
        if (tie)
            tie->pollAndConvert();
    for (BaseTie *tie : ties)
        if (tie)
            tie->calulate();
    for (BaseTie *tie : ties)
        if (tie)
            tie->sendDirty();
}

void finishTies(const QList<BaseTie *> &ties)
{
    for (BaseTie *tie : ties)
        if (tie)
            tie->sendDirty();
    for (BaseTie *tie : ties)
        if (tie)
            tie->drain();
}
