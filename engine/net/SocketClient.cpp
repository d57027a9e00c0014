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
// How long an IPv6 connection may stay unanswered before the IPv4 address is tried beside it.
const DWORD FALLBACK_MS = 300;

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

// One connection under way to one address: a non-blocking socket and the event that Winsock sets
// on its FD_CONNECT. Closed unless handed over.
class CConnecting
{
public:
    CConnecting() : m_socket(INVALID_SOCKET), m_hEvent(NULL), m_bStarted(false), m_bConnectedAtOnce(false) {}
    ~CConnecting() { Close(); }
    CConnecting(const CConnecting&) = delete;
    CConnecting& operator=(const CConnecting&) = delete;

    // CONNECT_OK when the connection is on its way, or why not.
    int Start(const sockaddr* address, int len)
    {
        m_bStarted = true;
        m_socket = socket(address->sa_family, SOCK_STREAM, 0);
        if (m_socket == INVALID_SOCKET)
            return CONNECT_NO_SOCKET;
        // Selecting an event also makes the socket non-blocking, for its whole life: every
        // receive is preceded by a wait.
        m_hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (m_hEvent == NULL || WSAEventSelect(m_socket, m_hEvent, FD_CONNECT) != 0) {
            Close();
            return CONNECT_NO_SOCKET;
        }
        if (connect(m_socket, address, len) == 0) {
            m_bConnectedAtOnce = true;
            SetEvent(m_hEvent);
            return CONNECT_OK;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) {
            Close();
            return CONNECT_REFUSED;
        }
        return CONNECT_OK;
    }
    bool Started() const { return m_bStarted; }
    bool Live() const { return m_socket != INVALID_SOCKET; }
    HANDLE Event() const { return m_hEvent; }
    // Once its event is set: whether the connection stands.
    bool Connected()
    {
        if (m_bConnectedAtOnce)
            return true;
        WSANETWORKEVENTS happened;
        return WSAEnumNetworkEvents(m_socket, NULL, &happened) == 0 && (happened.lNetworkEvents & FD_CONNECT) != 0 &&
               happened.iErrorCode[FD_CONNECT_BIT] == 0;
    }
    void HandOver(SOCKET* socketOut, HANDLE* eventOut)
    {
        *socketOut = m_socket;
        *eventOut = m_hEvent;
        m_socket = INVALID_SOCKET;
        m_hEvent = NULL;
    }
    void Close()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        if (m_hEvent != NULL)
            CloseHandle(m_hEvent);
        m_socket = INVALID_SOCKET;
        m_hEvent = NULL;
    }

private:
    SOCKET m_socket;
    HANDLE m_hEvent;
    bool m_bStarted;
    bool m_bConnectedAtOnce;
};
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
    CHostAddresses addresses;
    switch (LookupHost(url.host, m_hWake, m_dwLookupLimit != 0 ? m_dwLookupLimit : limitMs, &addresses)) {
    case LOOKUP_FOUND:
        break;
    case LOOKUP_NOT_FOUND:
        return CONNECT_NOT_FOUND;
    case LOOKUP_TIMED_OUT:
    case LOOKUP_BUSY:
        return CONNECT_TIMED_OUT;
    default:
        return CONNECT_WOKEN;
    }
    // Judged here, on the very addresses about to be connected, so that a name that answers
    // differently from one lookup to the next gains nothing. A name that leads to private
    // addresses only fails as a name that does not resolve: a public page must not tell the two
    // apart, or it could map the names of the listener's network.
    if (m_bPublicOnly) {
        addresses.has6 = addresses.has6 && !IsPrivateAddress(addresses.v6.sin6_addr);
        addresses.has4 = addresses.has4 && !IsPrivateAddress(addresses.v4.sin_addr);
        CHostAddresses literal;
        if (!addresses.has6 && !addresses.has4)
            return ParseNumericHost(url.host, &literal) ? CONNECT_FORBIDDEN : CONNECT_NOT_FOUND;
    }
    if (m_dwLookupLimit != 0)
        start = GetTickCount();
    addresses.v6.sin6_port = htons(static_cast<u_short>(url.port));
    addresses.v4.sin_port = htons(static_cast<u_short>(url.port));
    int result = ConnectEither(addresses, start, limitMs);
    if (result != CONNECT_OK)
        return result;
    // From here the event tells of bytes to take and of the peer's end.
    WSAEventSelect(m_socket, m_hNetEvent, FD_READ | FD_CLOSE);
    return url.secure ? StartTls(url.host, handshakeLimitMs) : CONNECT_OK;
}

// As browsers do: the IPv6 address first; the IPv4 one as soon as that fails, or beside it once
// FALLBACK_MS have passed without an answer, so that a broken IPv6 route costs a listener no
// more than that. The first to connect is kept.
int CSocketClient::ConnectEither(const CHostAddresses& addresses, DWORD start, DWORD limitMs)
{
    CConnecting over6, over4;
    int failure = CONNECT_REFUSED;
    if (addresses.has6) {
        int started = over6.Start(reinterpret_cast<const sockaddr*>(&addresses.v6), sizeof(addresses.v6));
        if (started != CONNECT_OK)
            failure = started;
    }
    DWORD fallbackAt = GetTickCount() + FALLBACK_MS;
    bool fallbackDue = !over6.Live();
    for (;;) {
        if (fallbackDue && addresses.has4 && !over4.Started()) {
            int started = over4.Start(reinterpret_cast<const sockaddr*>(&addresses.v4), sizeof(addresses.v4));
            if (started != CONNECT_OK)
                failure = started;
        }
        CConnecting* live[2];
        int count = 0;
        if (over6.Live())
            live[count++] = &over6;
        if (over4.Live())
            live[count++] = &over4;
        bool fallbackWaits = addresses.has4 && !over4.Started();
        if (count == 0 && !fallbackWaits)
            return failure;

        DWORD now = GetTickCount();
        DWORD spent = now - start;
        DWORD wait = limitMs == INFINITE ? INFINITE : spent < limitMs ? limitMs - spent : 0;
        if (fallbackWaits) {
            DWORD untilFallback = static_cast<LONG>(fallbackAt - now) > 0 ? fallbackAt - now : 0;
            wait = untilFallback < wait ? untilFallback : wait;
        }
        HANDLE events[3];
        for (int i = 0; i < count; ++i)
            events[i] = live[i]->Event();
        int n = count;
        if (m_hWake != NULL)
            events[n++] = m_hWake;
        // The fallback waits only while the IPv6 attempt is under way: there is an event to wait on.
        DWORD waited = WaitForMultipleObjects(n, events, FALSE, wait);
        if (waited == WAIT_TIMEOUT) {
            if (!fallbackWaits)
                return CONNECT_TIMED_OUT;
            fallbackDue = true;
            continue;
        }
        // A wait that failed in itself gives up on the connection like the time running out.
        if (waited >= WAIT_OBJECT_0 + static_cast<DWORD>(n))
            return CONNECT_TIMED_OUT;
        if (waited == WAIT_OBJECT_0 + static_cast<DWORD>(count))
            return CONNECT_WOKEN;
        CConnecting* answered = live[waited - WAIT_OBJECT_0];
        if (answered->Connected()) {
            answered->HandOver(&m_socket, &m_hNetEvent);
            return CONNECT_OK;
        }
        answered->Close();
        failure = CONNECT_REFUSED;
        fallbackDue = true;
    }
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
