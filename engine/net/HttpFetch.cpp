// One-shot fetch: bounded request, 2 s connection wait, 2 s for each answer, redirects followed, a body only from a 200.
#include "engine/net/HttpFetch.h"

#include <cstdio>
#include <vector>

#include "engine/net/HttpAnswer.h"
#include "engine/net/HttpUrl.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"

namespace
{
const DWORD CONNECT_WAIT_MS = 2000;
// Each answer is read for at most this long, however it trickles in.
const DWORD ANSWER_TIME_MS = 2000;
const int RESPONSE_MAX = 0x10000;
const int REQUEST_MAX = 1024;
const int REDIRECT_MAX = 5;
const char REQUEST_FORMAT[] = "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: */*\r\nUser-Agent: KELPLAYER/1.1.0.0\r\n\r\n";

// 1 once the connection stands, over TLS for https; otherwise the client has reported why.
// The container's thread waits for the fetch: a resolver that does not answer may not hold it
// for longer than a connection may, so the lookup shares the connection's wait.
int ConnectClient(CSocketClient* client, const CHttpUrl& url)
{
    return client->Connect(url, CONNECT_WAIT_MS, CONNECT_WAIT_MS) == CONNECT_OK ? 1 : 0;
}

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
// the peer's close, RESPONSE_MAX bytes in all or ANSWER_TIME_MS, whichever comes first.
void ReadAnswer(CSocketClient* client, CHttpAnswer* answer, std::string* body)
{
    std::vector<char> piece(RESPONSE_MAX);
    int total = 0;
    DWORD start = GetTickCount();
    while (total < RESPONSE_MAX && WantsMore(*answer, *body)) {
        DWORD spent = GetTickCount() - start;
        if (spent >= ANSWER_TIME_MS || !client->WaitReadable(static_cast<int>((ANSWER_TIME_MS - spent) * 1000)))
            break;
        int got = client->Receive(piece.data(), RESPONSE_MAX - total);
        if (got < 0 && client->WouldBlock())
            continue;
        if (got <= 0)
            break;
        total += got;
        if (answer->State() == HTTP_ANSWER_COMPLETE)
            body->append(piece.data(), got);
        else if (answer->Take(piece.data(), got) == HTTP_ANSWER_COMPLETE)
            body->assign(answer->Body(), answer->BodyLength());
    }
    long long length = answer->ContentLength();
    if (length >= 0 && static_cast<long long>(body->size()) > length)
        body->resize(static_cast<size_t>(length));
}
} // namespace

std::string FetchHttpBody(CSocketClient* client, HWND window, const char* url,
                          const std::function<bool(const std::string&)>& mayFollow, std::string* source)
{
    std::string result;
    if (client == NULL)
        return result;
    if (url == NULL) {
        ReportStatusText(window, TEXT_BAD_ADDRESS, 1);
        return result;
    }
    std::string address = url;
    for (int redirects = 0;; ++redirects) {
        CHttpUrl parsed;
        if (!ParseHttpUrl(address.c_str(), &parsed)) {
            ReportStatusText(window, TEXT_BAD_ADDRESS, 1);
            return result;
        }
        // A request that does not fit its buffer is refused like a bad address, before connecting.
        char request[REQUEST_MAX];
        int requestLen = snprintf(request, sizeof(request), REQUEST_FORMAT, RequestPath(parsed.path).c_str(), parsed.host);
        if (requestLen < 0 || requestLen >= REQUEST_MAX) {
            ReportStatusText(window, TEXT_BAD_ADDRESS, 1);
            return result;
        }
        if (!ConnectClient(client, parsed))
            return result;
        client->Send(request, requestLen);

        CHttpAnswer answer(RESPONSE_MAX);
        std::string body;
        ReadAnswer(client, &answer, &body);
        // An answer cut off before its status line is over says nothing worth showing.
        if (answer.State() == HTTP_ANSWER_PARTIAL)
            return result;
        if (answer.State() == HTTP_ANSWER_BAD) {
            ReportStatusText(window, TEXT_BAD_RESPONSE, 1);
            return result;
        }
        std::string target;
        if (IsRedirect(answer.Status()) && answer.Location(&target)) {
            // A loop of redirects is an unusable answer.
            if (redirects == REDIRECT_MAX) {
                ReportStatusText(window, TEXT_BAD_RESPONSE, 1);
                return result;
            }
            // A target of another scheme resolves to "", which the next round refuses.
            address = ResolveAddress(address.c_str(), target.c_str());
            if (mayFollow && !mayFollow(address))
                return result;
            continue;
        }
        if (answer.Status() != 200) {
            char text[300];
            snprintf(text, sizeof(text), TEXT_CANNOT_LISTEN, answer.Reason());
            ReportStatusText(window, text, 1);
            return result;
        }
        if (answer.State() != HTTP_ANSWER_COMPLETE)
            return result;
        if (source != NULL)
            *source = address;
        result = body.c_str(); // up to the first zero byte
        return result;
    }
}
