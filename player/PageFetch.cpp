// Fetching the station's title page with WinINet without holding up the window, and reading the title from it.
#include "PageFetch.h"

#include <process.h>
#include <wininet.h>

#include "Config.h"

namespace
{
const DWORD FETCH_TIMEOUT_MS = 8000;
// A title page is a few kilobytes; a page without end is cut here rather than filling memory.
const size_t PAGE_LIMIT = 4 * 1024 * 1024;

struct CFetchJob
{
    std::wstring url;
    HWND window;
    UINT doneMessage;
};

// The whole body of a 200 answer and its Content-Type; false on any failure.
bool FetchBody(const std::wstring& url, std::string* body, std::string* contentType)
{
    HINTERNET session = InternetOpenW(L"pelradio", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (session == NULL)
        return false;
    DWORD timeout = FETCH_TIMEOUT_MS;
    InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
    // The title changes with every song: never a cached copy.
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
    HINTERNET request = InternetOpenUrlW(session, url.c_str(), NULL, 0, flags, 0);
    bool ok = false;
    if (request != NULL) {
        DWORD status = 0;
        DWORD size = sizeof(status);
        ok = HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL) &&
             status == 200;
        char type[256];
        size = sizeof(type) - 1;
        if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_TYPE, type, &size, NULL))
            contentType->assign(type, size);
        char chunk[16384];
        DWORD got = 0;
        while (ok && body->size() < PAGE_LIMIT) {
            if (!InternetReadFile(request, chunk, sizeof(chunk), &got))
                ok = false;
            else if (got == 0)
                break;
            else
                body->append(chunk, got);
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return ok;
}

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// "charset=utf-8" in a header value or a tag, spaces and quotes allowed around the "=".
bool DeclaresUtf8(const std::string& text)
{
    std::string lower = Lower(text);
    for (size_t at = lower.find("charset"); at != std::string::npos; at = lower.find("charset", at + 1)) {
        size_t p = at + 7;
        while (p < lower.size() && lower[p] == ' ')
            ++p;
        if (p >= lower.size() || lower[p++] != '=')
            continue;
        while (p < lower.size() && (lower[p] == ' ' || lower[p] == '"' || lower[p] == '\''))
            ++p;
        if (lower.compare(p, 5, "utf-8") == 0 || lower.compare(p, 4, "utf8") == 0)
            return true;
    }
    return false;
}

// A <meta> element of the page that declares UTF-8, in either of its two forms.
bool MetaDeclaresUtf8(const std::string& body)
{
    std::string lower = Lower(body);
    for (size_t at = lower.find("<meta"); at != std::string::npos; at = lower.find("<meta", at + 5)) {
        size_t end = lower.find('>', at);
        if (DeclaresUtf8(lower.substr(at, end == std::string::npos ? std::string::npos : end - at)))
            return true;
    }
    return false;
}

unsigned __stdcall FetchThreadProc(void* arg)
{
    CFetchJob* job = static_cast<CFetchJob*>(arg);
    std::string body;
    std::string contentType;
    std::wstring* page =
        FetchBody(job->url, &body, &contentType) ? new std::wstring(CPageFetch::DecodePage(body, contentType)) : NULL;
    // The window may be gone by now; then the text is ours to free.
    if (!PostMessageW(job->window, job->doneMessage, 0, reinterpret_cast<LPARAM>(page)))
        delete page;
    delete job;
    return 0;
}
} // namespace

CPageFetch::CPageFetch(HWND window, UINT doneMessage) : m_hWnd(window), m_uDoneMessage(doneMessage), m_bExecuting(false)
{
}

bool CPageFetch::Start(const std::wstring& url)
{
    if (m_bExecuting)
        return false;
    CFetchJob* job = new CFetchJob{url, m_hWnd, m_uDoneMessage};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, FetchThreadProc, job, 0, NULL));
    if (thread == NULL) {
        delete job;
        // Reported as a failed fetch, so that the label empties as for any other failure.
        PostMessageW(m_hWnd, m_uDoneMessage, 0, 0);
    } else {
        CloseHandle(thread);
    }
    m_bExecuting = true;
    return true;
}

std::wstring CPageFetch::DecodePage(const std::string& body, const std::string& contentType)
{
    if (body.empty())
        return std::wstring();
    UINT codePage = DeclaresUtf8(contentType) || MetaDeclaresUtf8(body) ? CP_UTF8 : CP_ACP;
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
