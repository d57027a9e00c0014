// The notification-area icon of pelradio.
#include "TrayIcon.h"

#include <process.h>
#include <shellapi.h>

#include <cstring>

CTrayIcon::CTrayIcon(HWND window, UINT callbackMessage, const char* tip)
    : m_hWnd(window), m_uCallbackMessage(callbackMessage), m_pszTip(tip), m_bFinished(false),
      m_hWake(CreateEventA(NULL, FALSE, FALSE, NULL))
{
    InitializeCriticalSection(&m_lock);
    if (m_hWake.Get() != NULL)
        m_hThread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, ThreadProc, this, 0, NULL)));
}

CTrayIcon::~CTrayIcon()
{
    Finish();
    DeleteCriticalSection(&m_lock);
}

void CTrayIcon::Add(HICON icon) { Queue(NIM_ADD, icon); }

void CTrayIcon::Modify(HICON icon) { Queue(NIM_MODIFY, icon); }

void CTrayIcon::Delete(HICON icon)
{
    Queue(NIM_DELETE, icon);
    Finish();
}

void CTrayIcon::Queue(DWORD action, HICON icon)
{
    CShellCall call = {action, icon};
    if (m_hThread.Get() == NULL) {
        if (!m_bFinished)
            Carry(call);
        return;
    }
    EnterCriticalSection(&m_lock);
    if (!m_bFinished)
        m_calls.push_back(call);
    LeaveCriticalSection(&m_lock);
    SetEvent(m_hWake.Get());
}

// No call after this one: the thread ends once it has made those queued.
void CTrayIcon::Finish()
{
    EnterCriticalSection(&m_lock);
    m_bFinished = true;
    LeaveCriticalSection(&m_lock);
    if (m_hThread.Get() != NULL) {
        SetEvent(m_hWake.Get());
        // Messages sent to this thread's windows are served meanwhile: a shell dealing with a
        // call may send to the icon's window and wait for the answer.
        HANDLE thread = m_hThread.Get();
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
            MSG msg;
            PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        m_hThread.Close();
    }
}

unsigned __stdcall CTrayIcon::ThreadProc(void* arg)
{
    CTrayIcon* self = static_cast<CTrayIcon*>(arg);
    for (;;) {
        EnterCriticalSection(&self->m_lock);
        bool have = !self->m_calls.empty();
        CShellCall call = have ? self->m_calls.front() : CShellCall();
        if (have)
            self->m_calls.pop_front();
        bool finished = self->m_bFinished;
        LeaveCriticalSection(&self->m_lock);
        if (have)
            self->Carry(call);
        else if (finished)
            return 0;
        else
            WaitForSingleObject(self->m_hWake.Get(), INFINITE);
    }
}

// A change the shell refuses means it has no such icon: it never took it, or it forgot it.
void CTrayIcon::Carry(const CShellCall& call)
{
    if (!Send(call.action, call.icon) && call.action == NIM_MODIFY)
        Send(NIM_ADD, call.icon);
}

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
