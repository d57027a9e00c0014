// What the engine reads from the object that owns it (the control, or a stand-in for it).
#pragma once

#include <windows.h>

class CPlayerHost
{
public:
    virtual ~CPlayerHost() {}
    // The window that receives the engine's reports, read afresh at every report; null when
    // there is none (then nothing is posted or sent).
    virtual HWND GetPlayerWindow() const = 0;
    // Set by the worker once its message queue exists.
    virtual HANDLE GetStartEvent() const = 0;
};

// The player worker thread; its argument is the CPlayerHost. Commands arrive as thread
// messages (WM_PLAYER_PLAY, WM_PLAYER_STOP, WM_PLAYER_QUIT).
unsigned __stdcall PlayerThreadProc(void* host);
