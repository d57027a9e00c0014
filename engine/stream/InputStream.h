// The byte source that the decoder pump reads.
#pragma once

#include <windows.h>

class CInputStream
{
public:
    CInputStream() : m_pszUrl(NULL), m_hNotifyWnd(NULL), m_bPublicOnly(false), m_bEndExplained(0), m_bLabelledAac(0) {}
    virtual ~CInputStream() {}

    CInputStream(const CInputStream&) = delete;
    CInputStream& operator=(const CInputStream&) = delete;

    // Non-zero on success.
    virtual int Open(HWND notifyWnd, const char* url)
    {
        m_hNotifyWnd = notifyWnd;
        m_pszUrl = const_cast<char*>(url);
        return 1;
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

    // Set by the owner before Open: connect to public addresses only.
    void SetPublicOnly(bool publicOnly) { m_bPublicOnly = publicOnly; }
    // True when the stream ended with its outcome already told: an address refused by that rule
    // (the refusal reported), or an answer that was a playlist (handed to the window).
    bool IsEndExplained() const { return m_bEndExplained != 0; }
    // True when the answer's Content-Type said AAC; known once the first bytes have been read.
    bool IsLabelledAac() const { return m_bLabelledAac != 0; }

protected:
    char* m_pszUrl;
    HWND m_hNotifyWnd;
    bool m_bPublicOnly;
    volatile LONG m_bEndExplained; // written by the reader thread, read by the owner after it
    volatile LONG m_bLabelledAac;  // written by the reader thread before the audio, read by the owner after it
};
