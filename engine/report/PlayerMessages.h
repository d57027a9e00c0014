// The messages that pass between the control, its player worker and the stream reader.
#pragma once

#include <windows.h>

// Commands, posted as thread messages to the player worker.
#define WM_PLAYER_QUIT (WM_APP + 0x01)
#define WM_PLAYER_PLAY (WM_APP + 0x02) // wParam: heap URL copy (new char[]), freed by the worker; lParam: flags
#define PLAYER_PLAY_PUBLIC_ONLY 0x1    // the stream may connect to public addresses only
#define WM_PLAYER_STOP (WM_APP + 0x03) // also posted by the worker to the control's window
#define WM_PLAYER_VOLUME (WM_APP + 0x04) // the host's device volume changed: give it to the open device

// Reports to the control's window (or a stand-in's), all posted but a status text raised on the
// window's own thread. Several carry something their receiver owes for (a reference to a stream's
// gate, a heap text): windows take them through TakePlayerReport (ReportReceiver.h), which pays it.
#define WM_PLAYER_STARTED (WM_APP + 0x11)
#define WM_PLAYER_CLOSED (WM_APP + 0x12)
#define WM_PLAYER_ENDED (WM_APP + 0x13)
// wParam: how many play and stop commands the worker has taken, posted once the stream before the
// last of them is closed: what is reported after it belongs to that command, what came before to
// streams that are no longer current.
#define WM_PLAYER_TAKEN (WM_APP + 0x14)
#define WM_PLAYER_BUFFERSTATE (WM_APP + 0x21) // wParam: ring fill in percent; lParam: the gate, or 0
#define WM_PLAYER_METADATA (WM_APP + 0x22)    // wParam: heap text (new char[]); lParam: the gate, or 0
// A stream's address answered with a playlist. wParam: heap text (new char[]), freed on the
// receiving side: the address that answered, then the list's entries, one a line.
#define WM_PLAYER_PLAYLIST (WM_APP + 0x23)

// Status text: wParam the text, lParam its level (0 to 3). ReportStatusText sends it on the
// window's own thread (the text stays the sender's) and posts it from any other as a heap copy,
// marked PLAYER_TEXT_OWNED in lParam, that belongs to the receiving side.
#define WM_PLAYER_MESSAGE (WM_APP + 0x31)

// Posts a report to a window. A null window would post to the calling thread's own queue,
// where the worker would take it for a command, so it is refused instead.
inline BOOL PostPlayerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return window != NULL && PostMessageA(window, message, wParam, lParam);
}
