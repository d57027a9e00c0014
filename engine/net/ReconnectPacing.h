// How long to wait before the next automatic attempt after attempts that failed in a row.
#pragma once

#include <windows.h>

#include <cstddef>

#define RECONNECT_FIRST_PAUSE_MS 500
#define RECONNECT_MAX_PAUSE_MS 30000

class CReconnectPacing
{
public:
    CReconnectPacing() : m_nFailures(0) {}

    // A stream played, or the container started afresh: the next failure starts from the top.
    void Reset() { m_nFailures = 0; }
    // Records one failed attempt on a list of entries; returns the pause in ms before the next
    // attempt. The list is walked without a pause until every entry has failed in a row; then
    // each full round of failures waits twice as long as the one before, up to the maximum.
    DWORD Failed(size_t entries);
    unsigned Failures() const { return m_nFailures; }

private:
    unsigned m_nFailures;
};
