// Socket client: non-blocking connect, select-based waits with microsecond time-outs.
#include "engine/net/SocketClient.h"

#include "engine/net/AddressRule.h"
#include "engine/net/HostLookup.h"
#include "engine/report/StatusText.h"
#include "engine/net/TlsChannel.h"
#include "engine/net/TlsLibraries.h"

namespace
{
timeval MakeTimeout(int timeoutMicroseconds)
{
    timeval tv;
    tv.tv_sec = timeoutMicroseconds / 1000000;
    tv.tv_usec = timeoutMicroseconds % 1000000;
    return tv;
}
} // namespace

CSocketClient::CSocketClient(HWND owner, HANDLE wake)
    : m_hOwner(owner), m_hWake(wake), m_dwLookupLimit(INFINITE), m_bPublicOnly(false), m_bForbidden(false),
      m_socket(INVALID_SOCKET), m_bWaitFailed(false), m_bWouldBlock(false), m_hNetEvent(NULL),
      m_pTls(NULL)
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

int CSocketClient::Connect(const char* host, int port, int* inProgress)
{
    CloseSocket();
    *inProgress = 0;
    m_bForbidden = false;

    sockaddr_in address;
    ZeroMemory(&address, sizeof(address));
    switch (LookupHost(host, m_hWake, m_dwLookupLimit, &address.sin_addr)) {
    case LOOKUP_FOUND:
        break;
    case LOOKUP_NOT_FOUND:
        ReportStatusText(m_hOwner, TEXT_BAD_STATION, 2);
        return 0;
    case LOOKUP_TIMED_OUT:
        ReportStatusText(m_hOwner, TEXT_CONNECT_TIMEOUT, 1);
        return 0;
    default: // woken: the owner is ending this connection anyway
        return 0;
    }
    // Judged here, on the very address about to be connected, so that a name that answers
    // differently from one lookup to the next gains nothing.
    if (m_bPublicOnly && IsPrivateAddress(address.sin_addr)) {
        m_bForbidden = true;
        ReportStatusText(m_hOwner, TEXT_NOT_FROM_THIS_PAGE, 1);
        return 0;
    }
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));

    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket == INVALID_SOCKET) {
        ReportStatusText(m_hOwner, TEXT_SOCKET_FAILED, 1);
        return 0;
    }

    // Non-blocking for the socket's whole life: every receive is preceded by WaitReadable.
    u_long nonBlocking = 1;
    ioctlsocket(m_socket, FIONBIO, &nonBlocking);

    if (connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return 1;

    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) {
        *inProgress = 1;
        return 0;
    }
    ReportStatusText(m_hOwner, TEXT_CONNECT_FAILED, 1);
    CloseSocket();
    return 0;
}

int CSocketClient::StartTls(const char* host, DWORD limitMs, int level)
{
    if (m_socket == INVALID_SOCKET)
        return 0;
    m_pTls = new CTlsChannel(TlsLibraries());
    int result = m_pTls->Handshake(m_socket, host, m_hWake, limitMs);
    if (result == TLS_OK)
        return 1;
    CloseSocket();
    static const char* const texts[] = {NULL, TEXT_TLS_UNTRUSTED, TEXT_TLS_EXPIRED, TEXT_TLS_WRONG_NAME, TEXT_TLS_FAILED};
    if (result != TLS_WOKEN)
        ReportStatusText(m_hOwner, texts[result], level);
    return 0;
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

int CSocketClient::WaitWritable(int timeoutMicroseconds, int* timedOut)
{
    *timedOut = 0;
    m_bWaitFailed = false;
    if (m_socket == INVALID_SOCKET)
        return 0;

    // A refused non-blocking connect shows only in the exception set, never as writable:
    // watching the write set alone would turn every refusal into a silent time-out.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(m_socket, &writable);
    FD_SET(m_socket, &failed);
    timeval tv = MakeTimeout(timeoutMicroseconds);
    int result = select(0, NULL, &writable, &failed, &tv);
    if (result == 0) {
        *timedOut = 1;
        return 0;
    }
    if (result < 0) {
        m_bWaitFailed = true;
        CloseSocket();
        return 0;
    }
    if (FD_ISSET(m_socket, &failed)) {
        ReportStatusText(m_hOwner, TEXT_CONNECT_FAILED, 1);
        CloseSocket();
        return 0;
    }
    return 1;
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
    if (m_hNetEvent == NULL) {
        // Auto-reset, so that the wait itself takes the signal. Winsock signals bytes already
        // waiting as soon as the event is selected.
        m_hNetEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (m_hNetEvent != NULL && WSAEventSelect(m_socket, m_hNetEvent, FD_READ | FD_CLOSE) != 0) {
            CloseHandle(m_hNetEvent);
            m_hNetEvent = NULL;
        }
        if (m_hNetEvent == NULL)
            return WaitSocketReadable(timeoutMicroseconds);
    }
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
