#ifndef MAINCYCLE_H
#define MAINCYCLE_H

#include <QList>

class BaseTie;

// One main cycle over `ties` (null entries skipped): pollAndConvert() on
// every tie, then calulate() on every tie, then sendDirty() on every tie,
// each pass in list order and finished before the next begins.
void runMainCycle(const QList<BaseTie *> &ties);

#endif // MAINCYCLE_H
