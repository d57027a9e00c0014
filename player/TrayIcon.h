// The notification-area icon: one record in its first, smallest form, re-sent with each frame.
#pragma once

#include <windows.h>

#include "Handle.h"

class CTrayIcon
{
public:
    CTrayIcon(HWND window, UINT callbackMessage, const char* tip);
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Each call fills the whole record again; only the icon differs. An icon the shell does not
    // have (it refused the add, or it restarted and forgot its icons) is added again at the next
    // Modify, so a hidden window always keeps its way back.
    void Add(HICON icon);
    void Modify(HICON icon);
    void Delete(HICON icon);

    // The add of Add, started on a thread of its own and waited for by EndAdd. The shell answers
    // only once the icon is shown, which under Wine takes a round to another process and the
    // tray window's drawing: the caller makes the player's control meanwhile. Without a thread
    // the add is made in line.
    void BeginAdd(HICON icon);
    // Returns once the add is done; messages sent to the calling thread meanwhile are handled.
    void EndAdd();

private:
    BOOL Send(DWORD action, HICON icon);
    static unsigned __stdcall AddThreadProc(void* tray);

    HWND m_hWnd;
    UINT m_uCallbackMessage;
    const char* m_pszTip;
    HICON m_hAddIcon;     // written before the add thread starts, read by it
    CHandle m_hAddThread; // the add under way, until EndAdd
};
