// The notification-area icon: one record in its first, smallest form, re-sent with each frame.
#pragma once

#include <windows.h>

class CTrayIcon
{
public:
    CTrayIcon(HWND window, UINT callbackMessage, const char* tip);

    // Each call fills the whole record again; only the icon differs. Failures are ignored.
    void Add(HICON icon);
    void Modify(HICON icon);
    void Delete(HICON icon);

private:
    void Send(DWORD action, HICON icon);

    HWND m_hWnd;
    UINT m_uCallbackMessage;
    const char* m_pszTip;
};
