#ifndef ALLOCATIONCOUNT_H
#define ALLOCATIONCOUNT_H

// Heap allocations of the whole program so far. A benchmark program that
// links allocationcount.cpp has malloc and realloc replaced by counting
// forwarders (Qt's containers allocate through them), so that a benchmark
// can report what one value or message costs in allocations.
long allocationCount();

#endif // ALLOCATIONCOUNT_H
