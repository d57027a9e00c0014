// The notification-area icon of pelradio.
#include "TrayIcon.h"

#include <shellapi.h>

#include <cstring>
#include <process.h>

CTrayIcon::CTrayIcon(HWND window, UINT callbackMessage, const char* tip)
    : m_hWnd(window), m_uCallbackMessage(callbackMessage), m_pszTip(tip), m_hAddIcon(NULL)
{
}

CTrayIcon::~CTrayIcon() { EndAdd(); }

void CTrayIcon::Add(HICON icon) { Send(NIM_ADD, icon); }

void CTrayIcon::BeginAdd(HICON icon)
{
    EndAdd();
    m_hAddIcon = icon;
    m_hAddThread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, AddThreadProc, this, 0, NULL)));
    if (m_hAddThread.Get() == NULL)
        Add(icon);
}

void CTrayIcon::EndAdd()
{
    HANDLE thread = m_hAddThread.Get();
    if (thread == NULL)
        return;
    // The shell may send the window a message while it takes the icon; the window's thread is
    // the one waiting here, so it answers them instead of holding up the add for ever.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    m_hAddThread.Close();
}

unsigned __stdcall CTrayIcon::AddThreadProc(void* tray)
{
    CTrayIcon* self = static_cast<CTrayIcon*>(tray);
    self->Send(NIM_ADD, self->m_hAddIcon);
    return 0;
}

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
