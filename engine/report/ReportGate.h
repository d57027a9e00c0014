// Keeps a stream's fill and title reports from flooding the window that receives them.
#pragma once

#include <windows.h>

// At most one fill report (WM_PLAYER_BUFFERSTATE) and one title (WM_PLAYER_METADATA) of a
// stream wait in the receiver's queue at a time. A value reported meanwhile is kept, the latest
// replacing the one kept before, and posted as soon as the receiver takes the waiting report, so
// the last value always arrives. Each posted report carries the gate in lParam and holds one
// reference to it; the receiver calls Taken and then Release (TakePlayerReport does).
class CReportGate
{
public:
    explicit CReportGate(HWND window);
    CReportGate(const CReportGate&) = delete;
    CReportGate& operator=(const CReportGate&) = delete;

    void AddRef();
    void Release();

    // Reporting side, any thread. A title is a heap text (new char[]) that the gate owns from here.
    void Post(UINT message, WPARAM value);
    // Receiving side: the waiting report of this kind has been taken out of the queue.
    void Taken(UINT message);

private:
    ~CReportGate();

    struct CSlot
    {
        bool queued; // a report of this kind waits in the receiver's queue
        bool kept;   // value holds a newer one, to be posted when that report is taken
        WPARAM value;
    };

    CSlot* SlotOf(UINT message);
    void PostNow(UINT message, WPARAM value);
    static void Free(UINT message, WPARAM value);

    volatile LONG m_refs;
    HWND m_hWindow;
    // Both slots are written by the reporting thread and by the receiver's thread, under the lock.
    CRITICAL_SECTION m_lock;
    CSlot m_fill;
    CSlot m_title;
};
