// What the engine reads from the object that owns it (the control, or a stand-in for it), and how
// that owner sends the worker its commands.
#pragma once

#include <windows.h>

#include "engine/report/ReportTarget.h"

class CDeviceVolume;

class CPlayerHost : public CReportTarget
{
public:
    CPlayerHost();
    ~CPlayerHost() override;

    CPlayerHost(const CPlayerHost&) = delete;
    CPlayerHost& operator=(const CPlayerHost&) = delete;

    // Set by the worker once its message queue exists.
    virtual HANDLE GetStartEvent() const = 0;
    // The volume for each device the worker opens, read on the worker's thread; null when the
    // devices keep their own (the host then controls the volume some other way, or not at all).
    // It must outlive the worker.
    virtual const CDeviceVolume* GetDeviceVolume() const { return NULL; }

    // Posts a command to the worker's thread and wakes the worker; false when the post failed
    // (a play's address then stays the sender's to free). Every command goes this way: a
    // playing worker waits on its device and on this wake-up, not on its message queue.
    bool PostCommand(DWORD workerThread, UINT command, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // Set after each command is posted (auto-reset); waited on by the worker only.
    HANDLE GetCommandEvent() const { return m_hCommandEvent; }

private:
    HANDLE m_hCommandEvent;
};

// The player worker thread; its argument is the CPlayerHost. Commands arrive as thread
// messages (WM_PLAYER_PLAY, WM_PLAYER_STOP, WM_PLAYER_QUIT, WM_PLAYER_VOLUME).
unsigned __stdcall PlayerThreadProc(void* host);
