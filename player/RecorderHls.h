// The recorder's HLS source: the engine's HLS reader on a thread of its own, its frames posted to the window.
#pragma once

#include <windows.h>

#include <string>

#include "Handle.h"
#include "engine/frame/SpliceSilencer.h"
#include "engine/net/SocketClient.h"
#include "engine/stream/FrameSink.h"

// Made and ended on the user-interface thread. The source's thread only posts to the window:
// audioMessage with a new std::string of whole frames (the receiver's to delete), and
// endedMessage once its run is over; wParam of both is the run's number, so that what an ended
// source posted is told from the current one's.
class CRecorderHls : public CFrameSink
{
public:
    CRecorderHls(HWND window, UINT audioMessage, UINT endedMessage, unsigned run);
    // Ends the run at once and waits for its thread.
    ~CRecorderHls() override;
    CRecorderHls(const CRecorderHls&) = delete;
    CRecorderHls& operator=(const CRecorderHls&) = delete;

    // Starts the run on the station whose list (master or media) text answered at address.
    bool Start(const std::string& text, const std::string& address);

    HANDLE CloseEvent() const override { return m_hClose.Get(); }
    bool IsClosed() const override;
    // A file takes all at once: the live window alone paces the run.
    int WaitForRoom() override;
    int Take(const std::string& audio, bool splice) override;
    int Drain() override;
    // The recording keeps the audio only: titles and texts are the player's to show.
    void Title(const std::string&) override {}
    void Status(const char*, int) override {}

private:
    static unsigned __stdcall ThreadProc(void* arg);

    // Set by the constructor on the user-interface thread, read by the source's thread.
    HWND m_hWnd;
    UINT m_uAudioMessage;
    UINT m_uEndedMessage;
    unsigned m_run;
    CHandle m_hClose;        // set by the user-interface thread, waited on by the source's thread
    CSocketClient m_socket;  // the source's thread's own
    CSpliceSilencer m_silencer; // likewise: frames after a discontinuity reach back to none before it
    std::string m_text;      // written before the thread starts, then read by it alone
    std::string m_address;   // likewise
    CHandle m_hThread;
};
