// Reconnect pacing: a growing pause after each failed attempt in a row.
#include "engine/net/ReconnectPacing.h"

DWORD CReconnectPacing::Failed()
{
    ++m_nFailures;
    DWORD pause = RECONNECT_FIRST_PAUSE_MS;
    for (unsigned i = 1; i < m_nFailures && pause < RECONNECT_MAX_PAUSE_MS; ++i)
        pause *= 2;
    return pause < RECONNECT_MAX_PAUSE_MS ? pause : RECONNECT_MAX_PAUSE_MS;
}
