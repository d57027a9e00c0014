// The player worker: carries out play and stop commands, feeds the device, and keeps only one
// player of the desktop playing.
#pragma once

#include <windows.h>

#include "WaveOut.h"

class CAudioDecoder;
class CPlayerHost;

#define PLAYER_SHARED_MEMORY "kelplayerx_shared_memory"

class CPlayerWorker
{
public:
    // The worker owns the decoder from here on.
    CPlayerWorker(CPlayerHost* host, CAudioDecoder* decoder);
    ~CPlayerWorker();

    CPlayerWorker(const CPlayerWorker&) = delete;
    CPlayerWorker& operator=(const CPlayerWorker&) = delete;

    // The thread's whole life: returns after a quit command.
    unsigned Run();

private:
    void HandleBatch();
    void Play(const char* url);
    void Stop();
    void Drain();
    void ApplyVolume();
    void Report(UINT message);

    CPlayerHost* m_pHost;
    CAudioDecoder* m_pDecoder;
    CWaveOut m_waveOut;
    bool m_bQuit;
    HANDLE m_hShared;
    volatile DWORD* m_pActivePlayer; // thread id of the worker that last accepted a play
};
