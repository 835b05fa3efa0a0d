#include "core/diag.h"

namespace diag_detail {
quint32 g_debugLevel = 0;
}

void setDebugLevel(quint32 level)
{
    diag_detail::g_debugLevel = level;
}
