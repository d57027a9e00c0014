// Fetching the station's title page with WinINet without holding up the window, and reading the title from it.
#include "PageFetch.h"

#include <cstring>
#include <process.h>
#include <wininet.h>

#include "Config.h"

namespace
{
// A <meta> element without its '>' is looked at up to here, not to the end of the page.
const size_t META_SCAN_LIMIT = 1024;
const UINT STATION_CODE_PAGE = 949;
// A title page is a few kilobytes; a page without end is cut here rather than filling memory.
const size_t PAGE_LIMIT = 4 * 1024 * 1024;

// Owner of one WinINet handle, closed on every way out of the fetch.
class CInternetHandle
{
public:
    explicit CInternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~CInternetHandle()
    {
        if (m_handle != NULL)
            InternetCloseHandle(m_handle);
    }
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;
    HINTERNET Get() const { return m_handle; }

private:
    HINTERNET m_handle;
};

// Written before the fetch's thread starts; read by that thread and by its limit's timer.
struct CFetchJob
{
    std::wstring url;
    HWND window;
    UINT doneMessage;
    DWORD limitMs;
    std::shared_ptr<CPageFetch::CResult> result;
};

// Lets the handle's next blocking steps (connecting, sending, waiting for the answer, a read)
// wait only for what is left of the limit; false when nothing is left.
bool LimitSteps(HINTERNET handle, DWORD start, DWORD limitMs)
{
    DWORD spent = GetTickCount() - start;
    if (spent >= limitMs)
        return false;
    DWORD left = limitMs - spent;
    InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &left, sizeof(left));
    InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &left, sizeof(left));
    InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &left, sizeof(left));
    return true;
}

// The whole body of a 200 answer and its Content-Type; false on any failure. The request is
// opened by steps, not with InternetOpenUrlW, so that the wait for the answer gets the request's
// own time-outs (WinINet waits on a silent server for ever otherwise).
bool FetchBody(const std::wstring& url, DWORD limitMs, std::string* body, std::string* contentType)
{
    const DWORD start = GetTickCount();
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts) || parts.dwHostNameLength == 0)
        return false;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty())
        path = L"/";
    CInternetHandle session(InternetOpenW(L"pelradio", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0));
    if (session.Get() == NULL)
        return false;
    CInternetHandle connection(
        InternetConnectW(session.Get(), host.c_str(), parts.nPort, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.Get() == NULL)
        return false;
    // The title changes with every song: never a cached copy.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    CInternetHandle request(HttpOpenRequestW(connection.Get(), NULL, path.c_str(), NULL, NULL, NULL, flags, 0));
    if (request.Get() == NULL || !LimitSteps(request.Get(), start, limitMs) ||
        !HttpSendRequestW(request.Get(), NULL, 0, NULL, 0))
        return false;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL) ||
        status != 200)
        return false;
    char type[256];
    size = sizeof(type) - 1;
    if (HttpQueryInfoA(request.Get(), HTTP_QUERY_CONTENT_TYPE, type, &size, NULL))
        contentType->assign(type, size);
    char chunk[16384];
    DWORD got = 0;
    while (body->size() < PAGE_LIMIT) {
        if (!LimitSteps(request.Get(), start, limitMs) || !InternetReadFile(request.Get(), chunk, sizeof(chunk), &got))
            return false;
        if (got == 0)
            break;
        body->append(chunk, got);
    }
    return true;
}

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The value of the first "charset=" in a header value or a tag (lower case already), spaces and
// quotes allowed around the "="; "" when there is none.
std::string DeclaredCharset(const std::string& lower)
{
    for (size_t at = lower.find("charset"); at != std::string::npos; at = lower.find("charset", at + 1)) {
        size_t p = at + 7;
        while (p < lower.size() && lower[p] == ' ')
            ++p;
        if (p >= lower.size() || lower[p++] != '=')
            continue;
        while (p < lower.size() && (lower[p] == ' ' || lower[p] == '"' || lower[p] == '\''))
            ++p;
        size_t end = lower.find_first_of(" \"';>/", p);
        return lower.substr(p, end == std::string::npos ? std::string::npos : end - p);
    }
    return std::string();
}

// The charset that a <meta> element of the page declares, in either of its two forms.
std::string MetaCharset(const std::string& body)
{
    std::string lower = Lower(body);
    for (size_t at = lower.find("<meta"); at != std::string::npos; at = lower.find("<meta", at + 5)) {
        size_t window = lower.size() - at < META_SCAN_LIMIT ? lower.size() - at : META_SCAN_LIMIT;
        const void* end = memchr(lower.data() + at, '>', window);
        size_t length = end != NULL ? static_cast<const char*>(end) - (lower.data() + at) : window;
        std::string charset = DeclaredCharset(lower.substr(at, length));
        if (!charset.empty())
            return charset;
    }
    return std::string();
}

UINT CodePageOf(const std::string& charset)
{
    if (charset == "utf-8" || charset == "utf8")
        return CP_UTF8;
    // euc-kr, ks_c_5601-1987, cp949, x-windows-949, or anything else: the station's own.
    return STATION_CODE_PAGE;
}

// Hands the window the fetch's result, unless it has one already: the limit may have ended the
// fetch first (a failure), while the thread was still waiting.
void Finish(CFetchJob* job, std::wstring* page)
{
    EnterCriticalSection(&job->result->lock);
    bool first = !job->result->ended;
    if (first) {
        job->result->page.swap(*page);
        job->result->ended = true;
    }
    LeaveCriticalSection(&job->result->lock);
    // The window may be gone by now; the result then goes with the job.
    if (first)
        PostMessageW(job->window, job->doneMessage, 0, 0);
}

// On a thread of the system's pool, when the limit has passed.
void CALLBACK OnLimit(void* arg, BOOLEAN)
{
    std::wstring none;
    Finish(static_cast<CFetchJob*>(arg), &none);
}

// The thread is never joined. A program that ends during a fetch ends it wherever it is: it
// touches only its own job and the result it shares with the window (kept alive by both), and
// its last post goes to a window that may be gone, which the system then drops. Its own steps
// end soon after the limit too, so that fetches of a silent site do not pile up.
unsigned __stdcall FetchThreadProc(void* arg)
{
    CFetchJob* job = static_cast<CFetchJob*>(arg);
    HANDLE limit = NULL;
    if (!CreateTimerQueueTimer(&limit, NULL, OnLimit, job, job->limitMs, 0, WT_EXECUTEONLYONCE))
        limit = NULL;
    std::string body;
    std::string contentType;
    std::wstring page = FetchBody(job->url, job->limitMs, &body, &contentType) ? CPageFetch::DecodePage(body, contentType) : std::wstring();
    // Waits for a call of OnLimit that has begun: the job must outlive it.
    if (limit != NULL)
        DeleteTimerQueueTimer(NULL, limit, INVALID_HANDLE_VALUE);
    Finish(job, &page);
    delete job;
    return 0;
}
} // namespace

CPageFetch::CPageFetch(HWND window, UINT doneMessage, DWORD limitMs)
    : m_hWnd(window), m_uDoneMessage(doneMessage), m_dwLimitMs(limitMs), m_bExecuting(false)
{
}

bool CPageFetch::Start(const std::wstring& url)
{
    if (m_bExecuting)
        return false;
    m_result = std::make_shared<CResult>();
    CFetchJob* job = new CFetchJob{url, m_hWnd, m_uDoneMessage, m_dwLimitMs, m_result};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, FetchThreadProc, job, 0, NULL));
    if (thread == NULL) {
        delete job;
        // Reported as a failed fetch, so that the label empties as for any other failure.
        m_result->ended = true;
        PostMessageW(m_hWnd, m_uDoneMessage, 0, 0);
    } else {
        CloseHandle(thread);
    }
    m_bExecuting = true;
    return true;
}

bool CPageFetch::Take(std::wstring* page)
{
    if (!m_bExecuting || !m_result)
        return false;
    EnterCriticalSection(&m_result->lock);
    bool ended = m_result->ended;
    if (ended)
        page->swap(m_result->page);
    LeaveCriticalSection(&m_result->lock);
    if (ended) {
        m_result.reset();
        m_bExecuting = false;
    }
    return ended;
}

std::wstring CPageFetch::DecodePage(const std::string& body, const std::string& contentType)
{
    if (body.empty())
        return std::wstring();
    std::string charset = DeclaredCharset(Lower(contentType));
    if (charset.empty())
        charset = MetaCharset(body);
    UINT codePage = CodePageOf(charset);
    int chars = MultiByteToWideChar(codePage, 0, body.data(), static_cast<int>(body.size()), NULL, 0);
    std::wstring text(chars > 0 ? chars : 0, L'\0');
    if (chars > 0)
        MultiByteToWideChar(codePage, 0, body.data(), static_cast<int>(body.size()), &text[0], chars);
    return text;
}

std::wstring FindSongTitle(const std::wstring& page)
{
    const std::wstring marker = TITLE_MARKER;
    size_t start = page.find(marker);
    if (start == std::wstring::npos)
        return std::wstring();
    start += marker.size();
    size_t end = page.find(TITLE_END_MARK, start);
    return page.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}
