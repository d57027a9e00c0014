// Reconnect pacing: a growing pause after each round of failed attempts.
#include "engine/net/ReconnectPacing.h"

DWORD CReconnectPacing::Failed(size_t entries)
{
    if (entries == 0)
        entries = 1;
    ++m_nFailures;
    if (m_nFailures % entries != 0)
        return 0;
    unsigned rounds = static_cast<unsigned>(m_nFailures / entries);
    DWORD pause = RECONNECT_FIRST_PAUSE_MS;
    for (unsigned i = 1; i < rounds && pause < RECONNECT_MAX_PAUSE_MS; ++i)
        pause *= 2;
    return pause < RECONNECT_MAX_PAUSE_MS ? pause : RECONNECT_MAX_PAUSE_MS;
}
