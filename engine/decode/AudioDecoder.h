// The PCM source that the wave-out output reads: 16-bit stereo sample frames.
#pragma once

#include <windows.h>

class CInputStream;

class CAudioDecoder
{
public:
    CAudioDecoder() : m_nSampleRate(0), m_bOpen(0), m_pReader(NULL), m_hWnd(NULL), m_bPublicOnly(false), m_bEndExplained(false) {}
    // Closes, then destroys any reader still owned.
    virtual ~CAudioDecoder();

    CAudioDecoder(const CAudioDecoder&) = delete;
    CAudioDecoder& operator=(const CAudioDecoder&) = delete;

    // Opens the stream; non-zero on success.
    virtual int Open(HWND window, const char* url)
    {
        m_hWnd = window;
        (void)url;
        return 1;
    }
    virtual void Close() {}
    // On entry *length is the room in bytes; on return the bytes written (a multiple of 4).
    // 1 when the room was filled, 0 when the stream ended first.
    virtual int Read(void* buffer, unsigned* length)
    {
        (void)buffer;
        (void)length;
        return 1;
    }

    // For the streams that Open opens from now on: connect to public addresses only.
    void SetPublicOnly(bool publicOnly) { m_bPublicOnly = publicOnly; }
    // True when the last Open failed with its outcome already told (a refused address, a
    // playlist answer): no other text is due.
    bool IsEndExplained() const { return m_bEndExplained; }

    // Read directly by the output and the worker.
    unsigned m_nSampleRate; // valid after a successful Open
    int m_bOpen;

protected:
    // The byte source for a URL: the station's HTTP stream. Tests hand in a stream of their own.
    virtual CInputStream* CreateStream();
    // The start of a pump's Open: a fresh reader from CreateStream, public-only as asked, and no
    // outcome told yet.
    void StartOpen(HWND window);

    CInputStream* m_pReader;
    HWND m_hWnd;
    bool m_bPublicOnly;
    bool m_bEndExplained;
};
