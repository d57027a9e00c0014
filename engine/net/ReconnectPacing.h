// How long to wait before the next automatic attempt after attempts that failed in a row.
#pragma once

#include <windows.h>

#define RECONNECT_FIRST_PAUSE_MS 500
#define RECONNECT_MAX_PAUSE_MS 30000

class CReconnectPacing
{
public:
    CReconnectPacing() : m_nFailures(0) {}

    // A stream played, or the container started afresh: the next failure starts from the top.
    void Reset() { m_nFailures = 0; }
    // Records one failed attempt; returns the pause in ms before the next one. Each failure in
    // a row waits twice as long as the one before, up to the maximum, whether the next attempt
    // goes to the same address or to the next entry of a list: a long list of dead entries is
    // walked no faster than one dead station is retried.
    DWORD Failed();
    unsigned Failures() const { return m_nFailures; }

private:
    unsigned m_nFailures;
};
