// One-shot fetch: bounded request, connection and answer waits, redirects followed, a body only from a 200.
#include "engine/net/HttpFetch.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/net/HttpAnswer.h"
#include "engine/net/HttpUrl.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"

namespace
{
// A small document's limits: a 2 s connection wait, 2 s for each answer, 64 KiB.
const CFetchLimits TEXT_LIMITS = {0x10000, 2000, 2000, NULL, false};
// Answers are received in pieces of at most this much, and a header may take no more.
const size_t PIECE_MAX = 0x10000;
const int REQUEST_MAX = 1024;
const int REDIRECT_MAX = 5;
const char REQUEST_FORMAT[] = "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: */*\r\nUser-Agent: KELPLAYER/1.1.0.0\r\n\r\n";

bool IsRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// True while more of the answer is worth waiting for: its header, or the rest of a 200's body.
bool WantsMore(const CHttpAnswer& answer, const std::string& body)
{
    switch (answer.State()) {
    case HTTP_ANSWER_PARTIAL:
        return true;
    case HTTP_ANSWER_STATUS:
        // Only a redirect's Location is still to come; any other status is judged already.
        return answer.Status() == 200 || IsRedirect(answer.Status());
    case HTTP_ANSWER_COMPLETE: {
        if (answer.Status() != 200)
            return false;
        long long length = answer.ContentLength();
        return length < 0 || static_cast<long long>(body.size()) < length;
    }
    default:
        return false;
    }
}

// Reads one answer into answer and, for a 200, its body into *body: until the Content-Length,
// the peer's close, the limit's bytes in all or its time, whichever comes first. True when the
// body is whole: its Content-Length reached, or the peer closed.
bool ReadAnswer(CSocketClient* client, const CFetchLimits& limits, CHttpAnswer* answer, std::string* body)
{
    std::vector<char> piece(static_cast<size_t>(std::min<size_t>(limits.maxBytes, PIECE_MAX)));
    size_t total = 0;
    bool closed = false;
    DWORD start = GetTickCount();
    while (total < limits.maxBytes && WantsMore(*answer, *body)) {
        DWORD spent = GetTickCount() - start;
        if (spent >= limits.answerMs ||
            !client->WaitReadable(static_cast<int>((limits.answerMs - spent) * 1000), limits.wake))
            break;
        int got = client->Receive(piece.data(), static_cast<int>(std::min(piece.size(), limits.maxBytes - total)));
        if (got < 0 && client->WouldBlock())
            continue;
        if (got <= 0) {
            closed = got == 0;
            break;
        }
        total += static_cast<size_t>(got);
        if (answer->State() == HTTP_ANSWER_COMPLETE)
            body->append(piece.data(), got);
        else if (answer->Take(piece.data(), got) == HTTP_ANSWER_COMPLETE)
            body->assign(answer->Body(), answer->BodyLength());
    }
    long long length = answer->ContentLength();
    if (length >= 0 && static_cast<long long>(body->size()) >= length) {
        body->resize(static_cast<size_t>(length));
        return true;
    }
    return length < 0 && closed;
}
} // namespace

std::string FetchHttpBody(CSocketClient* client, HWND window, const char* url,
                          const std::function<bool(const std::string&)>& mayFollow, std::string* source)
{
    std::string body;
    if (FetchHttpBytes(client, window, url, TEXT_LIMITS, mayFollow, source, &body) != FETCH_OK)
        return std::string();
    return body.c_str(); // up to the first zero byte
}

int FetchHttpBytes(CSocketClient* client, HWND window, const char* url, const CFetchLimits& limits,
                   const std::function<bool(const std::string&)>& mayFollow, std::string* source, std::string* result)
{
    result->clear();
    if (client == NULL)
        return FETCH_FAILED;
    if (url == NULL) {
        ReportStatusText(window, TEXT_BAD_ADDRESS, 1);
        return FETCH_FAILED;
    }
    std::string address = url;
    for (int redirects = 0;; ++redirects) {
        CHttpUrl parsed;
        if (!ParseHttpUrl(address.c_str(), &parsed)) {
            ReportStatusText(window, TEXT_BAD_ADDRESS, 1);
            return FETCH_FAILED;
        }
        // A request that does not fit its buffer is refused like a bad address, before connecting.
        char request[REQUEST_MAX];
        int requestLen = snprintf(request, sizeof(request), REQUEST_FORMAT, RequestPath(parsed.path).c_str(), parsed.host);
        if (requestLen < 0 || requestLen >= REQUEST_MAX) {
            ReportStatusText(window, TEXT_BAD_ADDRESS, 1);
            return FETCH_FAILED;
        }
        // A resolver that does not answer may not hold the caller for longer than a connection
        // may, so the lookup shares the connection's wait.
        int connected = client->Connect(parsed, limits.connectMs, limits.connectMs);
        if (connected == CONNECT_FORBIDDEN)
            return FETCH_FORBIDDEN;
        if (connected == CONNECT_WOKEN)
            return FETCH_WOKEN;
        if (connected != CONNECT_OK)
            return FETCH_FAILED;
        client->Send(request, requestLen);

        CHttpAnswer answer(std::min(limits.maxBytes, PIECE_MAX));
        std::string body;
        bool whole = ReadAnswer(client, limits, &answer, &body);
        if (limits.wake != NULL && WaitForSingleObject(limits.wake, 0) == WAIT_OBJECT_0)
            return FETCH_WOKEN;
        // An answer cut off before its status line is over says nothing worth showing.
        if (answer.State() == HTTP_ANSWER_PARTIAL)
            return FETCH_FAILED;
        if (answer.State() == HTTP_ANSWER_BAD) {
            ReportStatusText(window, TEXT_BAD_RESPONSE, 1);
            return FETCH_FAILED;
        }
        std::string target;
        if (IsRedirect(answer.Status()) && answer.Location(&target)) {
            // A loop of redirects is an unusable answer.
            if (redirects == REDIRECT_MAX) {
                ReportStatusText(window, TEXT_BAD_RESPONSE, 1);
                return FETCH_FAILED;
            }
            // A target of another scheme resolves to "", which the next round refuses.
            address = ResolveAddress(address.c_str(), target.c_str());
            if (mayFollow && !mayFollow(address))
                return FETCH_FAILED;
            continue;
        }
        if (answer.Status() != 200) {
            char text[300];
            snprintf(text, sizeof(text), TEXT_CANNOT_LISTEN, answer.Reason());
            ReportStatusText(window, text, 1);
            return FETCH_FAILED;
        }
        if (answer.State() != HTTP_ANSWER_COMPLETE || (limits.whole && !whole))
            return FETCH_FAILED;
        if (source != NULL)
            *source = address;
        result->swap(body);
        return FETCH_OK;
    }
}
