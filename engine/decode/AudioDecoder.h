// The PCM source that the wave-out output reads: 16-bit stereo sample frames.
#pragma once

#include <windows.h>

// What a Read came to.
enum EReadResult
{
    READ_ENDED,         // the stream ended before the room was filled
    READ_FILLED,        // the room was filled
    READ_FORMAT_CHANGED // stopped at a frame boundary: what follows plays at the new m_nSampleRate
};

class CAudioDecoder
{
public:
    CAudioDecoder() : m_nSampleRate(0), m_bOpen(0), m_hWnd(NULL) {}
    virtual ~CAudioDecoder() {}

    CAudioDecoder(const CAudioDecoder&) = delete;
    CAudioDecoder& operator=(const CAudioDecoder&) = delete;

    virtual void Close() = 0;
    // On entry *length is the room in bytes; on return the bytes written (a multiple of 4).
    virtual EReadResult Read(void* buffer, unsigned* length) = 0;

    // Read directly by the output and the worker, all on the worker's thread.
    unsigned m_nSampleRate; // valid after a successful open; a READ_FORMAT_CHANGED sets it anew
    int m_bOpen;

protected:
    HWND m_hWnd; // where status texts go
};
