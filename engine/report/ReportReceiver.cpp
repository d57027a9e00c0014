// The one place where a window takes the engine's reports: their content for the receiver, their acknowledging and freeing.
#include "engine/report/ReportReceiver.h"

#include "engine/report/PlayerMessages.h"
#include "engine/report/ReportGate.h"
#include "engine/report/StatusText.h"

namespace
{
bool IsReport(UINT message)
{
    switch (message) {
    case WM_PLAYER_STOP:
    case WM_PLAYER_STARTED:
    case WM_PLAYER_CLOSED:
    case WM_PLAYER_ENDED:
    case WM_PLAYER_TAKEN:
    case WM_PLAYER_BUFFERSTATE:
    case WM_PLAYER_METADATA:
    case WM_PLAYER_PLAYLIST:
    case WM_PLAYER_MESSAGE:
        return true;
    default:
        return false;
    }
}

bool CarriesText(UINT message)
{
    return message == WM_PLAYER_METADATA || message == WM_PLAYER_PLAYLIST || message == WM_PLAYER_MESSAGE;
}

// The stream's gate that a fill or a title came through; null for a report without one.
CReportGate* GateOf(UINT message, LPARAM lParam)
{
    if (message != WM_PLAYER_BUFFERSTATE && message != WM_PLAYER_METADATA)
        return NULL;
    return reinterpret_cast<CReportGate*>(lParam);
}

// The heap text (new char[]) that the report hands to its receiver; null when it owns none: a
// status text sent on the window's own thread stays its sender's.
char* OwnedText(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PLAYER_MESSAGE && (lParam & PLAYER_TEXT_OWNED) == 0)
        return NULL;
    return CarriesText(message) ? reinterpret_cast<char*>(wParam) : NULL;
}

// Nobody will take a report of this kind from the gate any more: it is released, not acknowledged.
void Drop(UINT message, WPARAM wParam, LPARAM lParam)
{
    delete[] OwnedText(message, wParam, lParam);
    if (CReportGate* gate = GateOf(message, lParam))
        gate->Release();
}

void DropQueued(HWND window)
{
    MSG msg;
    while (PeekMessageA(&msg, window, WM_PLAYER_BUFFERSTATE, WM_PLAYER_MESSAGE, PM_REMOVE | PM_QS_POSTMESSAGE)) {
        if (IsReport(msg.message))
            Drop(msg.message, msg.wParam, msg.lParam);
    }
}
} // namespace

bool TakePlayerReport(CReportReceiver* receiver, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY) {
        DropQueued(window);
        return false;
    }
    if (!IsReport(message))
        return false;
    if (receiver == NULL) {
        Drop(message, wParam, lParam);
        return true;
    }
    if (CReportGate* gate = GateOf(message, lParam)) {
        gate->Taken(message);
        gate->Release();
    }
    CPlayerReport report = {message, 0, 0, NULL, 0, true};
    if (message == WM_PLAYER_BUFFERSTATE)
        report.fill = wParam;
    if (message == WM_PLAYER_TAKEN)
        report.taken = static_cast<DWORD>(wParam);
    if (CarriesText(message))
        report.text = reinterpret_cast<const char*>(wParam);
    if (message == WM_PLAYER_MESSAGE) {
        report.level = StatusTextLevel(lParam);
        report.posted = (lParam & PLAYER_TEXT_OWNED) != 0;
    }
    receiver->OnPlayerReport(report);
    delete[] OwnedText(message, wParam, lParam);
    return true;
}
