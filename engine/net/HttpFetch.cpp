// One-shot fetch: bounded request, 2 s connection wait, about 2 s of reading, body after the header.
#include "engine/net/HttpFetch.h"

#include <cstdio>
#include <vector>

#include "engine/net/HttpUrl.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"

namespace
{
const DWORD CONNECT_WAIT_MS = 2000;
const int RECEIVE_WAIT_US = 20000;
const int READ_ATTEMPTS = 100;
const int RESPONSE_MAX = 0x10000;
const int REQUEST_MAX = 1024;
const char REQUEST_FORMAT[] = "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: */*\r\nUser-Agent: KELPLAYER/1.1.0.0\r\n\r\n";

// 1 once the connection stands, over TLS for https; otherwise the client has reported why.
// The container's thread waits for the fetch: a resolver that does not answer may not hold it
// for longer than a connection may, so the lookup shares the connection's wait.
int ConnectClient(CSocketClient* client, const CHttpUrl& url)
{
    return client->Connect(url, CONNECT_WAIT_MS, CONNECT_WAIT_MS) == CONNECT_OK ? 1 : 0;
}
} // namespace

std::string FetchHttpBody(CSocketClient* client, HWND window, const char* url)
{
    std::string result;
    if (client == NULL)
        return result;
    CHttpUrl parsed;
    if (url == NULL || !ParseHttpUrl(url, &parsed)) {
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

    // Silent attempts count too, so a quiet server ends the reading after about 2 s.
    std::vector<char> response(RESPONSE_MAX + 1);
    int count = 0;
    for (int attempt = 0; attempt < READ_ATTEMPTS && count < RESPONSE_MAX; ++attempt) {
        if (!client->WaitReadable(RECEIVE_WAIT_US))
            continue;
        int got = client->Receive(&response[count], RESPONSE_MAX - count);
        if (got <= 0)
            break;
        count += got;
    }
    response[count] = '\0';

    std::string received(response.data(), count);
    size_t bodyStart = received.find("\r\n\r\n");
    if (bodyStart != std::string::npos) {
        bodyStart += 4;
    } else {
        bodyStart = received.find("\n\n");
        if (bodyStart == std::string::npos)
            return result;
        bodyStart += 2;
    }
    result = &response[bodyStart];
    return result;
}
