// A one-shot fetch of a web page on a thread of its own, its text handed to a window when done.
#pragma once

#include <windows.h>

#include <string>

class CPageFetch
{
public:
    // doneMessage reaches the window with lParam a new std::wstring of the page's text (the
    // receiver deletes it), or 0 when the fetch failed; the receiver then calls Done().
    CPageFetch(HWND window, UINT doneMessage);

    // False, and nothing happens, while an earlier fetch is still executing.
    bool Start(const std::wstring& url);
    bool IsExecuting() const { return m_bExecuting; }
    void Done() { m_bExecuting = false; }

    // The page body decoded as text: UTF-8 where the answer's Content-Type or a <meta> element
    // of the page declares it, else the ANSI code page, as the station's pages of old are written.
    static std::wstring DecodePage(const std::string& body, const std::string& contentType);

private:
    HWND m_hWnd;
    UINT m_uDoneMessage;
    bool m_bExecuting; // written and read on the window's thread only
};

// The song title on a title page: the text from the marker's end to the first end mark after it
// (or to the page's end), exactly as the page has it; empty when the marker is not there.
std::wstring FindSongTitle(const std::wstring& page);
