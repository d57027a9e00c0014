// A one-shot fetch of a web page on a thread of its own, its text handed to a window when done.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

// Whatever the site does (never answering, or trickling a byte at a time), a fetch ends within this.
const DWORD PAGE_FETCH_LIMIT_MS = 20000;

class CPageFetch
{
public:
    // doneMessage reaches the window when a fetch has ended; the window then calls Take. The
    // message carries nothing: whatever another process posts with the same number finds no result.
    CPageFetch(HWND window, UINT doneMessage, DWORD limitMs = PAGE_FETCH_LIMIT_MS);

    // False, and nothing happens, while an earlier fetch is still executing.
    bool Start(const std::wstring& url);
    bool IsExecuting() const { return m_bExecuting; }
    // The ended fetch's page text (empty when it failed); false when no fetch has ended.
    bool Take(std::wstring* page);

    // The page body decoded as text, by the charset that the answer's Content-Type or a <meta>
    // element declares (UTF-8; or EUC-KR and its other names, code page 949); without one as code
    // page 949, the station's own, whatever the listener's system uses.
    static std::wstring DecodePage(const std::string& body, const std::string& contentType);

    // The result of one fetch, filled once under the lock, by the fetch's thread or by its limit's
    // timer (a failure), whichever comes first; the window takes it.
    struct CResult
    {
        CRITICAL_SECTION lock;
        bool ended;
        std::wstring page;
        CResult() : ended(false) { InitializeCriticalSection(&lock); }
        ~CResult() { DeleteCriticalSection(&lock); }
    };

private:
    HWND m_hWnd;
    UINT m_uDoneMessage;
    DWORD m_dwLimitMs;
    bool m_bExecuting;                 // written and read on the window's thread only
    std::shared_ptr<CResult> m_result; // the fetch now executing (or ended and not yet taken)
};

// The song title on a title page: the text from the marker's end to the first end mark after it
// (or to the page's end), exactly as the page has it; empty when the marker is not there.
std::wstring FindSongTitle(const std::wstring& page);
