// The notification-area icon: one record in its first, smallest form, re-sent with each frame.
#pragma once

#include <windows.h>

#include <deque>

#include "Handle.h"

// The shell's calls run on a thread of the icon's own, in the order they were made: the shell
// takes its time over them (Wine's tray tens of milliseconds over the first icon), and the
// window's thread, starting the station, need not wait for it.
class CTrayIcon
{
public:
    CTrayIcon(HWND window, UINT callbackMessage, const char* tip);
    // Lets the calls already made finish.
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Each call fills the whole record again; only the icon differs. An icon the shell does not
    // have (it refused the add, or it restarted and forgot its icons) is added again at the next
    // Modify, so a hidden window always keeps its way back.
    void Add(HICON icon);
    void Modify(HICON icon);
    // The icon's last call: returns once the shell has dealt with it and with every call before it.
    void Delete(HICON icon);

private:
    struct CShellCall
    {
        DWORD action;
        HICON icon;
    };

    static unsigned __stdcall ThreadProc(void* arg);
    void Queue(DWORD action, HICON icon);
    void Finish();
    void Carry(const CShellCall& call);
    BOOL Send(DWORD action, HICON icon);

    HWND m_hWnd;
    UINT m_uCallbackMessage;
    const char* m_pszTip;
    CRITICAL_SECTION m_lock;
    std::deque<CShellCall> m_calls; // the window's thread adds, the icon's thread takes; under m_lock
    bool m_bFinished;               // set by the window's thread (read by the icon's under m_lock): no more calls
    CHandle m_hWake;                // auto-reset: set by the window's thread after each call queued
    CHandle m_hThread;              // NULL when it could not start: the calls are then made at once
};
