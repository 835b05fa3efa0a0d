#include "core/diag.h"

namespace diag_detail {
quint32 g_debugLevel = 0;
}

void setDebugLevel(quint32 level)
{
    diag_detail::g_debugLevel = level;
}

namespace {
thread_local int t_loggedWarnings = 0;
}

diag_detail::LoggedWarningScope::LoggedWarningScope()
{
    ++t_loggedWarnings;
}

diag_detail::LoggedWarningScope::~LoggedWarningScope()
{
    --t_loggedWarnings;
}

bool warningIsLogged()
{
    return t_loggedWarnings > 0;
}
