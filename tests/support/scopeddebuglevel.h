#ifndef SCOPEDDEBUGLEVEL_H
#define SCOPEDDEBUGLEVEL_H

#include "core/diag.h"

// Sets the process-wide debug level for the lifetime of the object.
class ScopedDebugLevel
{
public:
    explicit ScopedDebugLevel(quint32 level) : m_previous(debugLevel()) { setDebugLevel(level); }
    ~ScopedDebugLevel() { setDebugLevel(m_previous); }

private:
    quint32 m_previous;
};

#endif // SCOPEDDEBUGLEVEL_H
