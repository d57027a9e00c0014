// The notification-area icon: one record in its first, smallest form, re-sent with each frame.
#pragma once

#include <windows.h>

class CTrayIcon
{
public:
    CTrayIcon(HWND window, UINT callbackMessage, const char* tip);

    // Each call fills the whole record again; only the icon differs. An icon the shell does not
    // have (it refused the add, or it restarted and forgot its icons) is added again at the next
    // Modify, so a hidden window always keeps its way back.
    void Add(HICON icon);
    void Modify(HICON icon);
    void Delete(HICON icon);

private:
    BOOL Send(DWORD action, HICON icon);

    HWND m_hWnd;
    UINT m_uCallbackMessage;
    const char* m_pszTip;
};
