// The player worker: carries out play and stop commands, feeds the device, and keeps only one
// player of the desktop playing.
#pragma once

#include <windows.h>

#include "audio/WaveOut.h"

class CStreamDecoder;
class CPlayerHost;

#define PLAYER_SHARED_MEMORY "kelplayerx_shared_memory"

class CPlayerWorker
{
public:
    // The worker owns the decoder from here on. waveOutApi: the device calls, null for the
    // system's.
    CPlayerWorker(CPlayerHost* host, CStreamDecoder* decoder, CWaveOutApi* waveOutApi = NULL);
    ~CPlayerWorker();

    CPlayerWorker(const CPlayerWorker&) = delete;
    CPlayerWorker& operator=(const CPlayerWorker&) = delete;

    // The thread's whole life: returns after a quit command.
    unsigned Run();

private:
    void HandleBatch();
    void Play(const char* url, LPARAM flags);
    void Stop();
    // Lets the queued blocks play out, for at most DRAIN_LIMIT_MS; a newer command ends it.
    void Drain();
    // After the decoder stopped at a change of sample rate: the queued blocks play out, then the
    // device opens again at the new rate, unless a newer command cut the drain short.
    void Reopen();
    // Opens the device for the decoder and reports the start (or the end, when the device
    // refused its blocks and so ended the stream).
    void OpenDevice();
    void CloseDevice();
    void ApplyVolume();
    void Report(UINT message);
    // Tells the host that the stream before the command last taken is closed.
    void ReportTaken();

    CPlayerHost* m_pHost;
    CStreamDecoder* m_pDecoder;
    CWaveOut m_waveOut;
    bool m_bQuit;
    DWORD m_dwTaken;       // play and stop commands taken so far
    bool m_bDraining;      // the decoder closed with blocks still queued on the device
    DWORD m_dwDrainStart;  // when that drain began
    HANDLE m_hShared;
    volatile DWORD* m_pActivePlayer; // thread id of the worker that last accepted a play
};
