#ifndef MAINCYCLE_H
#define MAINCYCLE_H

#include <QList>

class BaseTie;

// One main cycle over `ties` (null entries skipped): pollAndConvert() on
// every tie, then calulate() on every tie, then sendDirty() on every tie,
// each pass in list order and finished before the next begins.
void runMainCycle(const QList<BaseTie *> &ties);

// The last pass before the gateway stops: sendDirty() on every tie, so that
// what a fault held back gets one more try, then drain() on every tie, so
// that what was sent leaves the process before the connections close.
void finishTies(const QList<BaseTie *> &ties);

#endif // MAINCYCLE_H
