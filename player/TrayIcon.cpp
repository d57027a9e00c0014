// The notification-area icon of pelradio.
#include "TrayIcon.h"

#include <shellapi.h>

#include <cstring>

CTrayIcon::CTrayIcon(HWND window, UINT callbackMessage, const char* tip)
    : m_hWnd(window), m_uCallbackMessage(callbackMessage), m_pszTip(tip)
{
}

void CTrayIcon::Add(HICON icon) { Send(NIM_ADD, icon); }

// A change the shell refuses means it has no such icon: it never took it, or it forgot it.
void CTrayIcon::Modify(HICON icon)
{
    if (!Send(NIM_MODIFY, icon))
        Send(NIM_ADD, icon);
}

void CTrayIcon::Delete(HICON icon) { Send(NIM_DELETE, icon); }

// The shell reads the record by its declared size: a first form of another size on 32-bit
// Windows (a header or packing change) would leave the shell reading past the tip.
#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the first form of the tray record is 88 bytes on 32-bit Windows");
#endif

BOOL CTrayIcon::Send(DWORD action, HICON icon)
{
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof(data));
    // The first form of the record: 88 bytes on 32-bit Windows (more on 64-bit, for the wider
    // handles), understood by every version of the shell.
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = m_hWnd;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = m_uCallbackMessage;
    data.hIcon = icon;
    // The tip, its NUL, then spaces to the end of the 64-byte field.
    memset(data.szTip, ' ', 64);
    size_t length = strlen(m_pszTip);
    if (length > 63)
        length = 63;
    memcpy(data.szTip, m_pszTip, length);
    data.szTip[length] = '\0';
    return Shell_NotifyIconA(action, &data);
}
