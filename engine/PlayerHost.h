// What the engine reads from the object that owns it (the control, or a stand-in for it).
#pragma once

#include <windows.h>

class CDeviceVolume;

class CPlayerHost
{
public:
    virtual ~CPlayerHost() {}
    // The window that receives the engine's reports, read afresh at every report; null when
    // there is none (then nothing is posted or sent).
    virtual HWND GetPlayerWindow() const = 0;
    // Set by the worker once its message queue exists.
    virtual HANDLE GetStartEvent() const = 0;
    // The volume for each device the worker opens, read on the worker's thread; null when the
    // devices keep their own (the host then controls the volume some other way, or not at all).
    // It must outlive the worker.
    virtual const CDeviceVolume* GetDeviceVolume() const { return NULL; }
};

// The player worker thread; its argument is the CPlayerHost. Commands arrive as thread
// messages (WM_PLAYER_PLAY, WM_PLAYER_STOP, WM_PLAYER_QUIT, WM_PLAYER_VOLUME).
unsigned __stdcall PlayerThreadProc(void* host);
