// Wave-out PCM output: eight 16 KiB blocks kept queued on the device and refilled from a decoder.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "audio/WaveOutApi.h"
#include "engine/decode/AudioDecoder.h"

#define WAVEOUT_BLOCKS 8
#define WAVEOUT_BLOCK_SIZE 16384

class CWaveOut
{
public:
    // api: the device calls; null for the system's.
    explicit CWaveOut(CWaveOutApi* api = NULL);
    virtual ~CWaveOut();

    CWaveOut(const CWaveOut&) = delete;
    CWaveOut& operator=(const CWaveOut&) = delete;

    // Opens the wave mapper at the source's sample rate; 1 on success. A failure is
    // reported to window; a device that opened but would not take its blocks also closes the
    // source, which ends the stream.
    int Open(CAudioDecoder* source, HWND window);
    // Stops at once: queued blocks are dropped.
    void Close();
    // Gives every block the device does not hold to the source and queues it. A block the
    // device refuses is reported and closes the source: the stream ends (READ_ENDED, as when
    // the source ends). At a change of the source's sample rate the blocks after the old
    // rate's last one are left free (READ_FORMAT_CHANGED): they belong to a device at the new rate.
    EReadResult Refill();
    int IsIdle() const;
    int IsOpen() const { return m_bOpen; }
    // The open device's own volume, both channels in one word (left in the low half); false
    // while no device is open or when the device refuses it.
    bool SetVolume(DWORD raw);
    // Signalled by the device when it hands a block back (and once when it opens).
    HANDLE GetEvent() const { return m_hEvent; }

private:
    // Closes the event and frees the block memory, whichever is held.
    void ReleaseStorage();

    HWND m_hWnd;
    HANDLE m_hEvent;
    int m_bOpen;
    char* m_pBlocks;
    WAVEFORMATEX m_format;
    WAVEHDR m_headers[WAVEOUT_BLOCKS];
    HWAVEOUT m_hDevice;
    CAudioDecoder* m_pSource;
    CWaveOutApi* m_pApi;
};
