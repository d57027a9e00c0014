// The one place where a window takes the engine's reports: their content for the receiver, their acknowledging and freeing.
#pragma once

#include <windows.h>

// One report as its receiver sees it; the text lives until the receiver returns.
struct CPlayerReport
{
    UINT message;     // WM_PLAYER_STOP, _STARTED, _CLOSED, _ENDED, _TAKEN, _BUFFERSTATE, _METADATA, _PLAYLIST or _MESSAGE
    WPARAM fill;      // WM_PLAYER_BUFFERSTATE: the ring's fill in percent; otherwise 0
    DWORD taken;      // WM_PLAYER_TAKEN: the commands the worker has taken; otherwise 0
    const char* text; // the title, the playlist report or the status text; otherwise null
    short level;      // WM_PLAYER_MESSAGE: the text's level; otherwise 0
    bool posted;      // posted by another thread; false for a status text sent on the window's own
};

class CReportReceiver
{
public:
    virtual ~CReportReceiver() {}
    virtual void OnPlayerReport(const CPlayerReport& report) = 0;
};

// For a report window's procedure, with every message it gets. An engine report goes to the
// receiver (a null receiver drops it), and the report's due is paid whatever the receiver does:
// a fill or a title that came through a stream's gate lets the gate post its next one before
// the receiver runs; a title, a playlist or a posted status text is freed after it. True for
// such a report, which needs nothing more. On WM_NCDESTROY, the window's last message, the
// reports still queued for it are freed unread; false then, as for every other message, which
// the procedure handles itself.
bool TakePlayerReport(CReportReceiver* receiver, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
