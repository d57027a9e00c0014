// Socket client: one connection attempt under one deadline and one wake event, then waits and bytes.
#include "engine/net/SocketClient.h"

#include "engine/net/AddressRule.h"
#include "engine/net/HostLookup.h"
#include "engine/net/HttpUrl.h"
#include "engine/net/TlsChannel.h"
#include "engine/net/TlsLibraries.h"
#include "engine/report/StatusText.h"

namespace
{
timeval MakeTimeout(int timeoutMicroseconds)
{
    timeval tv;
    tv.tv_sec = timeoutMicroseconds / 1000000;
    tv.tv_usec = timeoutMicroseconds % 1000000;
    return tv;
}

int ConnectResultOfTls(int result)
{
    switch (result) {
    case TLS_OK:
        return CONNECT_OK;
    case TLS_UNTRUSTED:
        return CONNECT_TLS_UNTRUSTED;
    case TLS_EXPIRED:
        return CONNECT_TLS_EXPIRED;
    case TLS_WRONG_NAME:
        return CONNECT_TLS_WRONG_NAME;
    case TLS_WOKEN:
        return CONNECT_WOKEN;
    default:
        return CONNECT_TLS_FAILED;
    }
}
} // namespace

const char* ConnectFailureText(int result, int* level)
{
    *level = 1;
    switch (result) {
    case CONNECT_TIMED_OUT:
        return TEXT_CONNECT_TIMEOUT;
    case CONNECT_NOT_FOUND:
        *level = 2;
        return TEXT_BAD_STATION;
    case CONNECT_FORBIDDEN:
        return TEXT_NOT_FROM_THIS_PAGE;
    case CONNECT_NO_SOCKET:
        return TEXT_SOCKET_FAILED;
    case CONNECT_REFUSED:
        return TEXT_CONNECT_FAILED;
    case CONNECT_TLS_UNTRUSTED:
        return TEXT_TLS_UNTRUSTED;
    case CONNECT_TLS_EXPIRED:
        return TEXT_TLS_EXPIRED;
    case CONNECT_TLS_WRONG_NAME:
        return TEXT_TLS_WRONG_NAME;
    case CONNECT_TLS_FAILED:
        return TEXT_TLS_FAILED;
    default:
        return NULL;
    }
}

CSocketClient::CSocketClient(HWND owner, HANDLE wake)
    : m_hOwner(owner), m_hWake(wake), m_bPublicOnly(false), m_dwLookupLimit(0), m_socket(INVALID_SOCKET), m_bWouldBlock(false),
      m_hNetEvent(NULL), m_pTls(NULL)
{
}

CSocketClient::~CSocketClient()
{
    CloseSocket();
}

void CSocketClient::CloseSocket()
{
    if (m_pTls != NULL)
        m_pTls->Close(m_socket);
    delete m_pTls;
    m_pTls = NULL;
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    if (m_hNetEvent != NULL) {
        CloseHandle(m_hNetEvent);
        m_hNetEvent = NULL;
    }
}

int CSocketClient::Connect(const CHttpUrl& url, DWORD limitMs, DWORD handshakeLimitMs)
{
    CloseSocket();
    int result = Attempt(url, limitMs, handshakeLimitMs);
    if (result != CONNECT_OK) {
        CloseSocket();
        int level = 0;
        const char* text = ConnectFailureText(result, &level);
        if (text != NULL)
            ReportStatusText(m_hOwner, text, level);
    }
    return result;
}

int CSocketClient::Attempt(const CHttpUrl& url, DWORD limitMs, DWORD handshakeLimitMs)
{
    DWORD start = GetTickCount();
    sockaddr_in address;
    ZeroMemory(&address, sizeof(address));
    switch (LookupHost(url.host, m_hWake, m_dwLookupLimit != 0 ? m_dwLookupLimit : limitMs, &address.sin_addr)) {
    case LOOKUP_FOUND:
        break;
    case LOOKUP_NOT_FOUND:
        return CONNECT_NOT_FOUND;
    case LOOKUP_TIMED_OUT:
        return CONNECT_TIMED_OUT;
    default:
        return CONNECT_WOKEN;
    }
    // Judged here, on the very address about to be connected, so that a name that answers
    // differently from one lookup to the next gains nothing.
    if (m_bPublicOnly && IsPrivateAddress(address.sin_addr))
        return CONNECT_FORBIDDEN;
    if (m_dwLookupLimit != 0)
        start = GetTickCount();
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(url.port));

    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket == INVALID_SOCKET)
        return CONNECT_NO_SOCKET;
    // Selecting an event also makes the socket non-blocking, for its whole life: every receive
    // is preceded by a wait.
    m_hNetEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (m_hNetEvent == NULL || WSAEventSelect(m_socket, m_hNetEvent, FD_CONNECT) != 0)
        return CONNECT_NO_SOCKET;
    if (connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS)
            return CONNECT_REFUSED;
        DWORD spent = GetTickCount() - start;
        int result = WaitConnected(limitMs == INFINITE ? INFINITE : spent < limitMs ? limitMs - spent : 0);
        if (result != CONNECT_OK)
            return result;
    }
    // From here the event tells of bytes to take and of the peer's end.
    WSAEventSelect(m_socket, m_hNetEvent, FD_READ | FD_CLOSE);
    return url.secure ? StartTls(url.host, handshakeLimitMs) : CONNECT_OK;
}

int CSocketClient::WaitConnected(DWORD limitMs)
{
    HANDLE events[2] = {m_hNetEvent, m_hWake};
    DWORD waited = WaitForMultipleObjects(m_hWake != NULL ? 2 : 1, events, FALSE, limitMs);
    if (waited == WAIT_OBJECT_0 + 1)
        return CONNECT_WOKEN;
    // A wait that failed in itself gives up on the connection like the time running out.
    if (waited != WAIT_OBJECT_0)
        return CONNECT_TIMED_OUT;
    WSANETWORKEVENTS happened;
    if (WSAEnumNetworkEvents(m_socket, NULL, &happened) != 0 || (happened.lNetworkEvents & FD_CONNECT) == 0 ||
        happened.iErrorCode[FD_CONNECT_BIT] != 0)
        return CONNECT_REFUSED;
    return CONNECT_OK;
}

int CSocketClient::StartTls(const char* host, DWORD limitMs)
{
    m_pTls = new CTlsChannel(TlsLibraries());
    return ConnectResultOfTls(m_pTls->Handshake(m_socket, host, m_hWake, limitMs));
}

int CSocketClient::Send(const char* data, int len)
{
    if (data == NULL)
        return -1;
    if (len <= 0)
        return 0;
    if (m_pTls != NULL)
        return m_pTls->Send(m_socket, data, len);
    return send(m_socket, data, len, 0);
}

int CSocketClient::Receive(char* buf, int size)
{
    m_bWouldBlock = false;
    if (buf == NULL || size <= 0)
        return 0;
    if (m_pTls != NULL)
        return m_pTls->Receive(m_socket, buf, size);
    int got = recv(m_socket, buf, size, 0);
    m_bWouldBlock = got < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
    return got;
}

// Over TLS, readable means plaintext is waiting (or the connection has ended): bytes of a
// record that has not fully arrived are taken in, and the wait goes on for the rest.
int CSocketClient::WaitReadable(int timeoutMicroseconds)
{
    return WaitReadable(timeoutMicroseconds, NULL);
}

int CSocketClient::WaitReadable(int timeoutMicroseconds, HANDLE wake)
{
    if (m_pTls == NULL)
        return WaitSocketReadable(timeoutMicroseconds, wake);
    DWORD start = GetTickCount();
    DWORD limitMs = static_cast<DWORD>(timeoutMicroseconds / 1000);
    for (;;) {
        if (m_pTls->Pump(m_socket))
            return 1;
        DWORD spent = GetTickCount() - start;
        if (spent >= limitMs)
            return 0;
        int remainingUs = static_cast<int>((limitMs - spent) * 1000);
        if (!WaitSocketReadable(remainingUs, wake))
            return 0;
    }
}

int CSocketClient::WaitSocketReadable(int timeoutMicroseconds)
{
    if (m_socket == INVALID_SOCKET)
        return 0;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_socket, &readable);
    timeval tv = MakeTimeout(timeoutMicroseconds);
    return select(0, &readable, NULL, NULL, &tv) > 0 ? 1 : 0;
}

int CSocketClient::WaitSocketReadable(int timeoutMicroseconds, HANDLE wake)
{
    if (wake == NULL)
        return WaitSocketReadable(timeoutMicroseconds);
    if (m_socket == INVALID_SOCKET)
        return 0;
    // Winsock signals FD_READ when bytes come, and again only after a receive (which re-enables
    // it at once when bytes are left), so a signal means bytes that no receive has taken: no
    // select before the wait or after it, each a round trip more per receive under Wine. Should
    // a receive still find nothing, it says so (WouldBlock) and the caller waits again.
    HANDLE events[2] = {m_hNetEvent, wake};
    DWORD result = WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(timeoutMicroseconds / 1000));
    if (result == WAIT_OBJECT_0)
        return 1;
    // A signal taken together with the end's (FD_CLOSE comes once) shows here, a time-out later.
    if (result == WAIT_TIMEOUT)
        return WaitSocketReadable(0);
    return 0;
}

int StartWinsock(HWND window)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0)
        return 0;
    if (LOBYTE(data.wVersion) != 2) {
        ReportStatusText(window, TEXT_NEED_WINSOCK2, 2);
        WSACleanup();
        return 0;
    }
    return 1;
}
