// Report gate: one waiting fill and one waiting title per stream, the latest value kept back.
#include "engine/report/ReportGate.h"

#include "engine/report/PlayerMessages.h"

CReportGate::CReportGate(HWND window) : m_refs(1), m_hWindow(window), m_fill(), m_title()
{
    InitializeCriticalSection(&m_lock);
}

CReportGate::~CReportGate()
{
    if (m_title.kept)
        Free(WM_PLAYER_METADATA, m_title.value);
    DeleteCriticalSection(&m_lock);
}

void CReportGate::AddRef() { InterlockedIncrement(&m_refs); }

void CReportGate::Release()
{
    if (InterlockedDecrement(&m_refs) == 0)
        delete this;
}

CReportGate::CSlot* CReportGate::SlotOf(UINT message) { return message == WM_PLAYER_METADATA ? &m_title : &m_fill; }

void CReportGate::Free(UINT message, WPARAM value)
{
    if (message == WM_PLAYER_METADATA)
        delete[] reinterpret_cast<char*>(value);
}

void CReportGate::Post(UINT message, WPARAM value)
{
    CSlot* slot = SlotOf(message);
    EnterCriticalSection(&m_lock);
    if (slot->queued) {
        if (slot->kept)
            Free(message, slot->value);
        slot->value = value;
        slot->kept = true;
        LeaveCriticalSection(&m_lock);
        return;
    }
    slot->queued = true;
    LeaveCriticalSection(&m_lock);
    PostNow(message, value);
}

void CReportGate::Taken(UINT message)
{
    CSlot* slot = SlotOf(message);
    EnterCriticalSection(&m_lock);
    slot->queued = false;
    if (!slot->kept) {
        LeaveCriticalSection(&m_lock);
        return;
    }
    WPARAM value = slot->value;
    slot->kept = false;
    slot->queued = true;
    LeaveCriticalSection(&m_lock);
    PostNow(message, value);
}

// Called with the slot marked queued. A post that fails (the window is gone) drops the value and
// whatever was kept meanwhile: nobody will take a report of this kind any more.
void CReportGate::PostNow(UINT message, WPARAM value)
{
    AddRef();
    if (PostPlayerMessage(m_hWindow, message, value, reinterpret_cast<LPARAM>(this)))
        return;
    Free(message, value);
    CSlot* slot = SlotOf(message);
    EnterCriticalSection(&m_lock);
    slot->queued = false;
    if (slot->kept)
        Free(message, slot->value);
    slot->kept = false;
    LeaveCriticalSection(&m_lock);
    Release();
}
