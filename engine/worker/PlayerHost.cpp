// The owner's side of the worker's commands: the post and the wake-up that follows it.
#include "engine/worker/PlayerHost.h"

CPlayerHost::CPlayerHost() : m_hCommandEvent(CreateEventA(NULL, FALSE, FALSE, NULL)) {}

CPlayerHost::~CPlayerHost()
{
    if (m_hCommandEvent != NULL)
        CloseHandle(m_hCommandEvent);
}

bool CPlayerHost::PostCommand(DWORD workerThread, UINT command, WPARAM wParam, LPARAM lParam) const
{
    if (!PostThreadMessageA(workerThread, command, wParam, lParam))
        return false;
    // After the post, never before: a worker woken by it always finds the command queued.
    SetEvent(m_hCommandEvent);
    return true;
}
