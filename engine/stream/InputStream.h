// The byte source that the decoder pump reads.
#pragma once

#include <windows.h>

// What came of opening a stream (and of opening a station's decoder on it).
enum EOpenOutcome
{
    OPEN_FAILED,      // nothing to play; the listener has not been told why
    OPEN_OK,
    OPEN_FAILED_TOLD, // nothing to play, and the outcome already told: an address refused by
                      // the public-only rule (the refusal reported), or an answer that was a
                      // playlist (handed to the window)
    OPEN_CANCELLED    // given up because a newer command waits: no failure
};

class CInputStream
{
public:
    CInputStream() : m_pszUrl(NULL), m_hNotifyWnd(NULL), m_bPublicOnly(false), m_bLabelledAac(0) {}
    virtual ~CInputStream() {}

    CInputStream(const CInputStream&) = delete;
    CInputStream& operator=(const CInputStream&) = delete;

    virtual EOpenOutcome Open(HWND notifyWnd, const char* url)
    {
        m_hNotifyWnd = notifyWnd;
        m_pszUrl = const_cast<char*>(url);
        return OPEN_OK;
    }
    virtual void Close() {}
    // Number of items of size bytes read.
    virtual unsigned Read(void* buf, unsigned size, unsigned count)
    {
        (void)buf;
        (void)size;
        (void)count;
        return 0;
    }
    virtual int Seek(int offset, int origin)
    {
        (void)offset;
        (void)origin;
        return 0;
    }
    virtual int Tell() { return 0; }
    virtual int GetLength() { return 0; }
    // Copies the next count bytes as Read would, but leaves them to be read; count, or 0 when
    // Read would have given nothing.
    virtual unsigned Peek(void* buf, unsigned count)
    {
        (void)buf;
        (void)count;
        return 0;
    }

    // True, once, when a decoder about to decode from offset (the bytes of the stream it has read
    // before it) has reached the start of a new connection's audio (a reconnect spliced behind the
    // last whole frame of the old one): what it carries over from before belongs to another connection.
    virtual bool PassedSplice(unsigned long long offset)
    {
        (void)offset;
        return false;
    }
    // Reads stop (give 0) where frames of the other kind begin (AAC after MPEG audio, or the
    // reverse: an HLS discontinuity into another codec), for they need another decoder. True,
    // once, when the reads have stopped there: they go on with the new frames, and a decoder
    // made for them counts its offsets (see PassedSplice) from there.
    virtual bool TakeKindChange() { return false; }

    // Set by the owner before Open: connect to public addresses only.
    void SetPublicOnly(bool publicOnly) { m_bPublicOnly = publicOnly; }
    // True when the answer's Content-Type said AAC; known once the first bytes have come.
    bool IsLabelledAac() const { return m_bLabelledAac != 0; }

protected:
    char* m_pszUrl;
    HWND m_hNotifyWnd;
    bool m_bPublicOnly;
    volatile LONG m_bLabelledAac; // written by the reader thread before the audio, read by the owner after it
};
