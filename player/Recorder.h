// pelradio's stream recorder: the folder picker, its own connection or HLS source, the file (.mp3 or .aac).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "Handle.h"
#include "RecorderAnswer.h"
#include "RecorderHls.h"
#include "engine/frame/SpliceSilencer.h"
#include "engine/net/ReconnectPacing.h"
#include "engine/stream/FrameCutter.h"

// Everything here runs on the user-interface thread: the tab's clicks, the socket's events
// (WSAAsyncSelect) and the HLS source's frames all arrive as the main window's messages, so no
// field is shared between threads.
class CRecorder
{
public:
    // The one way the recorder tells the window what became of it: banner 1 when a recording has
    // started, 2 when it ended normally, 3 when it ended with an error.
    explicit CRecorder(std::function<void(int)> changed);
    // Ending the program during a recording keeps what was written.
    ~CRecorder();
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;

    // The main window: owner of the folder picker and receiver of WM_PELRADIO_SOCKET.
    void Attach(HWND window);
    // The record tab: starts a recording when none runs, otherwise ends it normally.
    void Toggle();
    bool IsRecording() const { return m_bRecording; }
    // WM_PELRADIO_SOCKET: wParam the socket, lParam its event and error.
    void OnSocketEvent(WPARAM wParam, LPARAM lParam);
    // WM_PELRADIO_LOOKUP: wParam the lookup, lParam its error and size.
    void OnLookup(WPARAM wParam, LPARAM lParam);
    // WM_PELRADIO_HLS_AUDIO: wParam the HLS source's run, lParam its frames (a std::string, deleted here).
    void OnHlsAudio(WPARAM wParam, LPARAM lParam);
    // WM_PELRADIO_HLS_ENDED: wParam the HLS source's run.
    void OnHlsEnded(WPARAM wParam);
    // The window's tick: a header that has not ended in time ends the recording; a reconnect's
    // next attempt starts, or, the station away too long, the recording ends.
    void OnTick();

    // The time stamp of a new file's name: short date and time, characters names cannot hold made "-".
    static std::string GETFNAME();

private:
    void Start();
    // Normal ending (banner 2) or error ending (banner 3).
    void Finish(int banner);
    bool PickFolder(std::wstring* folder);
    // The new file's name without its suffix: the folder, the prefix and the start's stamp.
    static std::wstring FileBase(const std::wstring& folder);
    bool OpenFile(const wchar_t* suffix);
    // Resolves the stream host without blocking (the lookup's answer comes as WM_PELRADIO_LOOKUP),
    // or connects at once to an address written as numbers.
    bool Connect();
    // The connection ended after its audio came, or an attempt to make it again failed: the
    // partial frame at the cut goes, and the connection is made again, at once the first time,
    // then paced.
    void Reconnect();
    // One attempt at the stream's connection; false when it failed at once.
    bool Attempt();
    bool ConnectTo(in_addr address);
    void OnConnected(int error);
    // Reads what is available; false when the connection failed.
    bool ReadAvailable(std::string* block);
    // Handles one received block; false when the recording must end with an error.
    bool OnBlock(const std::string& block);
    // The answer's list has come whole: an HLS station's starts the HLS source in place of the
    // connection; false for any other list, which holds nothing to record.
    bool OnList();
    // Whole frames of this connection or of the HLS source; false when the recording must end
    // with an error.
    bool OnFrames(const std::string& audio);
    // Names the file by the audio kept back and writes it; false when that failed.
    bool WritePending();
    // Writes all that is kept back: the audio before the naming and the cutter's partial frame.
    bool WriteRest();
    // Gives the file the suffix of the stream's kind, told by its first audio (or its label).
    bool Name(const std::string& audio);
    bool Write(const std::string& audio);
    // The answer's connection closed.
    void OnClosed();
    // The connection, or the HLS source's run, ended: made again after audio came, else the
    // recording ends with an error.
    void OnLost();
    // Ends the connection and the HLS source, whichever runs.
    void CloseSocket();
    void Beep();

    std::function<void(int)> m_changed;
    HWND m_hWnd;
    bool m_bWinsock;
    bool m_bRecording;
    bool m_bPicking;     // the folder picker is open: the tab does nothing meanwhile
    SOCKET m_socket;     // INVALID_SOCKET when no connection is open
    HANDLE m_hLookup;    // the stream host's lookup while it runs, else null
    char m_lookupBuffer[MAXGETHOSTSTRUCT]; // its answer, written by the system until it reports
    DWORD m_dwStarted;   // when the connection was last attempted: its answer's header has 10 s to end
    std::wstring m_base; // the recording's file name without its suffix, stamped at the start
    std::wstring m_name; // the file's whole name
    CHandle m_file;      // the recording's file while one is open
    bool m_bNamed;       // the first audio has settled the file's suffix
    std::string m_pending; // the first audio, kept back until it tells the stream's kind
    CRecorderAnswer m_answer; // the current recording's answer, read as it arrives
    CFrameCutter m_cutter; // the file gets whole frames: a cut connection's partial frame never reaches it
    CSpliceSilencer m_silencer; // frames after a reconnect's cut reach back to no other connection's
    bool m_bFlowed;        // this connection has handed audio over
    bool m_bReconnecting;  // the connection is being made again: no whole frame has come since it was lost
    DWORD m_dwLost;        // when the connection was lost
    DWORD m_dwNextAttempt; // when the next attempt is due, while none runs
    CReconnectPacing m_pacing;
    std::unique_ptr<CRecorderHls> m_hls; // an HLS station's source while one runs, in place of m_socket
    unsigned m_hlsRun;     // the number of the last HLS source started
    DWORD m_dwFramesCame;  // when the HLS source's frames last came
    // Test seams, read once at start: the picker's answer and a log of the beeps.
    bool m_bSeamFolder;
    std::wstring m_seamFolder;
    std::string m_seamLog;
};
